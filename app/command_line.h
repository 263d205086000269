// The program's command line: its arguments as the system hands them over,
// one token each, cut into items by CCommandLineParser.
#pragma once

#include <string>
#include <vector>

namespace zb {

// Each argument is one token, taken whole: it is never split at spaces,
// never searched for quotes and never trimmed, since a file name here may
// hold spaces, tabs, quotes and any other byte but '/' and NUL. A token that
// begins with '-' is a switch (only '-' starts one here: '/' starts every
// absolute path); any other token is a value.
class CCommandLineParser {
 public:
  // `arguments` as main() receives them, the program path first.
  explicit CCommandLineParser(std::vector<std::string> arguments);

  // Reads the program path and then the argument; only the second item
  // survives. An item is a switch, a value, or a switch followed by a value;
  // a trailing switch gives an empty value.
  void Parse(std::string& switchOut, std::string& valueOut);

  // The switch argument (with its '-') that the last Parse read in the
  // surviving item; empty when it read none.
  const std::string& SwitchArgument() const { return m_switchArgument; }

 private:
  bool ReadItem(std::string& switchOut, std::string& valueOut);
  void TakeToken();

  std::vector<std::string> m_arguments;
  size_t m_next = 0;  // the argument after the current token
  bool m_hasToken = false;
  std::string m_token;
  std::string m_switchArgument;
};

// What start-up tells standard error (Notice) for a dropped switch: it names
// the switch and, when a file of that name exists, how to give it.
std::string IgnoredSwitchNotice(const std::string& switchArgument, bool fileExists);

}  // namespace zb
