// The real zimbrel-service on a Unix socket for a test (optionally run
// through a prefix such as "ip netns exec NS" or "setpriv ..."), and plain
// HTTP/1.1 over a Unix socket to talk to it.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "temp_dir.h"

namespace zb::testing {

// An HTTP answer: its status, head and body.
struct HttpAnswer {
  int status = 0;
  std::string head, body;
};

inline HttpAnswer ParseAnswer(const std::string& raw) {
  HttpAnswer a;
  size_t end = raw.find("\r\n\r\n");
  if (raw.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos) return a;
  a.status = std::atoi(raw.c_str() + 9);
  a.head = raw.substr(0, end);
  a.body = raw.substr(end + 4);
  return a;
}

// Connects to the Unix socket `path`; -1 when it cannot.
inline int ConnectUnix(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (path.size() >= sizeof a.sun_path) return -1;
  std::memcpy(a.sun_path, path.data(), path.size());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Everything the peer sends until it closes (at most `wait`).
inline std::string ReadToEnd(int fd, std::chrono::milliseconds wait = std::chrono::seconds(30)) {
  timeval tv{static_cast<time_t>(wait.count() / 1000),
             static_cast<suseconds_t>(wait.count() % 1000 * 1000)};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::string all;
  char buf[65536];
  for (;;) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    all.append(buf, static_cast<size_t>(n));
  }
  return all;
}

inline bool SendAll(int fd, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// A GET (or, with a body, a POST) over the Unix socket `path`.
inline HttpAnswer UnixRequest(const std::string& path, const std::string& target,
                              const std::string* body = nullptr) {
  int fd = ConnectUnix(path);
  if (fd < 0) return {};
  std::string req = std::string(body ? "POST " : "GET ") + target +
                    " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n";
  if (body)
    req += "Content-Type: audio/mpeg\r\nContent-Length: " + std::to_string(body->size()) + "\r\n";
  req += "\r\n";
  if (body) req += *body;
  SendAll(fd, req);
  HttpAnswer a = ParseAnswer(ReadToEnd(fd));
  ::close(fd);
  return a;
}

class SocketService {
 public:
  // Starts `prefix` + the service with --socket `socket`, `options` and
  // --data `data`; Ok() once it said where it listens.
  SocketService(const std::string& socket, const std::string& data,
                const std::vector<std::string>& options = {},
                const std::vector<std::string>& prefix = {},
                const std::vector<std::string>* env = nullptr)
      : m_socket(socket) {
    std::vector<std::string> argv = prefix;
    argv.insert(argv.end(), {ZIMBREL_SERVICE_BIN, "--socket", socket});
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {"--data", data});
    Start(argv, env);
  }
  // Starts argv as it is (for example under systemd-socket-activate).
  explicit SocketService(const std::vector<std::string>& argv, const std::string& socket)
      : m_socket(socket) {
    Start(argv, nullptr);
  }
  ~SocketService() { Stop(); }
  SocketService(const SocketService&) = delete;
  SocketService& operator=(const SocketService&) = delete;

  bool Ok() const { return !m_browser.empty(); }
  const std::string& Socket() const { return m_socket; }
  // "http://127.0.0.1:PORT/" as the service printed it.
  const std::string& BrowserUrl() const { return m_browser; }
  int BrowserPort() const {
    return m_browser.empty() ? 0 : std::atoi(m_browser.c_str() + m_browser.rfind(':') + 1);
  }
  pid_t Pid() const { return m_pid; }
  std::string Log() const {
    std::ifstream in(m_log, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Whether it has ended by itself; waits up to `wait`.
  bool Ended(std::chrono::milliseconds wait) {
    const auto end = std::chrono::steady_clock::now() + wait;
    while (m_pid > 0) {
      int status = 0;
      if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return true;
      }
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }
  int Stop() { return EndChild(m_pid, std::chrono::seconds(5)); }

  // A service on a fixed TCP port (the old mode), for example one run by
  // another user to take a port first; Ok() once it listens.
  class TcpSquatter {
   public:
    explicit TcpSquatter(const std::vector<std::string>& argv) {
      m_pid = SpawnLogged(argv, m_log);
      for (int i = 0; i < 1000 && m_pid > 0 && Log().find("listening on") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ~TcpSquatter() { EndChild(m_pid, std::chrono::seconds(5)); }
    bool Ok() const { return Log().find("listening on") != std::string::npos; }
    std::string Log() const {
      std::ifstream in(m_log, std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(in), {});
    }

   private:
    TempDir m_dir;
    std::string m_log = m_dir / "squat.log";
    pid_t m_pid = -1;
  };

  HttpAnswer Get(const std::string& target) { return UnixRequest(m_socket, target); }
  HttpAnswer Post(const std::string& target, const std::string& body) {
    return UnixRequest(m_socket, target, &body);
  }
  // A new session's id ("" when refused).
  std::string OpenSession(const std::string& phone = "07700900123") {
    HttpAnswer a = Get("/cgi-bin/zbl_session.cgi?name=Ann&network=Vodafone&phone=" + phone);
    return a.body.rfind("OK ", 0) == 0 ? a.body.substr(3) : "";
  }

 private:
  void Start(const std::vector<std::string>& argv, const std::vector<std::string>* env) {
    m_pid = SpawnLogged(argv, m_log, -1, env);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    const std::string key = "(browser: ";
    while (m_pid > 0 && std::chrono::steady_clock::now() < end) {
      std::string log = Log();
      size_t at = log.find(key);
      size_t close = at == std::string::npos ? at : log.find(')', at);
      if (close != std::string::npos) {
        m_browser = log.substr(at + key.size(), close - at - key.size());
        return;
      }
      int status = 0;
      if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  TempDir m_logDir;
  std::string m_log = m_logDir / "service.log";
  std::string m_socket;
  std::string m_browser;
  pid_t m_pid = -1;
};

}  // namespace zb::testing
