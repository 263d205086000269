// The three percent-encodings: walking input and output side by side, every
// byte the encoding keeps is copied, white space becomes '+' where the
// encoding says so, and every other byte becomes its own "%XX"; nothing else
// is in the output.
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/percent_encode.h"

namespace {

void Check(const std::string& in, const zb::net::PercentEncoding& e) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = zb::net::PercentEncode(in, e);
  size_t o = 0;
  for (char ch : in) {
    auto c = static_cast<unsigned char>(ch);
    bool blank = c == ' ' || (c >= '\t' && c <= '\r');
    std::string want = e.keep[c] ? std::string(1, ch)
                       : (e.whiteSpaceAsPlus && blank)
                           ? std::string("+")
                           : std::string{'%', kHex[c >> 4], kHex[c & 15]};
    if (out.compare(o, want.size(), want) != 0) __builtin_trap();
    o += want.size();
  }
  if (o != out.size()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  Check(in, zb::net::kQueryValue);
  Check(in, zb::net::kUrl);
  Check(in, zb::net::kSessionId);
  return 0;
}
