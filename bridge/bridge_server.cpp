#include "bridge/bridge_server.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "bridge/bridge_folder.h"
#include "bridge/bridge_wire.h"
#include "bridge/method_table.h"
#include "platform/utf.h"

namespace zb {

struct BridgeServer::Client {
  BridgeServer* server = nullptr;
  int fd = -1;
  guint source = 0;
  wire::FrameReader reader;
  uint64_t pageId = 0;   // from the hello; 0 until the hello was admitted
  guint helloTimer = 0;  // closes the connection when no hello came in time
  bool busy = false;     // a request of this client is being served
  bool closed = false;   // closed while busy: freed when the request returns
};

namespace {
// Pages of the requests being served, innermost last.
std::vector<uint64_t> gCallers;
}  // namespace

uint64_t BridgeServer::CallerPageId() {
  return gCallers.empty() ? 0 : gCallers.back();
}

namespace {
// 32 random bytes as hexadecimal text.
std::string NewSecret() {
  unsigned char bytes[32];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return "";
    got += static_cast<size_t>(n);
  }
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (unsigned char b : bytes) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
  }
  return s;
}

// Compares in a time that does not depend on where the texts differ.
bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

// Whether the process at the other end of `fd` runs as this process's user.
bool SameUser(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && len == sizeof cred &&
         cred.uid == ::geteuid();
}
}  // namespace

BridgeServer::BridgeServer(IDispatch* dispatch) : m_dispatch(dispatch) {
  if (const char* t = g_getenv("ZIMBREL_BRIDGE_TIMING"); t && *t) {
    m_timingFile = t;
    m_arrivals.reserve(1 << 20);
  }
}

BridgeServer::~BridgeServer() {
  if (!m_timingFile.empty()) {
    if (FILE* f = std::fopen(m_timingFile.c_str(), "w")) {
      for (int64_t t : m_arrivals) std::fprintf(f, "%lld\n", static_cast<long long>(t));
      std::fclose(f);
    }
  }
  for (Client* c : std::vector<Client*>(m_clients)) CloseClient(c);
  if (m_listenSource) g_source_remove(m_listenSource);
  if (m_listenPause) g_source_remove(m_listenPause);
  if (m_listenFd >= 0) ::close(m_listenFd);
  RemoveBridgeFolder(m_dir, m_lockFd);
}

bool BridgeServer::Start() {
  if (m_listenFd >= 0) return false;
  const std::string tmp = TemporaryFolder();
  std::string parent = BridgeFolderParent();
  // Earlier programs put their folders in the temporary folder too.
  SweepLeftBridgeFolders({parent, tmp});
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  // A runtime folder whose path leaves no room for the socket's name: the
  // temporary folder instead.
  if (parent.size() + sizeof "/zimbrel-XXXXXX/bridge" > sizeof addr.sun_path) parent = tmp;
  m_secret = NewSecret();
  if (m_secret.empty() || !MakeBridgeFolder(parent, &m_dir, &m_lockFd)) return false;
  m_socketPath = m_dir + "/bridge";
  m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (m_listenFd < 0) return false;
  if (m_socketPath.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, m_socketPath.c_str(), m_socketPath.size() + 1);
  if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(m_listenFd, 16) != 0)
    return false;
  m_listenSource = g_unix_fd_add(m_listenFd, G_IO_IN, &BridgeServer::OnAccept, this);
  return true;
}

