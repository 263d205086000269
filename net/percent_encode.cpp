#include "net/percent_encode.h"

namespace zb::net {
namespace {

template <typename Keep>
constexpr PercentEncoding Make(Keep keep, bool whiteSpaceAsPlus) {
  PercentEncoding e;
  for (int b = 0; b < 256; ++b) e.keep[b] = keep(static_cast<unsigned char>(b));
  e.whiteSpaceAsPlus = whiteSpaceAsPlus;
  return e;
}

constexpr bool IsWhiteSpace(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

const PercentEncoding kQueryValue = Make(
    [](unsigned char c) {
      return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    },
    true);
const PercentEncoding kUrl = Make([](unsigned char c) { return c > 0x20 && c < 0x7F; }, false);
const PercentEncoding kSessionId =
    Make([](unsigned char c) { return c > 0x20 && c != 0x7F && c != '#'; }, false);

std::string PercentEncode(std::string_view text, const PercentEncoding& encoding) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (encoding.keep[c]) {
      out += ch;
    } else if (encoding.whiteSpaceAsPlus && IsWhiteSpace(c)) {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace zb::net
