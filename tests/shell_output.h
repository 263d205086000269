// The standard output of a shell command line, for test set-up and checks.
#pragma once

#include <stdio.h>

#include <string>

namespace zb::testing {

inline std::string ShOut(const std::string& cmd) {
  std::string out;
  if (FILE* f = ::popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    ::pclose(f);
  }
  return out;
}

}  // namespace zb::testing
