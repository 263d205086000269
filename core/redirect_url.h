#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zb {

// <the service's browser address>redir.php?ver=<version code>&aff=<affiliate code>&where=<where>,
// each value encoded as a query value (letters and digits kept, white space
// as '+', the rest %XX). For a TCP service the address is http://<service
// host>/; for one on a Unix socket the service is asked for it (a browser
// cannot use the socket), which takes at most a few seconds on the calling
// thread: nullopt when it does not answer in time or answers wrongly.
std::optional<std::string> BuildRedirectUrl(std::string_view where);

}  // namespace zb
