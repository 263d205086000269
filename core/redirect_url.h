#pragma once

#include <string>
#include <string_view>

namespace zb {

// http://<service host>/redir.php?ver=<version code>&aff=<affiliate code>&where=<where>,
// each value encoded as a query value (letters and digits kept, white space
// as '+', the rest %XX).
std::string BuildRedirectUrl(std::string_view where);

}  // namespace zb
