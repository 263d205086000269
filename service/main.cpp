// zimbrel-service: a small stand-in for the ringtone service, for demos and
// tests on this machine.
//
//   zimbrel-service [--host ADDR] [--port N] [LIMITS] [--data] DIR
//
// It listens on 127.0.0.1:8765 unless told otherwise (--port 0 takes any free
// port) and prints "listening on http://ADDR:PORT/" once it accepts
// connections. SIGINT or SIGTERM stops it. It holds up on a machine shared
// with others (see GuardedServer and Store); the limits, each optional:
//   --max-connections N     connections served at once (64)
//   --header-timeout MS     time for a request's whole head (10000)
//   --read-timeout MS       longest wait for a read or a write (10000)
//   --session-quota BYTES   ringtone bytes one session may deliver (512 MiB)
//   --total-quota BYTES     ringtone bytes stored in all (2 GiB)
//   --session-lifetime S    seconds a session lasts (3600)
//   --max-sessions N        sessions open at once (10000)
// Its files are private to its user (folders 0700, files 0600).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "service/guarded_server.h"
#include "service/service_pages.h"
#include "service/service_store.h"

namespace zb::service {
namespace {

constexpr size_t kMaxRingtone = size_t{256} << 20;
constexpr size_t kDownloadChunk = size_t{64} << 10;

struct Options {
  std::string host = "127.0.0.1";
  int port = 8765;
  std::string data;
  ServerLimits limits;
  Quotas quotas;
};

int Usage(const char* why) {
  std::fprintf(stderr,
               "zimbrel-service: %s\nusage: zimbrel-service [--host ADDR] [--port N] "
               "[--max-connections N] [--header-timeout MS] [--read-timeout MS] "
               "[--session-quota BYTES] [--total-quota BYTES] [--session-lifetime S] "
               "[--max-sessions N] [--data] DIR\n",
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

void Text(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text, "text/plain; charset=utf-8");
}

void Html(httplib::Response& res, int status, const std::string& html) {
  res.status = status;
  res.set_content(html, "text/html; charset=utf-8");
}

void Routes(GuardedServer& svr, Store& store) {
  svr.Get("/cgi-bin/zbl_session.cgi", [&](const httplib::Request& req, httplib::Response& res) {
    Session s{req.get_param_value("name"), req.get_param_value("phone"),
              req.get_param_value("network")};
    std::string error;
    if (auto id = store.OpenSession(s, &error))
      Text(res, 200, "OK " + *id);
    else
      Text(res, 200, "ERROR " + error);
  });

  // The body is the ringtone itself, streamed to a file as it arrives.
  svr.Post("/cgi-bin/zbl_upload2.cgi", [&](const httplib::Request& req, httplib::Response& res,
                                           const httplib::ContentReader& read) {
    // The announced length is reserved against the session's and the
    // service's quotas before a byte is stored.
    const std::string sid = req.get_param_value("sid");
    uint64_t announced = 0;
    if (!ParseCount(req.get_header_value("Content-Length"), &announced))
      return Text(res, 411, "ERROR the ringtone's length is missing");
    const Store::Room room = store.Reserve(sid, announced);
    const bool take = room == Store::Room::kReserved;
    std::string temp = take ? store.BeginDelivery() : std::string();
    size_t total = 0;
    bool fits = true, whole = false, written = !take;
    {
      std::ofstream out;
      if (take) out.open(temp, std::ios::binary | std::ios::trunc);
      // False when the connection ended (orderly or with a reset) before the
      // announced length: such a body is never stored, not even in part.
      whole = read([&](const char* data, size_t n) {
        total += n;
        if (total > kMaxRingtone || total > announced) fits = false;
        if (take && fits) out.write(data, static_cast<std::streamsize>(n));
        return true;  // a body that is not kept is read and dropped
      });
      if (take) written = static_cast<bool>(out.flush());
    }
    auto drop = [&] {
      if (!take) return;
      store.AbandonDelivery(temp);
      store.Release(sid, announced);
    };
    if (!whole) {
      drop();
      std::fprintf(stderr, "upload cut short after %zu of %s bytes: dropped\n", total,
                   req.get_header_value("Content-Length").c_str());
      return Text(res, 400, "ERROR the ringtone arrived incomplete");
    }
    if (room == Store::Room::kUnknownSession) return Text(res, 403, "ERROR unknown session");
    if (room == Store::Room::kSessionFull)
      return Text(res, 413, "ERROR this session has sent as many ringtones as it may");
    if (room == Store::Room::kServiceFull)
      return Text(res, 507, "ERROR the service is full just now");
    std::optional<Session> session = store.FindSession(sid);
    if (!session) {
      drop();
      return Text(res, 403, "ERROR unknown session");
    }
    if (!written) {
      drop();
      return Text(res, 500, "ERROR the ringtone could not be stored");
    }
    if (!fits || total == 0) {
      drop();
      return Text(res, total == 0 ? 400 : 413,
                  total == 0 ? "ERROR empty ringtone" : "ERROR ringtone too large");
    }
    std::string digits = PhoneDigits(session->phone);
    std::optional<std::string> name = store.CommitDelivery(temp, digits, sid, total);
    if (!name) {
      drop();
      return Text(res, 500, "ERROR the ringtone could not be stored");
    }
    if (total < announced) store.Release(sid, announced - total);
    Text(res, 200, "OK delivered to " + digits + " as " + *name);
  });

  svr.Get("/redir.php", [&](const httplib::Request& req, httplib::Response& res) {
    std::string where = req.get_param_value("where");
    std::string phone;
    if (where.rfind("phone:", 0) == 0)
      phone = where.substr(6);
    else if (where == "phone")
      phone = req.get_param_value("phone");
    else
      return Html(res, 200, WherePage(where));
    std::string digits = PhoneDigits(phone);
    if (digits.empty())
      return Html(res, 404, MessagePage("Unknown number", "That is not a phone number."));
    res.set_redirect("/phone/" + digits);
  });
  svr.Get("/", [&](const httplib::Request&, httplib::Response& res) {
    Html(res, 200, WherePage("homepage"));
  });

  svr.Get(R"(/phone/([^/]+))", [&](const httplib::Request& req, httplib::Response& res) {
    std::string digits = PhoneDigits(req.matches[1]);
    if (digits.empty())
      return Html(res, 404, MessagePage("Unknown number", "That is not a phone number."));
    Html(res, 200, PhonePage(digits, store.Deliveries(digits)));
  });
  svr.Get(R"(/phone/([^/]+)/([^/]+))", [&](const httplib::Request& req, httplib::Response& res) {
    // Streamed from the file a chunk at a time, never held whole.
    std::string path = store.DeliveryPath(PhoneDigits(req.matches[1]), req.matches[2]);
    int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      if (fd >= 0) ::close(fd);
      return Html(res, 404, MessagePage("Not found", "There is no such ringtone."));
    }
    // The file and one buffer for the whole answer.
    struct Download {
      int fd = -1;
      std::vector<char> buf;
      ~Download() {
        if (fd >= 0) ::close(fd);
      }
    };
    auto download = std::make_shared<Download>();
    download->fd = fd;
    download->buf.resize(kDownloadChunk);
    res.set_content_provider(
        static_cast<size_t>(st.st_size), "audio/mpeg",
        [download](size_t offset, size_t length, httplib::DataSink& sink) {
          ssize_t n = ::pread(download->fd, download->buf.data(),
                              std::min(length, download->buf.size()), static_cast<off_t>(offset));
          if (n <= 0) return false;  // the file shrank or cannot be read: the answer ends
          return sink.write(download->buf.data(), static_cast<size_t>(n));
        });
  });

  svr.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty())
      Html(res, res.status, MessagePage("Not found", "There is no such page on this service."));
  });
  svr.set_logger([](const httplib::Request& req, const httplib::Response& res) {
    std::fprintf(stderr, "%s %s %d\n", req.method.c_str(), req.path.c_str(), res.status);
  });
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
    } else if (a == "--data") {
      if (!value(&o.data)) return Usage("--data needs a folder");
    } else if (a == "--max-connections" || a == "--header-timeout" || a == "--read-timeout" ||
               a == "--session-quota" || a == "--total-quota" || a == "--session-lifetime" ||
               a == "--max-sessions") {
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
      else
        o.quotas.maxSessions = static_cast<size_t>(n);
    } else if (a == "--help" || a == "-h") {
      return Usage("a stand-in for the ringtone service");
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
  if (!store.ok()) return Usage(("cannot use the data folder " + o.data).c_str());

  // SIGINT and SIGTERM are taken by a thread of their own, which stops the
  // server; every other thread has them blocked.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  GuardedServer svr(o.limits);
  svr.set_payload_max_length(kMaxRingtone + 1);
  Routes(svr, store);
  int port =
      o.port == 0 ? svr.bind_to_any_port(o.host) : (svr.bind_to_port(o.host, o.port) ? o.port : -1);
  if (port <= 0) {
    std::fprintf(stderr, "zimbrel-service: cannot listen on %s:%d\n", o.host.c_str(), o.port);
    return 1;
  }
  std::atomic<bool> stopping{false}, ended{false};
  std::thread stopper([&] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    stopping = true;
    // stop() does nothing before the accept loop runs, so a signal that comes
    // between the bind and the loop waits for it.
    while (!ended && !svr.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    svr.Stop();
  });
  bool v6 = o.host.find(':') != std::string::npos;
  std::printf("listening on http://%s%s%s:%d/ (data: %s)\n", v6 ? "[" : "", o.host.c_str(),
              v6 ? "]" : "", port, o.data.c_str());
  std::fflush(stdout);
  bool ok = svr.listen_after_bind();
  ended = true;
  // When the server ended by itself the stopper still waits for a signal.
  if (!stopping) pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace zb::service

int main(int argc, char** argv) {
  return zb::service::Run(argc, argv);
}
