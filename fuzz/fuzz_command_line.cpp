// The command-line tokenizer on any text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  zb::CCommandLineParser p(line);
  std::string sw, value;
  p.Parse(sw, value);
  p.Parse(sw, value);  // a second parse starts from a fresh copy
  if (value.size() > line.size() || sw.size() > line.size()) __builtin_trap();
  return 0;
}
