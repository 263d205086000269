#pragma once

#include <string>

namespace zb {

// Fixed texts the service is told with the homepage redirect ("ver", "aff")
// and the upload; ZBL_GetVersion answers the version code. The pages get
// them from res/status.js, generated from these.
inline constexpr char kVersionCode[] = "260";
inline constexpr char kAffiliateCode[] = "2";

struct ServiceHost {
  std::string host;  // name or address, without port
  int port = 80;
  // "host" when the port is 80, else "host:port": the Host header and URL form.
  std::string authority() const;
  // "http://<authority>"
  std::string baseUrl() const;
};

// The one place that decides the service's address: $ZIMBREL_SERVICE_HOST when
// set and valid, else the build setting. Either holds "host" or "host:port".
ServiceHost GetServiceHost();
// Parses "host" or "host:port" ("[v6]:port" too); false when malformed.
bool ParseServiceHost(const std::string& text, ServiceHost* out);

}  // namespace zb
