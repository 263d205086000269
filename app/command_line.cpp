#include "app/command_line.h"

namespace zb {

std::string RebuildCommandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (size_t i = 0; i < argv.size(); ++i) {
    if (i) line += ' ';
    const std::string& a = argv[i];
    if (a.empty() || a.find_first_of(" \t") != std::string::npos)
      line += '"' + a + '"';
    else
      line += a;
  }
  return line;
}

namespace {
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
}  // namespace

CCommandLineParser::CCommandLineParser(const std::string& commandLine) {
  size_t b = 0, e = commandLine.size();
  while (b < e && IsBlank(commandLine[b])) ++b;
  while (e > b && IsBlank(commandLine[e - 1])) --e;
  m_commandLine = commandLine.substr(b, e - b);
}

void CCommandLineParser::TakeToken() {
  // Skip the separators (the only delimiter is the space character).
  while (m_pos < m_copy.size() && m_copy[m_pos] == ' ') ++m_pos;
  if (m_pos >= m_copy.size() || m_copy[m_pos] == '\0') {
    m_hasToken = false;
    m_token.clear();
    return;
  }
  auto next = [&]() {
    size_t start = m_pos;
    while (m_pos < m_copy.size() && m_copy[m_pos] != ' ' && m_copy[m_pos] != '\0') ++m_pos;
    return std::string(&m_copy[start], m_pos - start);
  };
  std::string tok = next();
  m_hasToken = true;
  m_tokenQuoted = tok[0] == '"';
  if (!m_tokenQuoted) {
    m_token = tok;
    return;
  }
  std::string value = tok.substr(1);
  if (!value.empty() && value.back() == '"') {
    value.pop_back();
    m_token = value;
    return;
  }
  for (;;) {
    while (m_pos < m_copy.size() && m_copy[m_pos] == ' ') ++m_pos;
    if (m_pos >= m_copy.size() || m_copy[m_pos] == '\0') break;  // unclosed: rest of line
    std::string more = next();
    value += ' ';
    value += more;
    if (more.back() == '"') {
      value.pop_back();
      break;
    }
  }
  m_token = value;
}

bool CCommandLineParser::ReadItem(std::string& switchOut, std::string& valueOut) {
  switchOut.clear();
  valueOut.clear();
  if (!m_hasToken) return false;
  if (!m_tokenQuoted && !m_token.empty() && m_token[0] == '-') {
    switchOut = m_token.substr(1);
    TakeToken();
  }
  if (m_hasToken && (m_tokenQuoted || m_token.empty() || m_token[0] != '-')) {
    valueOut = m_token;
    TakeToken();
  }
  return true;
}

void CCommandLineParser::Parse(std::string& switchOut, std::string& valueOut) {
  switchOut.clear();
  valueOut.clear();
  m_copy.assign(m_commandLine.begin(), m_commandLine.end());
  m_copy.push_back('\0');
  m_pos = 0;
  TakeToken();
  if (!m_hasToken) return;
  ReadItem(switchOut, valueOut);  // the program path
  ReadItem(switchOut, valueOut);  // the argument
}

}  // namespace zb
