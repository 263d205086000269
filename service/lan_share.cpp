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
    : m_work(std::move(workDir)), m_options(std::move(options)) {
  std::error_code ec;
  fs::create_directories(m_work, ec);
  fs::permissions(m_work, fs::perms::owner_all, ec);
  // Shares end with the service: what an earlier run left is dropped.
  for (const auto& e : fs::directory_iterator(m_work, ec)) fs::remove(e.path(), ec);
}

LanShare::~LanShare() {
  std::lock_guard<std::mutex> listening(m_listenerMu);
  StopListenerLocked();
  std::lock_guard<std::mutex> lock(m_mu);
  std::error_code ec;
  for (const auto& s : m_shares)
    if (!s->m4r.empty()) fs::remove(s->m4r, ec);
  m_shares.clear();
}

LanShare::Offer LanShare::Share(const std::string& sid, const std::string& mp3) {
  Offer offer;
  // With m_listenerMu held.
  auto answer = [&](const Entry& e) {
    bool v6 = m_address.find(':') != std::string::npos;
    offer.url = "http://" + std::string(v6 ? "[" : "") + m_address + (v6 ? "]" : "") + ":" +
                std::to_string(m_port) + "/s/" + e.token;
    offer.expires =
        std::chrono::duration_cast<std::chrono::seconds>(e.expires - Clock::now()).count();
    return offer;
  };
  {
    std::lock_guard<std::mutex> listening(m_listenerMu);
    std::lock_guard<std::mutex> lock(m_mu);
    for (const auto& s : m_shares)
      if (s->sid == sid && s->mp3 == mp3 && s->expires > Clock::now() && m_server)
        return answer(*s);
    if (!m_server &&
        (m_options.lanAddress.empty() ? ChooseLanAddress() : m_options.lanAddress).empty()) {
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
  std::string m4r = m_work + "/" + entry->token + ".m4r", why;
  if (MakeIphoneRingtone(mp3, m4r, &why))
    entry->m4r = m4r;
  else
    std::fprintf(stderr, "share: %s\n", why.c_str());
  std::lock_guard<std::mutex> listening(m_listenerMu);
  std::string error;
  if (!m_server && !StartListenerLocked(&error)) {
    std::error_code ec;
    if (!entry->m4r.empty()) fs::remove(entry->m4r, ec);
    std::fprintf(stderr, "share: %s\n", error.c_str());
    offer.status = 503;
    offer.error =
        "The service cannot offer the ringtone on your home network just now (" + error + ").";
    return offer;
  }
  entry->expires = Clock::now() + m_options.lifetime;
  {
    std::lock_guard<std::mutex> lock(m_mu);
    m_shares.push_back(entry);
  }
  return answer(*entry);
}

bool LanShare::Live() {
  std::lock_guard<std::mutex> lock(m_mu);
  for (const auto& s : m_shares)
    if (s->expires > Clock::now()) return true;
  return false;
}

void LanShare::Sweep() {
  std::lock_guard<std::mutex> listening(m_listenerMu);
  bool none = false;
  {
    std::lock_guard<std::mutex> lock(m_mu);
    const auto now = Clock::now();
    std::error_code ec;
    for (auto it = m_shares.begin(); it != m_shares.end();) {
      if ((*it)->expires <= now) {
        if (!(*it)->m4r.empty()) fs::remove((*it)->m4r, ec);
        it = m_shares.erase(it);
      } else {
        ++it;
      }
    }
    none = m_shares.empty();
  }
  // Stopping joins the listener's connections, whose handlers take m_mu:
  // it is not held here.
  if (none) StopListenerLocked();
}

std::shared_ptr<const LanShare::Entry> LanShare::FindLive(const std::string& token) {
  std::lock_guard<std::mutex> lock(m_mu);
  for (const auto& s : m_shares)
    if (SameToken(s->token, token) && s->expires > Clock::now()) return s;
  return nullptr;
}

bool LanShare::StartListenerLocked(std::string* error) {
  m_address = m_options.lanAddress.empty() ? ChooseLanAddress() : m_options.lanAddress;
  if (m_address.empty()) {
    *error = "no network address";
    return false;
  }
  auto server = std::make_unique<GuardedServer>(m_options.limits);
  server->set_payload_max_length(0);  // nothing is ever sent to it
  Routes(*server);
  int port = m_options.lanPort > 0 && server->bind_to_port(m_address, m_options.lanPort)
                 ? m_options.lanPort
                 : server->bind_to_any_port(m_address);
  if (port <= 0) {
    *error = "cannot listen on " + m_address;
    return false;
  }
  m_port = port;
  m_server = std::move(server);
  m_thread = std::thread([s = m_server.get()] { s->listen_after_bind(); });
  std::fprintf(stderr, "share: listening on %s port %d\n", m_address.c_str(), m_port.load());
  return true;
}

void LanShare::StopListenerLocked() {
  if (!m_server) return;
  // stop() does nothing before the accept loop runs.
  while (!m_server->is_running() && m_thread.joinable())
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  m_server->Stop();
  m_thread.join();
  m_server.reset();
  m_port = 0;
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
            res.set_content(SharePage("/s/" + share->token, !share->m4r.empty(), m_port),
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
