#include "net/proxy_env.h"

#include <cstdlib>

namespace zb::net {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// True when `host` is `entry` or lies below it (a leading dot in the entry is
// optional); "*" matches every host.
bool Matches(const std::string& host, std::string entry) {
  if (entry == "*") return true;
  if (!entry.empty() && entry[0] == '.') entry.erase(0, 1);
  if (!entry.empty() && entry.front() == '[' && entry.back() == ']')
    entry = entry.substr(1, entry.size() - 2);
  if (entry.empty()) return false;
  if (host == entry) return true;
  return host.size() > entry.size() &&
         host.compare(host.size() - entry.size(), entry.size(), entry) == 0 &&
         host[host.size() - entry.size() - 1] == '.';
}

bool Bypassed(const std::string& host) {
  std::string list = Env("no_proxy");
  if (list.empty()) list = Env("NO_PROXY");
  std::string h = Lower(host);
  size_t i = 0;
  while (i <= list.size()) {
    size_t j = list.find_first_of(", ", i);
    if (j == std::string::npos) j = list.size();
    if (j > i && Matches(h, Lower(list.substr(i, j - i)))) return true;
    i = j + 1;
  }
  return false;
}

}  // namespace

std::string HttpProxyFor(const std::string& host) {
  std::string proxy = Env("http_proxy");  // curl ignores HTTP_PROXY for http://
  if (proxy.empty()) proxy = Env("all_proxy");
  if (proxy.empty()) proxy = Env("ALL_PROXY");
  if (proxy.empty() || Bypassed(host)) return "";
  return proxy;
}

}  // namespace zb::net
