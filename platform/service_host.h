#pragma once

#include <string>

namespace zb {

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
