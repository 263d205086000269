#include "service/service_sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zb::service {
namespace {

namespace fs = std::filesystem;

bool FillUnixAddress(const std::string& path, sockaddr_un* a) {
  std::memset(a, 0, sizeof *a);
  a->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof a->sun_path) return false;
  std::memcpy(a->sun_path, path.data(), path.size());
  return true;
}

// Whether something accepts connections on the Unix socket `path`.
bool Answers(const std::string& path) {
  sockaddr_un a;
  if (!FillUnixAddress(path, &a)) return false;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

// The bytes of an address as /proc/net/tcp writes them: each 32-bit word in
// hexadecimal, in the machine's byte order.
bool ParseProcAddress(const std::string& hex, unsigned char* out, size_t bytes) {
  if (hex.size() != bytes * 2) return false;
  for (size_t w = 0; w < bytes / 4; ++w) {
    uint32_t v = static_cast<uint32_t>(std::strtoul(hex.substr(w * 8, 8).c_str(), nullptr, 16));
    std::memcpy(out + w * 4, &v, 4);
  }
  return true;
}

struct Endpoint {
  unsigned char addr[16];
  size_t len = 0;
  int port = 0;
};

bool ToEndpoint(const sockaddr_storage& s, Endpoint* e) {
  if (s.ss_family == AF_INET) {
    auto* in = reinterpret_cast<const sockaddr_in*>(&s);
    std::memcpy(e->addr, &in->sin_addr, 4);
    e->len = 4;
    e->port = ntohs(in->sin_port);
    return true;
  }
  if (s.ss_family == AF_INET6) {
    auto* in6 = reinterpret_cast<const sockaddr_in6*>(&s);
    std::memcpy(e->addr, &in6->sin6_addr, 16);
    e->len = 16;
    e->port = ntohs(in6->sin6_port);
    return true;
  }
  return false;
}

bool Matches(const std::string& field, const Endpoint& e) {
  size_t colon = field.find(':');
  if (colon == std::string::npos) return false;
  unsigned char addr[16];
  if (!ParseProcAddress(field.substr(0, colon), addr, e.len)) return false;
  int port = static_cast<int>(std::strtol(field.c_str() + colon + 1, nullptr, 16));
  return port == e.port && std::memcmp(addr, e.addr, e.len) == 0;
}

}  // namespace

int SocketFromSystemd() {
  const char* pid = std::getenv("LISTEN_PID");
  const char* fds = std::getenv("LISTEN_FDS");
  int fd = -1;
  if (pid && fds && std::strtol(pid, nullptr, 10) == ::getpid() && std::atoi(fds) >= 1) {
    fd = 3;
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  ::unsetenv("LISTEN_PID");
  ::unsetenv("LISTEN_FDS");
  ::unsetenv("LISTEN_FDNAMES");
  return fd;
}

std::string DefaultSocketPath() {
  const char* run = std::getenv("XDG_RUNTIME_DIR");
  if (!run || !*run) return "";
  return std::string(run) + "/zimbrel/service.sock";
}

int ListenOnUnixSocket(const std::string& path, std::string* error) {
  sockaddr_un a;
  if (!FillUnixAddress(path, &a)) {
    *error = "the socket path is empty or too long";
    return -1;
  }
  std::error_code ec;
  fs::path dir = fs::path(path).parent_path();
  if (!dir.empty() && !fs::exists(dir, ec)) {
    fs::create_directories(dir, ec);
    ::chmod(dir.c_str(), 0700);
  }
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid()) {
      *error = path + " is there and is not a socket of ours";
      return -1;
    }
    if (Answers(path)) {
      *error = "another service answers on " + path;
      return -1;
    }
    ::unlink(path.c_str());  // left by a run that ended without removing it
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::strerror(errno);
    return -1;
  }
  // The socket is made with no rights for anyone else from the start.
  mode_t old = ::umask(0177);
  bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::umask(old);
  if (!bound || ::listen(fd, 128) != 0) {
    *error = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

bool UnixPeerIs(int fd, uid_t uid) {
  ucred cred{};
  socklen_t len = sizeof cred;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && len == sizeof cred &&
         cred.uid == uid;
}

bool IsUnixSocket(int fd) {
  sockaddr_storage s{};
  socklen_t len = sizeof s;
  return ::getsockname(fd, reinterpret_cast<sockaddr*>(&s), &len) == 0 && s.ss_family == AF_UNIX;
}

bool TcpPeerIs(int fd, uid_t uid) {
  sockaddr_storage mine{}, peer{};
  socklen_t a = sizeof mine, b = sizeof peer;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&mine), &a) != 0 ||
      ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &b) != 0)
    return false;
  Endpoint us, them;
  if (!ToEndpoint(mine, &us) || !ToEndpoint(peer, &them)) return false;
  // The peer's socket is the row whose local end is the peer's address and
  // whose remote end is ours.
  std::ifstream table(us.len == 4 ? "/proc/net/tcp" : "/proc/net/tcp6");
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    std::istringstream row(line);
    std::string slot, local, remote, state, queues, timer, retransmits;
    long owner = -1;
    if (!(row >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> owner))
      continue;
    if (Matches(local, them) && Matches(remote, us)) return owner == static_cast<long>(uid);
  }
  return false;
}

}  // namespace zb::service
