#include "service/lan_share.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/random.h>

#include <cstdio>
#include <filesystem>

#include "service/file_response.h"
#include "service/iphone_ringtone.h"
#include "service/service_pages.h"

namespace zb::service {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kTokenBytes = 20;

// kTokenBytes from the system's random source as hexadecimal; "" when it
// gives none.
std::string NewToken() {
  unsigned char bytes[kTokenBytes];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return "";
    }
    got += static_cast<size_t>(n);
  }
  static const char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) {
    token += kHex[b >> 4];
    token += kHex[b & 15];
  }
  return token;
}

// Compares in a time that does not depend on where the texts differ.
bool SameToken(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

bool StartsWith(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

void Plain(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text, "text/plain; charset=utf-8");
}

}  // namespace

bool IsVirtualInterface(const std::string& name) {
  for (const char* p : {"docker", "br-", "veth", "virbr", "tun", "tap", "wg", "zt"})
    if (StartsWith(name, p)) return true;
  return false;
}

std::string ChooseLanAddress() {
  ifaddrs* all = nullptr;
  if (::getifaddrs(&all) != 0) return "";
  std::string v4, v6;
  for (ifaddrs* i = all; i; i = i->ifa_next) {
    if (!i->ifa_addr || !(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK) ||
        IsVirtualInterface(i->ifa_name))
      continue;
    char text[INET6_ADDRSTRLEN] = {0};
    if (i->ifa_addr->sa_family == AF_INET && v4.empty()) {
      auto* in = reinterpret_cast<sockaddr_in*>(i->ifa_addr);
      uint32_t a = ntohl(in->sin_addr.s_addr);
      if ((a >> 16) == 0xa9fe || (a >> 24) == 127) continue;  // 169.254/16, 127/8
      ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
      v4 = text;
    } else if (i->ifa_addr->sa_family == AF_INET6 && v6.empty()) {
      auto* in6 = reinterpret_cast<sockaddr_in6*>(i->ifa_addr);
      if (IN6_IS_ADDR_LINKLOCAL(&in6->sin6_addr) || IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr) ||
          IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr))
        continue;
      ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
      v6 = text;
    }
  }
  ::freeifaddrs(all);
  return v4.empty() ? v6 : v4;
}

LanShare::LanShare(std::string workDir, ShareOptions options)
    : work_(std::move(workDir)), options_(std::move(options)) {
  std::error_code ec;
  fs::create_directories(work_, ec);
  fs::permissions(work_, fs::perms::owner_all, ec);
  // Shares end with the service: what an earlier run left is dropped.
  for (const auto& e : fs::directory_iterator(work_, ec)) fs::remove(e.path(), ec);
}

LanShare::~LanShare() {
  std::lock_guard<std::mutex> listening(listenerMu_);
  StopListenerLocked();
  std::lock_guard<std::mutex> lock(mu_);
  std::error_code ec;
  for (const auto& s : shares_)
    if (!s->m4r.empty()) fs::remove(s->m4r, ec);
  shares_.clear();
}

LanShare::Offer LanShare::Share(const std::string& sid, const std::string& mp3) {
  Offer offer;
  // With listenerMu_ held.
  auto answer = [&](const Entry& e) {
    bool v6 = address_.find(':') != std::string::npos;
    offer.url = "http://" + std::string(v6 ? "[" : "") + address_ + (v6 ? "]" : "") + ":" +
                std::to_string(port_) + "/s/" + e.token;
    offer.expires =
        std::chrono::duration_cast<std::chrono::seconds>(e.expires - Clock::now()).count();
    return offer;
  };
  {
    std::lock_guard<std::mutex> listening(listenerMu_);
    std::lock_guard<std::mutex> lock(mu_);
    for (const auto& s : shares_)
      if (s->sid == sid && s->mp3 == mp3 && s->expires > Clock::now() && server_) return answer(*s);
    if (!server_ &&
        (options_.lanAddress.empty() ? ChooseLanAddress() : options_.lanAddress).empty()) {
      offer.status = 503;
      offer.error =
          "This computer is not on a network a phone can reach: connect it to your Wi-Fi or "
          "home network and try again.";
      return offer;
    }
  }
  auto entry = std::make_shared<Entry>();
  entry->sid = sid;
  entry->mp3 = mp3;
  entry->token = NewToken();
  if (entry->token.empty()) {
    offer.status = 500;
    offer.error = "The service cannot make a link just now. Please try again.";
    return offer;
  }
  // The iPhone's file is made before a lock is taken (ffmpeg takes a
  // moment); without it the page offers the MP3 alone.
  std::string m4r = work_ + "/" + entry->token + ".m4r", why;
  if (MakeIphoneRingtone(mp3, m4r, &why))
    entry->m4r = m4r;
  else
    std::fprintf(stderr, "share: %s\n", why.c_str());
  std::lock_guard<std::mutex> listening(listenerMu_);
  std::string error;
  if (!server_ && !StartListenerLocked(&error)) {
    std::error_code ec;
    if (!entry->m4r.empty()) fs::remove(entry->m4r, ec);
    std::fprintf(stderr, "share: %s\n", error.c_str());
    offer.status = 503;
    offer.error =
        "The service cannot offer the ringtone on your home network just now (" + error + ").";
    return offer;
  }
  entry->expires = Clock::now() + options_.lifetime;
  {
    std::lock_guard<std::mutex> lock(mu_);
    shares_.push_back(entry);
  }
  return answer(*entry);
}

