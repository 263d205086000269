#include "net/charset.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>

#include "platform/utf.h"

namespace zb::net {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return std::string(s.substr(b, e - b + 1));
}

// Charset names go to iconv_open; anything but a plain name (iconv reads
// "//" suffixes as options) counts as unknown.
bool PlainName(const std::string& name) {
  if (name.empty() || name.size() > 40) return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_' || c == '.' || c == ':';
    if (!ok) return false;
  }
  return true;
}

bool IsUtf8Name(const std::string& name) {
  std::string n;
  for (char c : name) n += Lower(c);
  return n == "utf-8" || n == "utf8";
}

// The size of one code unit of the encoding `name`: an invalid or cut
// sequence is skipped by whole units, so that what follows stays aligned.
size_t UnitBytes(const char* name) {
  std::string n;
  for (const char* p = name; *p; ++p)
    if (*p != '-' && *p != '_') n += Lower(*p);
  auto starts = [&](const char* prefix) { return n.rfind(prefix, 0) == 0; };
  if (starts("utf16") || starts("ucs2") || starts("unicode")) return 2;
  if (starts("utf32") || starts("ucs4")) return 4;
  return 1;
}

// Converts with iconv; false when iconv does not know `from`.
bool Convert(std::string_view in, const char* from, std::string* out) {
  iconv_t cd = iconv_open("UTF-8", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  const size_t unit = UnitBytes(from);
  out->clear();
  out->reserve(in.size() + in.size() / 2);
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char buf[8192];
  while (srcLeft > 0) {
    char* dst = buf;
    size_t dstLeft = sizeof(buf);
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out->append(buf, static_cast<size_t>(dst - buf));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ (invalid, a broken surrogate pair) or EINVAL (cut short at
      // the end): one replacement for one code unit.
      *out += kReplacement;
      size_t skip = std::min(unit, srcLeft);
      src += skip;
      srcLeft -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  char* dst = buf;
  size_t dstLeft = sizeof(buf);
  iconv(cd, nullptr, nullptr, &dst, &dstLeft);  // flush any shift state
  out->append(buf, static_cast<size_t>(dst - buf));
  iconv_close(cd);
  return true;
}

}  // namespace

std::string CharsetOf(std::string_view contentType) {
  size_t semi = contentType.find(';');
  while (semi != std::string_view::npos) {
    size_t next = contentType.find(';', semi + 1);
    std::string_view param = contentType.substr(
        semi + 1, next == std::string_view::npos ? std::string_view::npos : next - semi - 1);
    size_t eq = param.find('=');
    if (eq != std::string_view::npos) {
      std::string name = Trim(param.substr(0, eq));
      for (char& c : name) c = Lower(c);
      if (name == "charset") {
        std::string value = Trim(param.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
          value = value.substr(1, value.size() - 2);
        return value;
      }
    }
    semi = next;
  }
  return "";
}

std::string DecodeToUtf8(std::string_view body, const std::string& charset) {
  auto starts = [&](std::string_view bom) { return body.substr(0, bom.size()) == bom; };
  std::string out;
  if (starts("\xEF\xBB\xBF")) return SanitizeUtf8(body.substr(3));
  if (starts("\xFF\xFE") && Convert(body.substr(2), "UTF-16LE", &out)) return out;
  if (starts("\xFE\xFF") && Convert(body.substr(2), "UTF-16BE", &out)) return out;
  if (charset.empty() || IsUtf8Name(charset) || !PlainName(charset)) return SanitizeUtf8(body);
  if (Convert(body, charset.c_str(), &out)) return out;
  return SanitizeUtf8(body);
}

}  // namespace zb::net
