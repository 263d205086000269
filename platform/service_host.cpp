#include "platform/service_host.h"

#include <cstdlib>

#ifndef ZIMBREL_DEFAULT_SERVICE_HOST
#define ZIMBREL_DEFAULT_SERVICE_HOST "127.0.0.1:8765"
#endif

namespace zb {

std::string ServiceHost::authority() const {
  return port == 80 ? host : host + ":" + std::to_string(port);
}

std::string ServiceHost::baseUrl() const {
  return "http://" + authority();
}

bool ParseServiceHost(const std::string& text, ServiceHost* out) {
  if (text.empty()) return false;
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