bool LanShare::Live() {
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& s : shares_)
    if (s->expires > Clock::now()) return true;
  return false;
}

void LanShare::Sweep() {
  std::lock_guard<std::mutex> listening(listenerMu_);
  bool none = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    const auto now = Clock::now();
    std::error_code ec;
    for (auto it = shares_.begin(); it != shares_.end();) {
      if ((*it)->expires <= now) {
        if (!(*it)->m4r.empty()) fs::remove((*it)->m4r, ec);
        it = shares_.erase(it);
      } else {
        ++it;
      }
    }
    none = shares_.empty();
  }
  // Stopping joins the listener's connections, whose handlers take mu_:
  // it is not held here.
  if (none) StopListenerLocked();
}

std::shared_ptr<const LanShare::Entry> LanShare::FindLive(const std::string& token) {
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& s : shares_)
    if (SameToken(s->token, token) && s->expires > Clock::now()) return s;
  return nullptr;
}

bool LanShare::StartListenerLocked(std::string* error) {
  address_ = options_.lanAddress.empty() ? ChooseLanAddress() : options_.lanAddress;
  if (address_.empty()) {
    *error = "no network address";
    return false;
  }
  auto server = std::make_unique<GuardedServer>(options_.limits);
  server->set_payload_max_length(0);  // nothing is ever sent to it
  Routes(*server);
  int port = options_.lanPort > 0 && server->bind_to_port(address_, options_.lanPort)
                 ? options_.lanPort
                 : server->bind_to_any_port(address_);
  if (port <= 0) {
    *error = "cannot listen on " + address_;
    return false;
  }
  port_ = port;
  server_ = std::move(server);
  thread_ = std::thread([s = server_.get()] { s->listen_after_bind(); });
  std::fprintf(stderr, "share: listening on %s port %d\n", address_.c_str(), port_.load());
  return true;
}

void LanShare::StopListenerLocked() {
  if (!server_) return;
  // stop() does nothing before the accept loop runs.
  while (!server_->is_running() && thread_.joinable())
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  server_->Stop();
  thread_.join();
  server_.reset();
  port_ = 0;
  std::fprintf(stderr, "share: stopped listening\n");
}

void LanShare::Routes(GuardedServer& svr) {
  auto headers = [](httplib::Response& res) {
    res.set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Cache-Control", "no-store");
  };
  svr.Get(R"(/s/([0-9a-f]+)/?)",
          [this, headers](const httplib::Request& req, httplib::Response& res) {
            headers(res);
            auto share = FindLive(req.matches[1]);
            if (!share) return Plain(res, 404, "This link has ended. Send the ringtone again.\n");
            res.set_content(SharePage("/s/" + share->token, !share->m4r.empty(), port_),
                            "text/html; charset=utf-8");
          });
  svr.Get(R"(/s/([0-9a-f]+)/ringtone\.(mp3|m4r))", [this, headers](const httplib::Request& req,
                                                                   httplib::Response& res) {
    headers(res);
    auto share = FindLive(req.matches[1]);
    const bool mp3 = req.matches[2] == "mp3";
    if (!share || !ServeFile(res, mp3 ? share->mp3 : share->m4r, mp3 ? "audio/mpeg" : "audio/mp4",
                             mp3 ? "Ringtone.mp3" : "Ringtone.m4r"))
      Plain(res, 404, "This link has ended. Send the ringtone again.\n");
  });
  svr.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) Plain(res, res.status, "Not found.\n");
  });
  svr.set_logger([](const httplib::Request& req, const httplib::Response& res) {
    // The token is the share's secret: it is not logged.
    std::fprintf(stderr, "share: %s %s %d\n", req.method.c_str(),
                 StartsWith(req.path, "/s/") ? "/s/..." : "(other)", res.status);
  });
}

}  // namespace zb::service
