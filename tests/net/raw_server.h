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
  RawConnection(RawServer& server, int fd) : server_(server), fd_(fd) {}

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

  const std::string& received() const { return data_; }
  size_t headEnd() const;  // offset of the body, npos while incomplete
  long contentLength() const;
  // True once a read found that the peer ended the connection with a reset.
  bool resetByPeer() const { return reset_; }
  // Bytes that have arrived but were not read yet.
  size_t Waiting() const;
  // When the peer is a socket of this process (the job under test): the
  // bytes written to it that it has not sent yet; -1 when it is not found.
  long PeerUnsent() const;

 private:
  friend class RawServer;
  RawServer& server_;
  int fd_;
  std::string data_;
  bool reset_ = false;
};

class RawServer {
 public:
  using Handler = std::function<void(RawConnection&)>;

  explicit RawServer(Handler handler, int rcvbuf = 0) : handler_(std::move(handler)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (rcvbuf > 0) ::setsockopt(listen_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 16);
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Serve(); });
  }
  // The same on a Unix socket at `socketPath` (the service's per-user form).
  struct UnixPath {
    std::string path;
  };
  RawServer(UnixPath where, Handler handler) : handler_(std::move(handler)) {
    listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    where.path.copy(a.sun_path, sizeof a.sun_path - 1);
    ::unlink(where.path.c_str());
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 16);
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Serve(); });
  }
  ~RawServer() {
    uint64_t one = 1;
    (void)!::write(stop_, &one, sizeof one);
    thread_.join();
    ::close(listen_);
    ::close(stop_);
  }

  int port() const { return port_; }
  std::string authority() const { return "127.0.0.1:" + std::to_string(port_); }

  // Bytes received so far on the connection being served.
  size_t LiveBytes() const { return live_.load(); }
  // Bytes received on each connection served to its end ("" while serving).
  std::vector<std::string> Received() {
    std::lock_guard<std::mutex> lock(mu_);
    return received_;
  }
  size_t Accepted() {
    std::lock_guard<std::mutex> lock(mu_);
    return received_.size();
  }
  // Waits until `n` connections have been served to their end.
  bool WaitDone(size_t n, int timeoutMs = 10000) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return done_ >= n; });
  }

 private:
  friend class RawConnection;

  void Serve() {
    for (;;) {
      pollfd p[2] = {{listen_, POLLIN, 0}, {stop_, POLLIN, 0}};
      if (::poll(p, 2, -1) < 0) continue;
      if (p[1].revents) return;
      int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      size_t index;
      {
        std::lock_guard<std::mutex> lock(mu_);
        index = received_.size();
        received_.emplace_back();
      }
      live_.store(0);
      RawConnection c(*this, fd);
      handler_(c);
      if (c.fd_ >= 0) ::close(c.fd_);
      std::lock_guard<std::mutex> lock(mu_);
      received_[index] = std::move(c.data_);
      ++done_;
      cv_.notify_all();
    }
  }

  Handler handler_;
  int listen_ = -1;
  int stop_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::string> received_;
  size_t done_ = 0;
  std::atomic<size_t> live_{0};
};

inline bool RawConnection::ReadSome(int timeoutMs) {
  pollfd p[2] = {{fd_, POLLIN, 0}, {server_.stop_, POLLIN, 0}};
  if (::poll(p, 2, timeoutMs) <= 0 || p[1].revents) return false;
  char buf[65536];
  ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
  if (n < 0 && errno == ECONNRESET) reset_ = true;
  if (n <= 0) return false;
  data_.append(buf, static_cast<size_t>(n));
  server_.live_.fetch_add(static_cast<size_t>(n));
  return true;
}

inline size_t RawConnection::headEnd() const {
  size_t p = data_.find("\r\n\r\n");
  return p == std::string::npos ? p : p + 4;
}

inline long RawConnection::contentLength() const {
  size_t end = headEnd();
  std::string head = data_.substr(0, end);
  for (char& c : head) c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
  size_t p = head.find("\r\ncontent-length:");
  return p == std::string::npos ? 0 : std::stol(head.substr(p + 17));
}

inline bool RawConnection::ReadHead() {
  while (headEnd() == std::string::npos)
    if (!ReadSome()) return false;
  return true;
}

inline bool RawConnection::ReadUntil(size_t total) {
  while (data_.size() < total)
    if (!ReadSome()) return false;
  return true;
}

inline bool RawConnection::ReadRequest() {
  return ReadHead() && ReadUntil(headEnd() + static_cast<size_t>(contentLength()));
}

inline void RawConnection::ReadUntilClose(int timeoutMs) {
  while (ReadSome(timeoutMs)) {
  }
}

inline size_t RawConnection::Waiting() const {
  int n = 0;
  return ::ioctl(fd_, SIOCINQ, &n) == 0 && n > 0 ? static_cast<size_t>(n) : 0;
}

inline long RawConnection::PeerUnsent() const {
  sockaddr_in peer{}, self{};
  socklen_t len = sizeof peer;
  if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return -1;
  len = sizeof self;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&self), &len) != 0) return -1;
  long unsent = -1;
  DIR* d = ::opendir("/proc/self/fd");
  if (!d) return -1;
  while (dirent* e = ::readdir(d)) {
    int fd = std::atoi(e->d_name);
    if (fd <= 2 || fd == fd_ || fd == ::dirfd(d)) continue;
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
    ssize_t n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return;
    off += static_cast<size_t>(n);
  }
}

inline void RawConnection::Reset() {
  linger l{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(fd_);
  fd_ = -1;
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
