// The command-line tokenizer on any arguments: the input is cut at NUL bytes
// (which no argument can hold) into the argument list.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args;
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (size > 0) args.push_back(current);
  zb::CCommandLineParser p(args);
  std::string sw, value;
  p.Parse(sw, value);
  // The value is one argument whole (or empty), never a piece of one.
  bool whole = value.empty();
  for (size_t i = 1; i < args.size() && !whole; ++i) whole = args[i] == value;
  if (!whole) __builtin_trap();
  // The switch is an argument without its '-'.
  const std::string& arg = p.SwitchArgument();
  if (!arg.empty() && (arg[0] != '-' || arg.substr(1) != sw)) __builtin_trap();
  std::string sw2, value2;
  p.Parse(sw2, value2);  // a second parse reads the same items
  if (sw2 != sw || value2 != value) __builtin_trap();
  return 0;
}