gboolean BridgeServer::OnAccept(gint fd, GIOCondition, gpointer self) {
  auto* s = static_cast<BridgeServer*>(self);
  for (;;) {
    // A blocking socket: every read and write says MSG_DONTWAIT but the one
    // that waits for a page's next call, which the receive time-out bounds.
    int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) {
      // Out of descriptors: the connection stays queued and the socket
      // readable, so listening pauses rather than spinning.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        s->ListenAgainSoon();
        return G_SOURCE_REMOVE;
      }
      break;
    }
    if (!SameUser(c)) {  // another user's process: not a word
      ::close(c);
      continue;
    }
    // A few may wait for their hello at once: the one that waited longest
    // makes room.
    if (s->WaitingForHello() >= kMaxWaiting) {
      for (Client* old : s->m_clients)
        if (old->pageId == 0 && !old->busy) {
          s->CloseClient(old);
          break;
        }
    }
    timeval wait{0, 1000};  // rounded up to one clock tick by the kernel
    ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    auto* client = new Client;
    client->server = s;
    client->fd = c;
    client->source = g_unix_fd_add(c, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                                   &BridgeServer::OnClientReadable, client);
    client->helloTimer = g_timeout_add(kHelloWaitMs, &BridgeServer::OnHelloLate, client);
    s->m_clients.push_back(client);
  }
  return G_SOURCE_CONTINUE;
}

void BridgeServer::ListenAgainSoon() {
  m_listenSource = 0;
  if (m_listenPause) return;
  m_listenPause = g_timeout_add(
      100,
      +[](gpointer self) {
        auto* s = static_cast<BridgeServer*>(self);
        s->m_listenPause = 0;
        s->m_listenSource = g_unix_fd_add(s->m_listenFd, G_IO_IN, &BridgeServer::OnAccept, s);
        return G_SOURCE_REMOVE;
      },
      this);
}

gboolean BridgeServer::OnHelloLate(gpointer data) {
  auto* c = static_cast<Client*>(data);
  c->helloTimer = 0;
  if (c->pageId == 0 && !c->busy) c->server->CloseClient(c);
  return G_SOURCE_REMOVE;
}

size_t BridgeServer::WaitingForHello() const {
  size_t n = 0;
  for (const Client* c : m_clients)
    if (c->pageId == 0) ++n;
  return n;
}

void BridgeServer::CloseClient(Client* c) {
  if (c->closed) return;
  c->closed = true;
  if (c->helloTimer) g_source_remove(c->helloTimer);
  c->helloTimer = 0;
  if (c->source) g_source_remove(c->source);
  c->source = 0;
  ::close(c->fd);
  m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), c), m_clients.end());
  if (!c->busy) delete c;
}

namespace {
// Writes a reply on a non-blocking socket, waiting while the peer's buffer is
// full; gives up after 5 s of no progress.
bool SendAll(int fd, const std::string& data) {
  size_t off = 0;
  while (off < data.size()) {
    ssize_t w = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w > 0) {
      off += static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, 5000) <= 0) return false;
      continue;
    }
    return false;
  }
  return true;
}
}  // namespace

