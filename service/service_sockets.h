// The service's listening sockets and the check of who is at the other end
// of a connection.
//
// Per user the service listens on a Unix socket in the user's runtime folder
// (handed over by systemd, or bound here), which only its own user may use.
// Browsers cannot reach a Unix socket, so the pages the program opens in the
// browser come from a loopback TCP port of the service's choosing, which
// answers only connections made by a process of the service's own user.
#pragma once

#include <sys/types.h>

#include <string>

namespace zb::service {

// The first listening socket systemd passed to this process (LISTEN_PID and
// LISTEN_FDS, descriptor 3), or -1 when there is none. The variables are
// removed so that children do not take them for theirs.
int SocketFromSystemd();

// The per-user default: $XDG_RUNTIME_DIR/zimbrel/service.sock, or "" when
// XDG_RUNTIME_DIR is not set.
std::string DefaultSocketPath();

// Binds and listens on the Unix socket `path`: its folder is made (mode
// 0700) when missing, a socket left there by an earlier run that no one
// answers any more is replaced, and the socket is mode 0600. -1 and a
// sentence in `error` when it cannot (also when another service answers
// there).
int ListenOnUnixSocket(const std::string& path, std::string* error);

// Whether the peer of the connected Unix socket `fd` runs as `uid`
// (SO_PEERCRED).
bool UnixPeerIs(int fd, uid_t uid);

// Whether the peer of the connected loopback TCP socket `fd` is a socket
// owned by `uid`, as the kernel's table of TCP sockets (/proc/net/tcp and
// tcp6 of this network namespace) says. False when the peer's socket is not
// found there (for example when it has closed already).
bool TcpPeerIs(int fd, uid_t uid);

// Whether `fd` is a Unix socket.
bool IsUnixSocket(int fd);

}  // namespace zb::service
