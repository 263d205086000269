// zimbrel-service: a small stand-in for the ringtone service, for demos and
// tests on this machine.
//
//   zimbrel-service [--host ADDR] [--port N] [--data] DIR
//
// It listens on 127.0.0.1:8765 unless told otherwise (--port 0 takes any free
// port) and prints "listening on http://ADDR:PORT/" once it accepts
// connections. SIGINT or SIGTERM stops it.
#include <httplib.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "service/service_pages.h"
#include "service/service_store.h"

namespace zb::service {
namespace {

constexpr size_t kMaxRingtone = size_t{256} << 20;

struct Options {
  std::string host = "127.0.0.1";
  int port = 8765;
  std::string data;
};

int Usage(const char* why) {
  std::fprintf(
      stderr, "zimbrel-service: %s\nusage: zimbrel-service [--host ADDR] [--port N] [--data] DIR\n",
      why);
  return 2;
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

void Routes(httplib::Server& svr, Store& store) {
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
    std::optional<Session> session = store.FindSession(req.get_param_value("sid"));
    std::string temp = store.BeginDelivery();
    size_t total = 0;
    bool fits = true, whole = false, written = false;
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      // False when the connection ended (orderly or with a reset) before the
      // announced length: such a body is never stored, not even in part.
      whole = read([&](const char* data, size_t n) {
        total += n;
        if (total > kMaxRingtone) fits = false;
        if (session && fits) out.write(data, static_cast<std::streamsize>(n));
        return true;  // an unknown session's body is read and dropped
      });
      written = static_cast<bool>(out.flush());
    }
    if (!whole) {
      store.AbandonDelivery(temp);
      std::fprintf(stderr, "upload cut short after %zu of %s bytes: dropped\n", total,
                   req.get_header_value("Content-Length").c_str());
      return Text(res, 400, "ERROR the ringtone arrived incomplete");
    }
    if (!session) {
      store.AbandonDelivery(temp);
      return Text(res, 403, "ERROR unknown session");
    }
    if (!written) {
      store.AbandonDelivery(temp);
      return Text(res, 500, "ERROR the ringtone could not be stored");
    }
    if (!fits || total == 0) {
      store.AbandonDelivery(temp);
      return Text(res, total == 0 ? 400 : 413,
                  total == 0 ? "ERROR empty ringtone" : "ERROR ringtone too large");
    }
    std::string digits = PhoneDigits(session->phone);
    std::optional<std::string> name = store.CommitDelivery(temp, digits);
    if (!name) {
      store.AbandonDelivery(temp);
      return Text(res, 500, "ERROR the ringtone could not be stored");
    }
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
    std::string path = store.DeliveryPath(PhoneDigits(req.matches[1]), req.matches[2]);
    std::ifstream in(path, std::ios::binary);
    if (path.empty() || !in)
      return Html(res, 404, MessagePage("Not found", "There is no such ringtone."));
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    res.set_content(bytes, "audio/mpeg");
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
    } else if (a == "--help" || a == "-h") {
      return Usage("a stand-in for the ringtone service");
    } else if (!a.empty() && a[0] != '-' && o.data.empty()) {
      o.data = a;
    } else {
      return Usage(("unknown argument " + a).c_str());
    }
  }
  if (o.data.empty()) return Usage("the data folder is missing");
  Store store(o.data);
  if (!store.ok()) return Usage(("cannot use the data folder " + o.data).c_str());

  // SIGINT and SIGTERM are taken by a thread of their own, which stops the
  // server; every other thread has them blocked.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  httplib::Server svr;
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
    svr.stop();
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
