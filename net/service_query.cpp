#include "net/service_query.h"

#include <arpa/inet.h>

#include <cctype>

#include "net/transfer.h"

namespace zb::net {
namespace {

constexpr size_t kMaxAnswer = 64 * 1024;

struct Sink {
  std::string body;
};

size_t Collect(char* data, size_t size, size_t count, void* user) {
  auto& s = *static_cast<Sink*>(user);
  size_t n = size * count;
  if (s.body.size() + n > kMaxAnswer) return 0;
  s.body.append(data, n);
  return n;
}

// A small reader of JSON text: enough to find a top-level string field and
// to step over any other value.
class Json {
 public:
  explicit Json(std::string_view t) : m_t(t) {}

  void Space() {
    while (m_i < m_t.size() &&
           (m_t[m_i] == ' ' || m_t[m_i] == '\t' || m_t[m_i] == '\n' || m_t[m_i] == '\r'))
      ++m_i;
  }
  bool Take(char c) {
    Space();
    if (m_i < m_t.size() && m_t[m_i] == c) {
      ++m_i;
      return true;
    }
    return false;
  }
  bool AtEnd() {
    Space();
    return m_i == m_t.size();
  }

  std::optional<std::string> String() {
    if (!Take('"')) return std::nullopt;
    std::string out;
    while (m_i < m_t.size()) {
      char c = m_t[m_i++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (m_i >= m_t.size()) return std::nullopt;
      char e = m_t[m_i++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          auto cp = Hex4();
          if (!cp) return std::nullopt;
          uint32_t u = *cp;
          if (u >= 0xD800 && u < 0xDC00) {
            // A high surrogate must be followed by its low one.
            if (m_i + 1 >= m_t.size() || m_t[m_i] != '\\' || m_t[m_i + 1] != 'u')
              return std::nullopt;
            m_i += 2;
            auto lo = Hex4();
            if (!lo || *lo < 0xDC00 || *lo > 0xDFFF) return std::nullopt;
            u = 0x10000 + ((u - 0xD800) << 10) + (*lo - 0xDC00);
          } else if (u >= 0xDC00 && u < 0xE000) {
            return std::nullopt;
          }
          Utf8(u, out);
          break;
        }
        default:
          return std::nullopt;
      }
    }
    return std::nullopt;
  }

  // Steps over one value of any kind; false when the text is not JSON.
  bool Skip(int depth = 0) {
    if (depth > 64) return false;
    Space();
    if (m_i >= m_t.size()) return false;
    char c = m_t[m_i];
    if (c == '"') return String().has_value();
    if (c == '{' || c == '[') {
      const char close = c == '{' ? '}' : ']';
      ++m_i;
      if (Take(close)) return true;
      do {
        if (c == '{' && (!String() || !Take(':'))) return false;
        if (!Skip(depth + 1)) return false;
      } while (Take(','));
      return Take(close);
    }
    size_t start = m_i;
    while (m_i < m_t.size() && (std::isalnum(static_cast<unsigned char>(m_t[m_i])) ||
                                m_t[m_i] == '-' || m_t[m_i] == '+' || m_t[m_i] == '.'))
      ++m_i;
    return m_i > start;
  }

 private:
  std::optional<uint32_t> Hex4() {
    if (m_i + 4 > m_t.size()) return std::nullopt;
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
      char h = m_t[m_i++];
      v <<= 4;
      if (h >= '0' && h <= '9')
        v |= h - '0';
      else if (h >= 'a' && h <= 'f')
        v |= h - 'a' + 10;
      else if (h >= 'A' && h <= 'F')
        v |= h - 'A' + 10;
      else
        return std::nullopt;
    }
    return v;
  }
  static void Utf8(uint32_t u, std::string& out) {
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else if (u < 0x10000) {
      out += static_cast<char>(0xE0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (u >> 18));
      out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }

  std::string_view m_t;
  size_t m_i = 0;
};

}  // namespace

std::optional<std::string> JsonStringField(std::string_view json, std::string_view name) {
  Json j(json);
  if (!j.Take('{')) return std::nullopt;
  std::optional<std::string> found;
  if (!j.Take('}')) {
    do {
      auto key = j.String();
      if (!key || !j.Take(':')) return std::nullopt;
      if (*key == name && !found) {
        found = j.String();
        if (!found) return std::nullopt;  // present but not a string
      } else if (!j.Skip()) {
        return std::nullopt;
      }
    } while (j.Take(','));
    if (!j.Take('}')) return std::nullopt;
  }
  if (!j.AtEnd()) return std::nullopt;
  return found;
}

bool IsLoopbackPrefix(std::string_view url) {
  constexpr std::string_view kScheme = "http://";
  if (url.substr(0, kScheme.size()) != kScheme) return false;
  url.remove_prefix(kScheme.size());
  if (url.empty() || url.back() != '/') return false;
  url.remove_suffix(1);
  size_t colon = url.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string_view port = url.substr(colon + 1), host = url.substr(0, colon);
  if (port.empty() || port.size() > 5) return false;
  int p = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
    p = p * 10 + (c - '0');
  }
  if (p < 1 || p > 65535) return false;
  if (host == "[::1]") return true;
  in_addr a{};
  if (::inet_pton(AF_INET, std::string(host).c_str(), &a) != 1) return false;
  return (ntohl(a.s_addr) >> 24) == 127;
}

Outcome<QueryFailure, std::string> QueryService(const ServiceHost& service, std::string_view path,
                                                std::chrono::milliseconds limit) {
  Transfer t;
  if (!t.Ok()) return Fail(QueryFailure::kUnreachable, CURLE_FAILED_INIT);
  CURL* e = t.Easy();
  std::string url = service.BaseUrl();
  if (path.empty() || path[0] != '/') url += '/';
  url += path;
  Sink sink;
  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
  if (service.OnSocket()) curl_easy_setopt(e, CURLOPT_UNIX_SOCKET_PATH, service.socketPath.c_str());
  curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(limit.count()));
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limit.count()));
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &sink);
  TransferEnd end = t.Run([] { return false; });
  if (!end) {
    int detail = end.Reason() == TransferFailure::kFailed ? end.Detail() : CURLE_OPERATION_TIMEDOUT;
    return Fail(QueryFailure::kUnreachable, detail);
  }
  long code = 0;
  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &code);
  if (code != 200) return Fail(QueryFailure::kStatus, static_cast<int>(code));
  return std::move(sink.body);
}

Outcome<QueryFailure, std::string> BrowserAddress(const ServiceHost& service,
                                                  std::chrono::milliseconds limit) {
  if (!service.OnSocket()) return service.BrowserPrefix();
  auto answer = QueryService(service, "/cgi-bin/zbl_browser.cgi", limit);
  if (!answer) return answer;
  auto url = JsonStringField(answer.Value(), "url");
  if (!url || !IsLoopbackPrefix(*url)) return Fail(QueryFailure::kBadAnswer);
  return *url;
}

}  // namespace zb::net
