// Decoding of HTTP answer bodies to this system's narrow text (UTF-8).
#pragma once

#include <string>
#include <string_view>

namespace zb::net {

// The charset parameter of a Content-Type value ("" when there is none),
// without quotes.
std::string CharsetOf(std::string_view contentType);

// Decodes `body` to UTF-8: a byte-order mark decides first (and is dropped),
// then `charset`; no charset, or one that is not known here, reads as UTF-8.
// Bytes that are invalid in the encoding become U+FFFD.
std::string DecodeToUtf8(std::string_view body, const std::string& charset);

}  // namespace zb::net
