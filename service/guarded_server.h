// The demo service's HTTP server: cpp-httplib's server with the limits a
// server on a shared machine needs, so that a few slow or silent clients
// cannot stop it serving everyone else.
//
// - Each connection has a thread of its own (no pool a dozen slow clients
//   could fill), and at most `maxConnections` are served at once: one more is
//   answered "503 Service Unavailable" and closed.
// - A request's head (request line and headers) must arrive whole within
//   `headerTimeout` of its first wait, however it trickles in.
// - Any read (head or body) that waits longer than `readTimeout`, and any
//   write that waits longer than `writeTimeout`, ends the connection; an idle
//   kept-alive connection ends after `keepAliveTimeout`.
// Stop() also ends the connections being served.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>

namespace zb::service {

struct ServerLimits {
  int maxConnections = 64;
  std::chrono::milliseconds headerTimeout{10000};
  std::chrono::milliseconds readTimeout{10000};
  std::chrono::milliseconds writeTimeout{10000};
  std::chrono::milliseconds keepAliveTimeout{5000};
  int keepAliveMaxCount = 5;
};

class GuardedServer : public httplib::Server {
 public:
  explicit GuardedServer(const ServerLimits& limits);
  ~GuardedServer() override;

  // Stops listening and ends every connection being served.
  void Stop();
  // Connections being served now.
  int activeConnections() const { return m_active; }

 private:
  bool process_and_close_socket(socket_t sock) override;

  ServerLimits m_limits;
  std::atomic<int> m_active{0};
  std::mutex m_mutex;
  std::set<socket_t> m_sockets;
  bool m_stopping = false;
};

}  // namespace zb::service
