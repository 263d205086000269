// The system's proxy settings for plain HTTP, read from the environment the
// way libcurl reads them (http_proxy, then all_proxy/ALL_PROXY; no_proxy or
// NO_PROXY lists the hosts reached directly).
#pragma once

#include <string>

namespace zb::net {

// The proxy to use for an http:// request to `host` (a name or address,
// without port or brackets); "" for a direct connection.
std::string HttpProxyFor(const std::string& host);

}  // namespace zb::net
