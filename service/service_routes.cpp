#include "service/service_routes.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include "service/file_response.h"
#include "service/phone_links.h"
#include "service/qr_code.h"
#include "service/service_pages.h"

namespace zb::service {
namespace {

namespace fs = std::filesystem;

constexpr char kUploadPath[] = "/cgi-bin/zbl_upload2.cgi";

// A whole number of at most 18 digits.
bool ParseCount(const std::string& s, uint64_t* n) {
  if (s.empty() || s.size() > 18 || s.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *n = std::stoull(s);
  return true;
}

void Text(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text, "text/plain; charset=utf-8");
}

void Html(httplib::Response& res, int status, const std::string& html) {
  res.status = status;
  res.set_content(html, "text/html; charset=utf-8");
}

void Json(httplib::Response& res, int status, const std::string& json) {
  res.status = status;
  res.set_content(json, "application/json");
}

void JsonError(httplib::Response& res, int status, const std::string& sentence) {
  Json(res, status, "{\"error\": " + JsonString(sentence) + "}");
}

// Whether an upload of the announced length may be taken, before a byte of
// it is read: nullopt when it may, else the refusal (status and text).
struct Refusal {
  int status;
  std::string text;
};
std::optional<Refusal> Refuse(Store::Room room) {
  if (room == Store::Room::kUnknownSession) return Refusal{403, "ERROR unknown session"};
  if (room == Store::Room::kSessionFull)
    return Refusal{413, "ERROR this session has sent as many ringtones as it may"};
  if (room == Store::Room::kServiceFull) return Refusal{507, "ERROR the service is full just now"};
  return std::nullopt;
}

std::optional<Refusal> RefuseLength(const std::string& contentLength, uint64_t* announced) {
  if (!ParseCount(contentLength, announced))
    return Refusal{411, "ERROR the ringtone's length is missing"};
  if (*announced > kMaxRingtone) return Refusal{413, "ERROR ringtone too large"};
  return std::nullopt;
}

void Upload(Store& store, const httplib::Request& req, httplib::Response& res,
            const httplib::ContentReader& read) {
  // The announced length is reserved against the session's and the
  // service's quotas before a byte is read; a refusal is answered at once
  // and the body is never stored.
  const std::string sid = req.get_param_value("sid");
  const std::string length = req.get_header_value("Content-Length");
  uint64_t announced = 0;
  if (auto no = RefuseLength(length, &announced)) {
    GuardedServer::CloseAfterResponse();
    return Text(res, no->status, no->text);
  }
  const Store::Room room = store.Reserve(sid, announced);
  // An unknown session's body is read and dropped before the answer (the
  // program's upload judges a whole exchange); a full session or service is
  // refused at once.
  if (room == Store::Room::kUnknownSession) {
    read([](const char*, size_t) { return true; });
    return Text(res, 403, "ERROR unknown session");
  }
  if (auto no = Refuse(room)) {
    GuardedServer::CloseAfterResponse();
    return Text(res, no->status, no->text);
  }
  std::string temp = store.BeginDelivery();
  size_t total = 0;
  bool fits = true, whole = false, written = false;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    // False when the connection ended (orderly or with a reset) before the
    // announced length: such a body is never stored, not even in part.
    whole = read([&](const char* data, size_t n) {
      total += n;
      if (total > kMaxRingtone || total > announced) fits = false;
      if (fits) out.write(data, static_cast<std::streamsize>(n));
      return true;  // a body that is not kept is read and dropped
    });
    written = static_cast<bool>(out.flush());
  }
  auto drop = [&] {
    store.AbandonDelivery(temp);
    store.Release(sid, announced);
  };
  if (!whole) {
    drop();
    std::fprintf(stderr, "upload cut short after %zu of %s bytes: dropped\n", total,
                 length.c_str());
    return Text(res, 400, "ERROR the ringtone arrived incomplete");
  }
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
}

// A name of the ringtone for a phone's download folder: a hard link (or,
// across file systems, a copy) of `path` in <data>/outgoing, which lives as
// long as a daemon may still be reading it (the folder is emptied when the
// service starts, and of files older than a day on each send).
std::string OutgoingCopy(const Store& store, const std::string& path) {
  std::error_code ec;
  fs::path dir = fs::path(store.Dir()) / "outgoing";
  fs::create_directories(dir, ec);
  fs::permissions(dir, fs::perms::owner_all, ec);
  const auto now = fs::file_time_type::clock::now();
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (now - e.last_write_time(ec) > std::chrono::hours(24)) fs::remove(e.path(), ec);
  fs::path target = dir / ("Ringtone " + fs::path(path).stem().string() + ".mp3");
  if (fs::exists(target, ec)) return target.string();
  if (::link(path.c_str(), target.c_str()) != 0 &&
      !fs::copy_file(path, target, fs::copy_options::overwrite_existing, ec))
    return "";
  return target.string();
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char u[8];
          std::snprintf(u, sizeof u, "\\u%04x", c);
          out += u;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

void BrowserRoutes(GuardedServer& svr, Store& store) {
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
    if (!ServeFile(res, path, "audio/mpeg"))
      Html(res, 404, MessagePage("Not found", "There is no such ringtone."));
  });
  svr.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty())
      Html(res, res.status, MessagePage("Not found", "There is no such page on this service."));
  });
  svr.set_logger([](const httplib::Request& req, const httplib::Response& res) {
    std::fprintf(stderr, "%s %s %d\n", req.method.c_str(), req.path.c_str(), res.status);
  });
}

