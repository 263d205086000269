#include "app/command_line.h"

#include <utility>

namespace zb {

CCommandLineParser::CCommandLineParser(std::vector<std::string> arguments)
    : m_arguments(std::move(arguments)) {}

void CCommandLineParser::TakeToken() {
  m_hasToken = m_next < m_arguments.size();
  m_token = m_hasToken ? m_arguments[m_next++] : std::string();
}

bool CCommandLineParser::ReadItem(std::string& switchOut, std::string& valueOut) {
  switchOut.clear();
  valueOut.clear();
  m_switchArgument.clear();
  if (!m_hasToken) return false;
  if (!m_token.empty() && m_token[0] == '-') {
    m_switchArgument = m_token;
    switchOut = m_token.substr(1);
    TakeToken();
  }
  if (m_hasToken && (m_token.empty() || m_token[0] != '-')) {
    valueOut = m_token;
    TakeToken();
  }
  return true;
}

void CCommandLineParser::Parse(std::string& switchOut, std::string& valueOut) {
  switchOut.clear();
  valueOut.clear();
  m_switchArgument.clear();
  m_next = 0;
  TakeToken();
  if (!m_hasToken) return;
  ReadItem(switchOut, valueOut);  // the program path
  ReadItem(switchOut, valueOut);  // the argument
}

std::string IgnoredSwitchNotice(const std::string& switchArgument, bool fileExists) {
  std::string text = "ignoring the switch \"" + switchArgument + "\"";
  if (fileExists)
    text += " (to open the file of that name, give it as \"./" + switchArgument + "\")";
  return text;
}

}  // namespace zb
