#pragma once

#include <string>

namespace zb {

// Fixed texts the service is told with the homepage redirect ("ver", "aff")
// and the upload; ZBL_GetVersion answers the version code. The pages get
// them from res/status.js, generated from these.
inline constexpr char kVersionCode[] = "260";
inline constexpr char kAffiliateCode[] = "2";

// Where the ringtone service is reached: a TCP address, or a Unix socket
// (the user's own service, which no other user can reach). Requests on the
// socket carry URLs of the form http://localhost/...
struct ServiceHost {
  std::string host;  // name or address, without port; "localhost" for a socket
  int port = 80;
  std::string socketPath;  // set: the service listens on this Unix socket

  bool OnSocket() const { return !socketPath.empty(); }
  // "host" when the port is 80, else "host:port": the Host header and URL form.
  std::string Authority() const;
  // "http://<authority>"
  std::string BaseUrl() const;
  // The service's own address as a browser reaches it ("http://<authority>/"),
  // or "" for a socket: a browser cannot use one, and the service names its
  // browser address only when asked (see core/redirect_url.h).
  std::string BrowserPrefix() const;
};

// The one place that decides the service's address: $ZIMBREL_SERVICE_HOST when
// set and valid, else the build setting. Either holds "host", "host:port",
// "unix:/absolute/path" or "user", the user's own service:
// $XDG_RUNTIME_DIR/zimbrel/service.sock, or /run/user/<uid>/zimbrel/service.sock
// (where systemd puts the user's runtime folder) when XDG_RUNTIME_DIR is unset
// or not an absolute path.
ServiceHost GetServiceHost();
// Parses the forms above ("[v6]:port" too); false when malformed.
bool ParseServiceHost(const std::string& text, ServiceHost* out);
// The socket of the user's own service (the "user" form).
std::string UserServiceSocket();

}  // namespace zb
