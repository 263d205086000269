// A raw TCP server on 127.0.0.1 for the network tests: it records every byte
// each connection sends and answers as the test's handler says. Connections
// are served one after another on the server's own thread.
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zb::testing {

class RawServer;

// One accepted connection, as the handler sees it.
class RawConnection {
 public:
  RawConnection(RawServer& server, int fd) : m_server(server), m_fd(fd) {}

  // Reads what is available (waiting up to `timeoutMs`); false on end of
  // stream, error, time-out or server stop.
  bool ReadSome(int timeoutMs = 5000);
  // Reads until the received bytes hold a full head; false if it never came.
  bool ReadHead();
  // Reads the head and then the body its Content-Length announces.
  bool ReadRequest();
  // Reads until `total` bytes have been received in all.
  bool ReadUntil(size_t total);
  // Reads until the peer closes (or `timeoutMs` passes without a byte).
  void ReadUntilClose(int timeoutMs = 5000);
  void Send(const std::string& bytes);
  // Closes with a reset (RST) instead of an orderly close.
  void Reset();

  const std::string& Received() const { return m_data; }
  size_t HeadEnd() const;  // offset of the body, npos while incomplete
  long ContentLength() const;
  // True once a read found that the peer ended the connection with a reset.
  bool ResetByPeer() const { return m_reset; }
  // Bytes that have arrived but were not read yet.
  size_t Waiting() const;
  // When the peer is a socket of this process (the job under test): the
  // bytes written to it that it has not sent yet; -1 when it is not found.
  long PeerUnsent() const;

 private:
  friend class RawServer;
  RawServer& m_server;
  int m_fd;
  std::string m_data;
  bool m_reset = false;
};

class RawServer {
 public:
  using Handler = std::function<void(RawConnection&)>;

  explicit RawServer(Handler handler, int rcvbuf = 0) : m_handler(std::move(handler)) {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (rcvbuf > 0) ::setsockopt(m_listen, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(m_listen, 16);
    socklen_t len = sizeof a;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
    m_stop = ::eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread([this] { Serve(); });
  }
  // The same on a Unix socket at `socketPath` (the service's per-user form).
  struct UnixPath {
    std::string path;
  };
  RawServer(UnixPath where, Handler handler) : m_handler(std::move(handler)) {
    m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    where.path.copy(a.sun_path, sizeof a.sun_path - 1);
    ::unlink(where.path.c_str());
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(m_listen, 16);
    m_stop = ::eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread([this] { Serve(); });
  }
  ~RawServer() {
    uint64_t one = 1;
    (void)!::write(m_stop, &one, sizeof one);
    m_thread.join();
    ::close(m_listen);
    ::close(m_stop);
  }

  int Port() const { return m_port; }
  std::string Authority() const { return "127.0.0.1:" + std::to_string(m_port); }

  // Bytes received so far on the connection being served.
  size_t LiveBytes() const { return m_live.load(); }
  // Bytes received on each connection served to its end ("" while serving).
  std::vector<std::string> Received() {
    std::lock_guard<std::mutex> lock(m_mu);
    return m_received;
  }
  size_t Accepted() {
    std::lock_guard<std::mutex> lock(m_mu);
    return m_received.size();
  }
  // Waits until `n` connections have been served to their end.
  bool WaitDone(size_t n, int timeoutMs = 10000) {
    std::unique_lock<std::mutex> lock(m_mu);
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_done >= n; });
  }

 private:
  friend class RawConnection;

  void Serve() {
    for (;;) {
      pollfd p[2] = {{m_listen, POLLIN, 0}, {m_stop, POLLIN, 0}};
      if (::poll(p, 2, -1) < 0) continue;
      if (p[1].revents) return;
      int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      size_t index;
      {
        std::lock_guard<std::mutex> lock(m_mu);
        index = m_received.size();
        m_received.emplace_back();
      }
      m_live.store(0);
      RawConnection c(*this, fd);
      m_handler(c);
      if (c.m_fd >= 0) ::close(c.m_fd);
      std::lock_guard<std::mutex> lock(m_mu);
      m_received[index] = std::move(c.m_data);
      ++m_done;
      m_cv.notify_all();
    }
  }

  Handler m_handler;
  int m_listen = -1;
  int m_stop = -1;
  int m_port = 0;
  std::thread m_thread;
  std::mutex m_mu;
  std::condition_variable m_cv;
  std::vector<std::string> m_received;
  size_t m_done = 0;
  std::atomic<size_t> m_live{0};
};

