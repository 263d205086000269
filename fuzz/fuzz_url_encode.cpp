// UrlEncode: letters and digits kept, blanks as '+', the rest %XX; decoding
// the result gives the input back with blanks as spaces.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bridge/url_encode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  std::string out = zb::UrlEncode(in);
  std::string back;
  for (size_t i = 0; i < out.size(); ++i) {
    char c = out[i];
    if (c == '+') {
      back += ' ';
    } else if (c == '%') {
      if (i + 2 >= out.size()) __builtin_trap();
      back += static_cast<char>(std::stoi(out.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      back += c;
    }
  }
  std::string expect = in;
  for (auto& c : expect)
    if (c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r') c = ' ';
  if (back != expect) __builtin_trap();
  return 0;
}
