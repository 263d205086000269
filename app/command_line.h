// The program's command line: rebuilt from argv as the original platform's
// shell would have passed it, then cut into tokens by CCommandLineParser.
#pragma once

#include <string>
#include <vector>

namespace zb {

// Joins the arguments with one space, wrapping each one that is empty or
// holds a space or tab in double quotes.
std::string RebuildCommandLine(const std::vector<std::string>& argv);

// Tokens are separated by spaces. A token that begins with '"' starts a
// quoted value that runs through the following tokens up to the first one
// that ends with '"' (each separator put back as one space, the quotes
// removed; an unclosed quote takes the rest of the line). Only '-' starts a
// switch here: '/' starts every absolute path.
class CCommandLineParser {
 public:
  explicit CCommandLineParser(const std::string& commandLine);

  // Reads the program path and then the argument; only the second item
  // survives. A trailing switch gives an empty value.
  void Parse(std::string& switchOut, std::string& valueOut);

 private:
  bool ReadItem(std::string& switchOut, std::string& valueOut);
  void TakeToken();

  std::string m_commandLine;
  std::vector<char> m_copy;
  size_t m_pos = 0;  // where the next token starts in m_copy
  bool m_hasToken = false;
  bool m_tokenQuoted = false;
  std::string m_token;
};

}  // namespace zb
