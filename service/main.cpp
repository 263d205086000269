// zimbrel-service: the user's ringtone service on this machine. It takes the
// ringtones the program sends, offers the last one to a phone on the home
// network by a link (and its QR code), and hands it to a phone paired
// through KDE Connect or GSConnect.
//
//   zimbrel-service [--socket PATH | --host ADDR --port N] [OPTIONS] [--data] DIR
//
// Where it listens:
// - a listening socket handed over by systemd (LISTEN_FDS), or the Unix
//   socket --socket PATH: the program's own address, for the service's own
//   user only. The browser's pages then come from a loopback TCP port of
//   the service's choosing that answers only processes of the same user
//   (GET /cgi-bin/zbl_browser.cgi names it). The first line printed is
//   "listening on unix:PATH (browser: http://127.0.0.1:PORT/)".
// - else TCP on --host (127.0.0.1) and --port (8765; 0 takes any free
//   port), for demos and tests: "listening on http://ADDR:PORT/".
// SIGINT or SIGTERM stops it; --idle-exit S ends it after S seconds with no
// request and no live share (systemd starts it again on the next
// connection). Its limits and options, each optional:
//   --max-connections N     connections served at once (64)
//   --header-timeout MS     time for a request's whole head (10000)
//   --read-timeout MS       longest wait for a read or a write (10000)
//   --session-quota BYTES   ringtone bytes one session may deliver (512 MiB)
//   --total-quota BYTES     ringtone bytes stored in all (2 GiB)
//   --session-lifetime S    seconds a session lasts (3600)
//   --max-sessions N        sessions open at once (10000)
//   --share-lifetime S      seconds a link for the home network lasts (900)
//   --lan-address ADDR      the home network's address to offer links on
//   --lan-port N            its port when free (47913; 0: any free port)
// Its files are private to its user (folders 0700, files 0600).
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "service/guarded_server.h"
#include "service/lan_share.h"
#include "service/service_routes.h"
#include "service/service_sockets.h"
#include "service/service_store.h"

namespace zb::service {
namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string host = "127.0.0.1";
  int port = 8765;
  std::string socket;
  std::string data;
  std::chrono::seconds idleExit{0};
  ServerLimits limits;
  Quotas quotas;
  ShareOptions share;
};

int Usage(const char* why) {
  std::fprintf(stderr,
               "zimbrel-service: %s\nusage: zimbrel-service [--socket PATH | --host ADDR "
               "--port N] [--idle-exit S] [--max-connections N] [--header-timeout MS] "
               "[--read-timeout MS] [--session-quota BYTES] [--total-quota BYTES] "
               "[--session-lifetime S] [--max-sessions N] [--share-lifetime S] "
               "[--lan-address ADDR] [--lan-port N] [--data] DIR\n",
               why);
  return 2;
}

