// Reads one field of the service's small JSON answers (tests only): a
// string (unescaped) or a number, "" when it is not there.
#pragma once

#include <string>

namespace zb::testing {

inline std::string JsonField(const std::string& json, const std::string& key) {
  size_t at = json.find("\"" + key + "\"");
  if (at == std::string::npos) return "";
  at = json.find(':', at);
  if (at == std::string::npos) return "";
  at = json.find_first_not_of(" ", at + 1);
  if (at == std::string::npos) return "";
  std::string out;
  if (json[at] != '"') {
    while (at < json.size() && json[at] != ',' && json[at] != '}' && json[at] != ' ')
      out += json[at++];
    return out;
  }
  for (++at; at < json.size() && json[at] != '"'; ++at) {
    if (json[at] != '\\') {
      out += json[at];
      continue;
    }
    char c = json[++at];
    if (c == 'n')
      out += '\n';
    else if (c == 't')
      out += '\t';
    else if (c == 'r')
      out += '\r';
    else if (c == 'u') {
      out += static_cast<char>(std::stoi(json.substr(at + 1, 4), nullptr, 16));
      at += 4;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace zb::testing