inline bool RawConnection::ReadSome(int timeoutMs) {
  pollfd p[2] = {{m_fd, POLLIN, 0}, {m_server.m_stop, POLLIN, 0}};
  if (::poll(p, 2, timeoutMs) <= 0 || p[1].revents) return false;
  char buf[65536];
  ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
  if (n < 0 && errno == ECONNRESET) m_reset = true;
  if (n <= 0) return false;
  m_data.append(buf, static_cast<size_t>(n));
  m_server.m_live.fetch_add(static_cast<size_t>(n));
  return true;
}

inline size_t RawConnection::HeadEnd() const {
  size_t p = m_data.find("\r\n\r\n");
  return p == std::string::npos ? p : p + 4;
}

inline long RawConnection::ContentLength() const {
  size_t end = HeadEnd();
  std::string head = m_data.substr(0, end);
  for (char& c : head) c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
  size_t p = head.find("\r\ncontent-length:");
  return p == std::string::npos ? 0 : std::stol(head.substr(p + 17));
}

inline bool RawConnection::ReadHead() {
  while (HeadEnd() == std::string::npos)
    if (!ReadSome()) return false;
  return true;
}

inline bool RawConnection::ReadUntil(size_t total) {
  while (m_data.size() < total)
    if (!ReadSome()) return false;
  return true;
}

inline bool RawConnection::ReadRequest() {
  return ReadHead() && ReadUntil(HeadEnd() + static_cast<size_t>(ContentLength()));
}

inline void RawConnection::ReadUntilClose(int timeoutMs) {
  while (ReadSome(timeoutMs)) {
  }
}

inline size_t RawConnection::Waiting() const {
  int n = 0;
  return ::ioctl(m_fd, SIOCINQ, &n) == 0 && n > 0 ? static_cast<size_t>(n) : 0;
}

inline long RawConnection::PeerUnsent() const {
  sockaddr_in peer{}, self{};
  socklen_t len = sizeof peer;
  if (::getpeername(m_fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return -1;
  len = sizeof self;
  if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&self), &len) != 0) return -1;
  long unsent = -1;
  DIR* d = ::opendir("/proc/self/fd");
  if (!d) return -1;
  while (dirent* e = ::readdir(d)) {
    int fd = std::atoi(e->d_name);
    if (fd <= 2 || fd == m_fd || fd == ::dirfd(d)) continue;
    sockaddr_in a{}, b{};
    socklen_t la = sizeof a, lb = sizeof b;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &la) != 0 || a.sin_family != AF_INET ||
        a.sin_port != peer.sin_port || a.sin_addr.s_addr != peer.sin_addr.s_addr)
      continue;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&b), &lb) != 0 || b.sin_port != self.sin_port)
      continue;
    int n = 0;
    if (::ioctl(fd, SIOCOUTQNSD, &n) == 0) unsent = n;
    break;
  }
  ::closedir(d);
  return unsent;
}

inline void RawConnection::Send(const std::string& bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = ::send(m_fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return;
    off += static_cast<size_t>(n);
  }
}

inline void RawConnection::Reset() {
  linger l{1, 0};
  ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(m_fd);
  m_fd = -1;
}

// Polls `read` until it gives a value for which `done` holds, or the time is
// up; returns the last value read.
template <typename T, typename Read, typename Done>
T PollUntil(Read read, Done done, int timeoutMs = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  T v = read();
  while (!done(v) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    v = read();
  }
  return v;
}

}  // namespace zb::testing