// A whole number of at most 18 digits.
bool ParseCount(const std::string& s, uint64_t* n) {
  if (s.empty() || s.size() > 18 || s.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *n = std::stoull(s);
  return true;
}

bool ParsePort(const std::string& s, int* port) {
  if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *port = std::atoi(s.c_str());
  return *port <= 65535;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
      .count();
}

int Run(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--host") {
      if (!value(&o.host)) return Usage("--host needs an address");
    } else if (a == "--port") {
      if (!value(&v) || !ParsePort(v, &o.port)) return Usage("--port needs a number up to 65535");
    } else if (a == "--lan-port") {
      if (!value(&v) || !ParsePort(v, &o.share.lanPort))
        return Usage("--lan-port needs a number up to 65535");
    } else if (a == "--socket") {
      if (!value(&o.socket) || o.socket.empty()) return Usage("--socket needs a path");
    } else if (a == "--lan-address") {
      if (!value(&o.share.lanAddress)) return Usage("--lan-address needs an address");
    } else if (a == "--data") {
      if (!value(&o.data)) return Usage("--data needs a folder");
    } else if (a == "--max-connections" || a == "--header-timeout" || a == "--read-timeout" ||
               a == "--session-quota" || a == "--total-quota" || a == "--session-lifetime" ||
               a == "--max-sessions" || a == "--share-lifetime" || a == "--idle-exit") {
      uint64_t n = 0;
      if (!value(&v) || !ParseCount(v, &n) || n == 0 || n > (uint64_t{1} << 50))
        return Usage((a + " needs a whole number above 0").c_str());
      if (a == "--max-connections")
        o.limits.maxConnections = static_cast<int>(std::min<uint64_t>(n, 100000));
      else if (a == "--header-timeout")
        o.limits.headerTimeout = std::chrono::milliseconds(n);
      else if (a == "--read-timeout")
        o.limits.readTimeout = o.limits.writeTimeout = std::chrono::milliseconds(n);
      else if (a == "--session-quota")
        o.quotas.perSession = n;
      else if (a == "--total-quota")
        o.quotas.total = n;
      else if (a == "--session-lifetime")
        o.quotas.sessionLifetime = std::chrono::seconds(n);
      else if (a == "--share-lifetime")
        o.share.lifetime = std::chrono::seconds(std::min<uint64_t>(n, 86400 * 365));
      else if (a == "--idle-exit")
        o.idleExit = std::chrono::seconds(std::min<uint64_t>(n, 86400 * 365));
      else
        o.quotas.maxSessions = static_cast<size_t>(n);
    } else if (a == "--help" || a == "-h") {
      return Usage("the user's ringtone service");
    } else if (!a.empty() && a[0] != '-' && o.data.empty()) {
      o.data = a;
    } else {
      return Usage(("unknown argument " + a).c_str());
    }
  }
  if (o.data.empty()) return Usage("the data folder is missing");
  // Sessions and ringtones are personal: nothing the service makes is open
  // to other users.
  ::umask(077);
  Store store(o.data, o.quotas);
  if (!store.Ok()) return Usage(("cannot use the data folder " + o.data).c_str());

  // SIGINT and SIGTERM are taken by a thread of their own, which stops the
  // servers; every other thread has them blocked.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  const uid_t me = ::geteuid();
  int handed = SocketFromSystemd();
  const bool socketMode = handed >= 0 || !o.socket.empty();
  LanShare share(o.data + "/shares", o.share);
  std::atomic<int64_t> lastRequest{NowMs()};
  auto activity = [&] { lastRequest = NowMs(); };

  GuardedServer svr(o.limits);
  svr.set_payload_max_length(kMaxRingtone + 1);
  svr.SetActivity(activity);
  std::unique_ptr<GuardedServer> browser;
  std::string browserUrl, said;
  if (socketMode) {
    int fd = handed;
    if (fd < 0) {
      std::string error;
      fd = ListenOnUnixSocket(o.socket, &error);
      if (fd < 0) {
        std::fprintf(stderr, "zimbrel-service: cannot listen on %s: %s\n", o.socket.c_str(),
                     error.c_str());
        return 1;
      }
    }
    // Only the service's own user is served, on either listener.
    if (IsUnixSocket(fd))
      svr.SetAdmission([me](int c) { return UnixPeerIs(c, me); });
    else
      svr.SetAdmission([me](int c) { return TcpPeerIs(c, me); });
    svr.Adopt(fd);
    browser = std::make_unique<GuardedServer>(o.limits);
    browser->SetActivity(activity);
    browser->SetAdmission([me](int c) { return TcpPeerIs(c, me); });
    BrowserRoutes(*browser, store);
    int port = browser->bind_to_any_port("127.0.0.1");
    if (port <= 0) {
      std::fprintf(stderr, "zimbrel-service: cannot listen on 127.0.0.1\n");
      return 1;
    }
    const std::string authority = "127.0.0.1:" + std::to_string(port);
    browserUrl = "http://" + authority + "/";
    // A page of another site that reaches the port by a name of its own
    // (DNS rebinding) is not answered.
    browser->SetGate([authority](const httplib::Request& req, httplib::Response& res) {
      if (req.get_header_value("Host") == authority) return true;
      res.status = 421;
      res.set_content("Misdirected request.\n", "text/plain");
      return false;
    });
    said = "listening on unix:" + (handed >= 0 ? std::string("(from systemd)") : o.socket) +
           " (browser: " + browserUrl + ")";
  } else {
    int port = o.port == 0 ? svr.bind_to_any_port(o.host)
                           : (svr.bind_to_port(o.host, o.port) ? o.port : -1);
    if (port <= 0) {
      std::fprintf(stderr, "zimbrel-service: cannot listen on %s:%d\n", o.host.c_str(), o.port);
      return 1;
    }
    bool v6 = o.host.find(':') != std::string::npos;
    browserUrl = "http://" + std::string(v6 ? "[" : "") + o.host + (v6 ? "]" : "") + ":" +
                 std::to_string(port) + "/";
    said = "listening on " + browserUrl;
  }
  ProgramRoutes(svr, store, share, [browserUrl] { return browserUrl; });

  std::atomic<bool> stopping{false}, ended{false};
  auto stopAll = [&] {
    stopping = true;
    // stop() does nothing before the accept loop runs, so a stop that comes
    // between the bind and the loop waits for it.
    while (!ended && !svr.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    svr.Stop();
    if (browser) browser->Stop();
  };
  std::thread stopper([&] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    if (!stopping) stopAll();
  });
  // Ends shares whose time is up, and the service when it has been idle
  // long enough: no request, no connection and no live share.
  std::thread keeper([&] {
    while (!stopping && !ended) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      share.Sweep();
      if (o.idleExit.count() == 0 || stopping) continue;
      bool busy = svr.ActiveConnections() > 0 || (browser && browser->ActiveConnections() > 0) ||
                  share.Live();
      if (busy) {
        activity();
      } else if (NowMs() - lastRequest >= o.idleExit.count() * 1000) {
        std::fprintf(stderr, "idle: stopping\n");
        stopAll();
        pthread_kill(stopper.native_handle(), SIGTERM);
      }
    }
  });
  std::thread browserThread;
  std::atomic<bool> browserEnded{false};
  if (browser)
    browserThread = std::thread([&] {
      browser->listen_after_bind();
      browserEnded = true;
    });
  std::printf("%s (data: %s)\n", said.c_str(), o.data.c_str());
  std::fflush(stdout);
  bool ok = svr.listen_after_bind();
  ended = true;
  if (browser) {
    while (!browserEnded && !browser->is_running())
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    browser->Stop();
    browserThread.join();
  }
  // When the server ended by itself the stopper still waits for a signal.
  if (!stopping) pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  keeper.join();
  if (handed < 0 && !o.socket.empty()) ::unlink(o.socket.c_str());
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace zb::service

#if defined(__SANITIZE_THREAD__)
// GLib and GIO are not built for ThreadSanitizer: it cannot see their own
// locks, so GDBus's worker thread (the phone links) looks like a race.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libglib-2.0.so.0\ncalled_from_lib:libgio-2.0.so.0\n"
         "called_from_lib:libgobject-2.0.so.0\nrace:libglib-2.0.so.0\nrace:libgio-2.0.so.0\n";
}
#endif

int main(int argc, char** argv) {
  return zb::service::Run(argc, argv);
}
