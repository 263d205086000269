#include "service/guarded_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <list>
#include <string>
#include <thread>

namespace zb::service {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// One thread per connection, joined once it has ended (or at shutdown).
class ConnectionThreads : public httplib::TaskQueue {
 public:
  ~ConnectionThreads() override { shutdown(); }
  void enqueue(std::function<void()> fn) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    Reap();
    auto done = std::make_shared<std::atomic<bool>>(false);
    m_threads.push_back({std::thread([fn = std::move(fn), done] {
                           fn();
                           *done = true;
                         }),
                         done});
  }
  void shutdown() override {
    std::list<Entry> all;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      all.swap(m_threads);
    }
    for (Entry& e : all) e.thread.join();
  }

 private:
  struct Entry {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  void Reap() {
    for (auto it = m_threads.begin(); it != m_threads.end();) {
      if (*it->done) {
        it->thread.join();
        it = m_threads.erase(it);
      } else {
        ++it;
      }
    }
  }
  std::mutex m_mutex;
  std::list<Entry> m_threads;
};

// Waits until `fd` is ready for `events`, at most `wait`.
bool WaitFor(int fd, short events, milliseconds wait) {
  const auto end = Clock::now() + wait;
  for (;;) {
    auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1 << 30)));
    if (r > 0) return true;
    if (r == 0 || errno != EINTR) return false;
  }
}

void Address(int fd, bool peer, std::string& ip, int& port) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  int r = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len)
               : ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  if (r != 0) return;
  char text[INET6_ADDRSTRLEN] = {0};
  if (a.ss_family == AF_INET) {
    auto* in = reinterpret_cast<sockaddr_in*>(&a);
    ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    port = ntohs(in->sin_port);
  } else if (a.ss_family == AF_INET6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&a);
    ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    port = ntohs(in6->sin6_port);
  }
  ip = text;
}

// A connection's stream with the server's deadlines: while a request's head
// is read, no read may wait past the head's deadline.
class DeadlineStream : public httplib::Stream {
 public:
  DeadlineStream(int fd, const ServerLimits& limits) : m_fd(fd), m_limits(limits) {}

  bool closeAfter = false;

  void BeginHead() {
    m_headDeadline = Clock::now() + m_limits.headerTimeout;
    m_inHead = true;
  }
  void EndHead() { m_inHead = false; }
  bool HasBuffered() const { return m_pos < m_len; }

  bool is_readable() const override { return HasBuffered() || WaitFor(m_fd, POLLIN, ReadWait()); }
  bool is_writable() const override { return WaitFor(m_fd, POLLOUT, m_limits.writeTimeout); }

  ssize_t read(char* ptr, size_t size) override {
    if (!HasBuffered()) {
      if (!WaitFor(m_fd, POLLIN, ReadWait())) return -1;
      // Small reads (the head, line by line) go through a buffer.
      if (size >= sizeof m_buf) return Receive(ptr, size);
      ssize_t n = Receive(m_buf, sizeof m_buf);
      if (n <= 0) return n;
      m_pos = 0;
      m_len = static_cast<size_t>(n);
    }
    size_t n = std::min(size, m_len - m_pos);
    std::memcpy(ptr, m_buf + m_pos, n);
    m_pos += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    for (;;) {
      ssize_t n = ::send(m_fd, ptr, size, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      return n;
    }
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    Address(m_fd, true, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    Address(m_fd, false, ip, port);
  }
  socket_t socket() const override { return m_fd; }

 private:
  milliseconds ReadWait() const {
    if (!m_inHead) return m_limits.readTimeout;
    auto left = std::chrono::duration_cast<milliseconds>(m_headDeadline - Clock::now());
    return std::max(milliseconds(0), std::min(left, m_limits.readTimeout));
  }
  ssize_t Receive(char* ptr, size_t size) {
    for (;;) {
      ssize_t n = ::recv(m_fd, ptr, size, 0);
      if (n < 0 && errno == EINTR) continue;
      return n;
    }
  }

  int m_fd;
  const ServerLimits& m_limits;
  Clock::time_point m_headDeadline{};
  bool m_inHead = false;
  char m_buf[4096];
  size_t m_pos = 0, m_len = 0;
};

// The stream of the request this thread serves (for the pre-routing hook,
// which runs once a request's head has been read).
thread_local DeadlineStream* tCurrent = nullptr;

// Ends a connection whose client may still be sending: no more is written,
// and what still comes is dropped for up to two seconds (or 64 MiB), so the
// answer is not lost to a reset.
void LingeringClose(int fd) {
  ::shutdown(fd, SHUT_WR);
  const auto end = Clock::now() + std::chrono::seconds(2);
  size_t dropped = 0;
  char buf[16384];
  while (dropped < (size_t{64} << 20)) {
    auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now());
    if (left.count() <= 0 || !WaitFor(fd, POLLIN, left)) break;
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0 && !(n < 0 && errno == EINTR)) break;
    if (n > 0) dropped += static_cast<size_t>(n);
  }
}

std::string PeerAddress(int fd) {
  std::string ip;
  int port = 0;
  Address(fd, true, ip, port);
  return ip;
}

}  // namespace

GuardedServer::GuardedServer(const ServerLimits& limits) : m_limits(limits) {
  new_task_queue = [] { return new ConnectionThreads; };
  set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (tCurrent) tCurrent->EndHead();
    if (m_activity) m_activity();
    if (m_gate && !m_gate(req, res)) return HandlerResponse::Handled;
    return HandlerResponse::Unhandled;
  });
}

void GuardedServer::CloseAfterResponse() {
  if (tCurrent) tCurrent->closeAfter = true;
}

GuardedServer::~GuardedServer() = default;

void GuardedServer::Stop() {
  stop();
  std::lock_guard<std::mutex> lock(m_mutex);
  m_stopping = true;
  for (socket_t s : m_sockets) ::shutdown(s, SHUT_RDWR);
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
  if (m_admit && !m_admit(sock)) {
    ::close(sock);
    return false;
  }
  const std::string client = m_limits.maxPerClient > 0 ? PeerAddress(sock) : std::string();
  bool admitted = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_stopping && m_active < m_limits.maxConnections &&
        (m_limits.maxPerClient <= 0 || m_perClient[client] < m_limits.maxPerClient)) {
      ++m_active;
      if (m_limits.maxPerClient > 0) ++m_perClient[client];
      m_sockets.insert(sock);
      admitted = true;
    }
  }
  if (!admitted) {
    static const std::string kBody = "The service is busy: try again.\r\n";
    static const std::string kBusy =
        "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\nContent-Length: " +
        std::to_string(kBody.size()) + "\r\nRetry-After: 1\r\nConnection: close\r\n\r\n" + kBody;
    ::send(sock, kBusy.data(), kBusy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return false;
  }
  DeadlineStream stream(sock, m_limits);
  tCurrent = &stream;
  bool ok = false;
  for (int n = 0; n < m_limits.keepAliveMaxCount; ++n) {
    // A kept-alive connection waits for its next request, but not forever.
    if (n > 0 && !stream.HasBuffered() && !WaitFor(sock, POLLIN, m_limits.keepAliveTimeout)) break;
    stream.BeginHead();
    bool closed = false;
    ok = process_request(stream, n + 1 == m_limits.keepAliveMaxCount, closed, nullptr);
    if (stream.closeAfter) {
      LingeringClose(sock);
      break;
    }
    if (!ok || closed) break;
  }
  tCurrent = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sockets.erase(sock);
    --m_active;
    if (m_limits.maxPerClient > 0 && --m_perClient[client] <= 0) m_perClient.erase(client);
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ok;
}

}  // namespace zb::service
