#include "bridge/url_encode.h"

#include "platform/service_host.h"

namespace zb {

std::string UrlEncode(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      out += static_cast<char>(c);
    } else if (c == ' ' || (c >= '\t' && c <= '\r')) {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string BuildRedirectUrl(std::string_view where) {
  return "http://" + GetServiceHost().authority() + "/redir.php?ver=" + UrlEncode("260") +
         "&aff=" + UrlEncode("2") + "&where=" + UrlEncode(where);
}

}  // namespace zb
