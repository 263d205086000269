#include "platform/service_host.h"

#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>

#ifndef ZIMBREL_DEFAULT_SERVICE_HOST
#define ZIMBREL_DEFAULT_SERVICE_HOST "user"
#endif

namespace zb {

std::string ServiceHost::Authority() const {
  return port == 80 ? host : host + ":" + std::to_string(port);
}

std::string ServiceHost::BaseUrl() const {
  return "http://" + Authority();
}

std::string ServiceHost::BrowserPrefix() const {
  return OnSocket() ? std::string() : BaseUrl() + "/";
}

std::string UserServiceSocket() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  std::string base =
      dir && dir[0] == '/' ? std::string(dir) : "/run/user/" + std::to_string(::getuid());
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/zimbrel/service.sock";
}

namespace {

bool SetSocket(std::string path, ServiceHost* out) {
  // The path must fit sockaddr_un's sun_path with its terminating NUL.
  if (path.empty() || path[0] != '/' || path.size() >= sizeof(sockaddr_un{}.sun_path) ||
      path.find('\0') != std::string::npos)
    return false;
  out->host = "localhost";
  out->port = 80;
  out->socketPath = std::move(path);
  return true;
}

}  // namespace

bool ParseServiceHost(const std::string& text, ServiceHost* out) {
  if (text.empty()) return false;
  if (text == "user") return SetSocket(UserServiceSocket(), out);
  if (text.rfind("unix:", 0) == 0) return SetSocket(text.substr(5), out);
  std::string host = text;
  int port = 80;
  size_t colon = std::string::npos;
  if (text[0] == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos) return false;
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') return false;
      colon = close + 1;
    }
  } else {
    colon = text.find(':');
    if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos) return false;
  }
  if (colon != std::string::npos) {
    std::string p = text.substr(colon + 1);
    if (p.empty() || p.size() > 5) return false;
    for (char c : p)
      if (c < '0' || c > '9') return false;
    port = std::atoi(p.c_str());
    if (port < 1 || port > 65535) return false;
    host = text.substr(0, colon);
  }
  if (host.empty()) return false;
  for (char c : host)
    if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '?' || c == '#' || c == '@')
      return false;
  out->host = host;
  out->port = port;
  out->socketPath.clear();
  return true;
}

ServiceHost GetServiceHost() {
  ServiceHost h;
  if (const char* env = std::getenv("ZIMBREL_SERVICE_HOST"); env && *env)
    if (ParseServiceHost(env, &h)) return h;
  ParseServiceHost(ZIMBREL_DEFAULT_SERVICE_HOST, &h);
  return h;
}

}  // namespace zb