void ProgramRoutes(GuardedServer& svr, Store& store, LanShare& share,
                   std::function<std::string()> browserUrl) {
  BrowserRoutes(svr, store);

  svr.Get("/cgi-bin/zbl_session.cgi", [&](const httplib::Request& req, httplib::Response& res) {
    Session s{req.get_param_value("name"),
              req.get_param_value("phone"),
              req.get_param_value("network"),
              0,
              0,
              ""};
    std::string error;
    if (auto id = store.OpenSession(s, &error))
      Text(res, 200, "OK " + *id);
    else
      Text(res, 200, "ERROR " + error);
  });

  // The body is the ringtone itself, streamed to a file as it arrives.
  svr.Post(kUploadPath, [&](const httplib::Request& req, httplib::Response& res,
                            const httplib::ContentReader& read) { Upload(store, req, res, read); });
  // "Expect: 100-continue": an upload that would be refused is refused
  // instead of being asked for.
  svr.set_expect_100_continue_handler([&](const httplib::Request& req, httplib::Response& res) {
    if (req.method != "POST" || req.path != kUploadPath) return 100;
    uint64_t announced = 0;
    std::optional<Refusal> no = RefuseLength(req.get_header_value("Content-Length"), &announced);
    if (!no) no = Refuse(store.Fits(req.get_param_value("sid"), announced));
    if (!no) return 100;
    GuardedServer::CloseAfterResponse();
    Text(res, no->status, no->text);
    return no->status;
  });

  svr.Get("/cgi-bin/zbl_browser.cgi",
          [browserUrl](const httplib::Request&, httplib::Response& res) {
            std::string url = browserUrl();
            if (url.empty())
              return JsonError(res, 503, "The service has no address for the browser.");
            Json(res, 200, "{\"url\": " + JsonString(url) + "}");
          });

  svr.Get("/cgi-bin/zbl_share.cgi", [&](const httplib::Request& req, httplib::Response& res) {
    const std::string sid = req.get_param_value("sid");
    const std::string path = store.LastDeliveryPath(sid);
    if (path.empty()) return JsonError(res, 404, "No ringtone has been sent in this session yet.");
    LanShare::Offer offer = share.Share(sid, path);
    if (offer.status != 200) return JsonError(res, offer.status, offer.error);
    std::string qr = QrSvg(offer.url);
    if (qr.empty()) return JsonError(res, 500, "The link does not fit in a QR code.");
    Json(res, 200,
         "{\"url\": " + JsonString(offer.url) + ", \"expires\": " + std::to_string(offer.expires) +
             ", \"qrSvg\": " + JsonString(qr) + "}");
  });

  svr.Get("/cgi-bin/zbl_devices.cgi", [](const httplib::Request&, httplib::Response& res) {
    std::string json = "[";
    for (const PhoneDevice& d : PairedPhones()) {
      if (json.size() > 1) json += ", ";
      json += "{\"id\": " + JsonString(d.id) + ", \"name\": " + JsonString(d.name) +
              ", \"via\": " + JsonString(d.via) + "}";
    }
    Json(res, 200, json + "]");
  });

  svr.Get("/cgi-bin/zbl_push.cgi", [&](const httplib::Request& req, httplib::Response& res) {
    const std::string path = store.LastDeliveryPath(req.get_param_value("sid"));
    if (path.empty()) return JsonError(res, 404, "No ringtone has been sent in this session yet.");
    const std::string device = req.get_param_value("device");
    if (!IsDeviceId(device)) return JsonError(res, 404, "There is no such phone.");
    const std::string copy = OutgoingCopy(store, path);
    if (copy.empty()) return JsonError(res, 500, "The ringtone could not be prepared.");
    std::string error;
    if (!SendToPhone(device, copy, &error)) return JsonError(res, 502, error);
    Json(res, 200, "{\"ok\": true}");
  });
}

}  // namespace zb::service
