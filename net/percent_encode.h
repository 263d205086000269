// The one percent-encoder: every byte that an encoding does not keep becomes
// "%XX" (upper-case hex), or '+' for white space where the encoding says so.
// Three encodings, each fixed by the bytes it keeps.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace zb::net {

struct PercentEncoding {
  std::array<bool, 256> keep{};
  bool whiteSpaceAsPlus = false;  // space, tab, LF, VT, FF and CR become '+'
};

// A query value of the homepage redirect: ASCII letters and digits kept,
// white space as '+', every other byte encoded.
extern const PercentEncoding kQueryValue;
// A whole URL of a scripted request: printable ASCII kept; controls, space,
// DEL and every non-ASCII byte encoded, as a browser sends them.
extern const PercentEncoding kUrl;
// The upload's session id: kept as given but for the bytes that would break
// the request line or cut the URL short (controls, space, DEL, '#');
// non-ASCII bytes stay as they are.
extern const PercentEncoding kSessionId;

std::string PercentEncode(std::string_view text, const PercentEncoding& encoding);

}  // namespace zb::net
