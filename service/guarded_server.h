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
// - An optional check turns a connection away before a byte is read (for
//   example one from another user), and at most `maxPerClient` connections
//   from one address are served at once (0: no such limit).
// - A handler may refuse a request without reading its body
//   (CloseAfterResponse): the connection then ends after the answer, and the
//   body that is still coming is read and dropped for a short while first so
//   that the client sees the answer rather than a reset.
// Stop() also ends the connections being served.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace zb::service {

struct ServerLimits {
  int maxConnections = 64;
  std::chrono::milliseconds headerTimeout{10000};
  std::chrono::milliseconds readTimeout{10000};
  std::chrono::milliseconds writeTimeout{10000};
  std::chrono::milliseconds keepAliveTimeout{5000};
  int keepAliveMaxCount = 5;
  int maxPerClient = 0;
};

class GuardedServer : public httplib::Server {
 public:
  explicit GuardedServer(const ServerLimits& limits);
  ~GuardedServer() override;

  // Stops listening and ends every connection being served.
  void Stop();
  // Connections being served now.
  int ActiveConnections() const { return m_active; }

  // Serves the listening socket `fd` (bound and listening already, for
  // example one handed over by systemd) with listen_after_bind().
  void Adopt(int fd) { svr_sock_ = fd; }
  // Connections for which `admit` is false are closed at once, unanswered.
  void SetAdmission(std::function<bool(int fd)> admit) { m_admit = std::move(admit); }
  // Runs once a request's head has been read; false when it has answered the
  // request itself in `res` (no route runs then).
  void SetGate(std::function<bool(const httplib::Request&, httplib::Response&)> gate) {
    m_gate = std::move(gate);
  }
  // Called when a request's head has been read (the service's idle clock).
  void SetActivity(std::function<void()> activity) { m_activity = std::move(activity); }
  // From a handler: the connection ends once this answer is written.
  static void CloseAfterResponse();

 private:
  bool process_and_close_socket(socket_t sock) override;

  ServerLimits m_limits;
  std::function<bool(int)> m_admit;
  std::function<void()> m_activity;
  std::function<bool(const httplib::Request&, httplib::Response&)> m_gate;
  std::map<std::string, int> m_perClient;
  std::atomic<int> m_active{0};
  std::mutex m_mutex;
  std::set<socket_t> m_sockets;
  bool m_stopping = false;
};

}  // namespace zb::service
