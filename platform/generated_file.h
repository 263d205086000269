// The one way the build's generators of page scripts (jobs/status_js.cpp,
// bridge/members_js.cpp) open and write what they make: run as
// `<generator> <output file>`, the text goes to the output under a temporary
// name that is then renamed over it, so that a page never loads half of it.
#pragma once

#include <cstdio>
#include <string>

namespace zb {

// What a generated page script opens with, after its comment: it adds to the
// one global ZB that the pages' scripts share.
constexpr const char* kPageScriptOpening =
    "/* exported ZB */\n"
    "\"use strict\";\n"
    "\n"
    "var ZB = window.ZB || {};\n"
    "\n";

// Writes `text` to the file named by the one argument of the generator
// `name`; its exit code (2 for a wrong call, 1 when the file could not be
// written).
inline int WriteGeneratedFile(int argc, char** argv, const char* name, const std::string& text) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output file>\n", name);
    return 2;
  }
  std::string path = argv[1], tmp = path + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return 1;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return 1;
  }
  return 0;
}

}  // namespace zb