gboolean BridgeServer::OnClientReadable(gint fd, GIOCondition, gpointer data) {
  auto* c = static_cast<Client*>(data);
  BridgeServer* s = c->server;
  char buf[65536];
  const auto served = std::chrono::steady_clock::now();
  bool waited = false;  // the wait below has read what there was
  for (;;) {
    bool eof = false;
    for (; !waited;) {
      ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) {
        c->reader.Feed(buf, static_cast<size_t>(n));
        if (c->reader.Buffered() > wire::kMaxFrame + 4) break;
        // Before the hello, no more than a hello's worth is kept.
        if (c->pageId == 0 && c->reader.Buffered() > kMaxHelloFrame + 4) break;
        // A short read took all there was: spare the read that would say so.
        if (static_cast<size_t>(n) < sizeof buf) break;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      eof = true;
      break;
    }
    std::string payload;
    for (;;) {
      auto st = c->reader.Next(&payload, c->pageId == 0 ? kMaxHelloFrame : wire::kMaxFrame);
      if (st == wire::FrameReader::Status::kNeedMore) break;
      if (st == wire::FrameReader::Status::kTooLarge) {
        c->source = 0;
        s->CloseClient(c);
        return G_SOURCE_REMOVE;
      }
      if (!s->m_timingFile.empty() && s->m_arrivals.size() < s->m_arrivals.capacity())
        s->m_arrivals.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count());
      c->busy = true;
      ++s->m_pending;
      std::string reply;
      if (c->pageId == 0) {
        // The first request must be a hello with the run's secret; anything
        // else closes the connection unanswered.
        if (s->Admit(c, payload)) {
          reply = wire::EncodeHelloReply();
          if (c->helloTimer) g_source_remove(c->helloTimer);
          c->helloTimer = 0;
        }
      } else {
        gCallers.push_back(c->pageId);
        reply = s->Handle(payload, c->pageId);
        gCallers.pop_back();
      }
      --s->m_pending;
      c->busy = false;
      if (c->closed) {  // closed while the request ran (server shutting down)
        delete c;
        return G_SOURCE_REMOVE;
      }
      if (reply.empty() || !SendAll(c->fd, wire::Frame(reply))) {
        c->source = 0;
        s->CloseClient(c);
        return G_SOURCE_REMOVE;
      }
    }
    if (eof) {
      c->source = 0;
      s->CloseClient(c);
      return G_SOURCE_REMOVE;
    }
    // Page script making calls in a row sends its next request within
    // microseconds: wait for it here instead of going back through the main
    // loop, for at most a few milliseconds in all so the window stays
    // responsive. With one page connected the wait is a blocking read that
    // the socket's receive time-out (one clock tick) ends: a timed poll costs
    // as much again as the whole round trip. With several, a short poll, so
    // that no page waits behind another one's silence.
    waited = false;
    if (std::chrono::steady_clock::now() - served > std::chrono::milliseconds(4)) break;
    if (s->m_clients.size() == 1) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n > 0) {
        c->reader.Feed(buf, static_cast<size_t>(n));
        // A full buffer may have more behind it: the read loop takes it.
        waited = static_cast<size_t>(n) < sizeof buf;
        continue;
      }
      if (n == 0) continue;  // the read loop sees the end and closes
      break;                 // time-out, a signal or an error: back to the main loop
    }
    pollfd p{fd, POLLIN, 0};
    timespec wait{0, 150 * 1000};
    if (::ppoll(&p, 1, &wait, nullptr) <= 0) break;
  }
  return G_SOURCE_CONTINUE;
}

bool BridgeServer::Admit(Client* c, const std::string& payload) const {
  wire::Request hello;
  if (!wire::DecodeRequest(payload, &hello) || hello.op != wire::kOpHello || hello.pageId == 0 ||
      !SameSecret(hello.secret, m_secret))
    return false;
  c->pageId = hello.pageId;
  return true;
}

std::string BridgeServer::Handle(const std::string& payload, uint64_t pageId) {
  wire::Request req;
  if (!wire::DecodeRequest(payload, &req) || req.op == wire::kOpHello) return {};
  if (m_callerFilter && !m_callerFilter(pageId))
    return wire::EncodeErrorReply("this page is not shown in a window of the program");
  if (req.op == wire::kOpLookup) {
    std::u16string name = Utf8ToUtf16(req.name);
    OLECHAR* names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    m_dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    uint8_t kind = wire::kKindUnknown;
    if (id >= 1 && id <= kMemberCount) {
      switch (kMethodTable[id - 1].kind) {
        case MemberKind::kMethod:
          kind = wire::kKindMethod;
          break;
        case MemberKind::kProperty:
          kind = wire::kKindProperty;
          break;
        case MemberKind::kEither:
          kind = wire::kKindBoth;
          break;
      }
    }
    return wire::EncodeLookupReply(id, kind);
  }
  DISPPARAMS params = req.args.Params();
  VARIANT result;
  VariantInit(&result);
  m_dispatch->Invoke(req.dispid, IID_NULL, 0, req.flags, &params, &result, nullptr, nullptr);
  // A result too large for one frame would end the page's connection for
  // good: the call gets the empty result of its type instead. (Only a text
  // can be that large; its reply adds 6 bytes to its UTF-8 form.)
  std::string reply = wire::EncodeInvokeReply(result);
  if (reply.size() > wire::kMaxFrame) {
    VariantClear(&result);
    result.vt = VT_BSTR;
    result.bstrVal = SysAllocString(u"");
    reply = wire::EncodeInvokeReply(result);
  }
  VariantClear(&result);
  return reply;
}

}  // namespace zb
