#pragma once

#include <string>
#include <string_view>

namespace zb {

// Byte by byte: ASCII letters and digits are copied, white space (space, tab,
// LF, VT, FF, CR) becomes '+', every other byte "%XX" in upper case.
std::string UrlEncode(std::string_view text);

// http://<service host>/redir.php?ver=260&aff=2&where=<UrlEncode(where)>
std::string BuildRedirectUrl(std::string_view where);

}  // namespace zb
