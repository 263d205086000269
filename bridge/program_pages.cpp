#include "bridge/program_pages.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <system_error>

namespace zb {
namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

std::string Resolve(const std::string& path) {
  if (path.empty()) return "";
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool Inside(const std::string& path, const std::string& folder) {
  return !folder.empty() && path.size() > folder.size() + 1 &&
         path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// Percent-decodes `s`; false on a malformed or NUL escape.
bool Decode(std::string_view s, std::string* out) {
  out->clear();
  out->reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      if (s[i] == '\0') return false;
      *out += s[i];
      continue;
    }
    unsigned byte = 0;
    const char* hex = s.data() + i + 1;
    if (i + 2 >= s.size() || std::from_chars(hex, hex + 2, byte, 16).ptr != hex + 2 || byte == 0)
      return false;
    *out += static_cast<char>(byte);
    i += 2;
  }
  return true;
}

bool HasDotSegment(std::string_view path) {
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view seg = path.substr(start, end - start);
    if (seg == "." || seg == "..") return true;
    start = end + 1;
  }
  return false;
}

std::string Extension(std::string_view path) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return "";
  std::string ext(path.substr(dot + 1));
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

bool IsAudio(std::string_view path) {
  const std::string ext = Extension(path);
  for (const char* a : {"mp3", "wav", "ogg", "oga", "m4a", "aac", "mp4", "wma"})
    if (ext == a) return true;
  return false;
}

// Opens a regular file for reading without following a final link and
// without blocking on a FIFO; -1 for anything else.
int OpenRegular(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

std::string RealPathOfFileUri(std::string_view uri) {
  if (!StartsWithNoCase(uri, "file:")) return "";
  std::string_view rest = uri.substr(5);
  if (rest.substr(0, 2) == "//") {
    rest.remove_prefix(2);
    size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return "";
    std::string_view host = rest.substr(0, slash);
    if (!host.empty() && !(host.size() == 9 && StartsWithNoCase(host, "localhost"))) return "";
    rest.remove_prefix(slash);
  }
  rest = rest.substr(0, rest.find_first_of("?#"));
  if (rest.empty() || rest[0] != '/') return "";
  std::string path;
  if (!Decode(rest, &path)) return "";
  return Resolve(path);
}

std::string PathOfPageAddress(std::string_view uri) {
  constexpr std::string_view kOrigin = kPageOrigin;
  if (!StartsWithNoCase(uri, kOrigin)) return "";
  std::string_view rest = uri.substr(kOrigin.size());
  rest = rest.substr(0, rest.find_first_of("?#"));
  if (rest.empty() || rest[0] != '/') return "";
  std::string path;
  if (!Decode(rest, &path) || HasDotSegment(path)) return "";
  return path;
}

std::string PageAddress(std::string_view path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = kPageOrigin;
  for (unsigned char c : path) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
        c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

ProgramPages::ProgramPages(const std::string& moduleDir, const std::string& workDir)
    : m_module(moduleDir), m_pages(Resolve(moduleDir + "/res")), m_work(Resolve(workDir)) {}

bool ProgramPages::Contains(std::string_view uri) const {
  if (m_module.empty()) return false;
  const std::string path = PathOfPageAddress(uri);
  return Inside(path, m_module + "/res") && !StartsWith(path, m_module + "/res/tmp/");
}

std::string ProgramPages::AddressFor(const std::string& pageOrUri) const {
  if (m_pages.empty() || pageOrUri.empty()) return "";
  std::string real;
  if (StartsWithNoCase(pageOrUri, kPageOrigin)) {
    const std::string path = PathOfPageAddress(pageOrUri);
    if (!Contains(pageOrUri)) return "";
    real = Resolve(path);
  } else if (StartsWithNoCase(pageOrUri, "file:")) {
    real = RealPathOfFileUri(pageOrUri);
  } else if (pageOrUri[0] == '/') {
    real = Resolve(pageOrUri);
  } else if (pageOrUri.find(':') == std::string::npos ||
             pageOrUri.find('/') < pageOrUri.find(':')) {
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd)) return "";
    real = Resolve(std::string(cwd) + "/" + pageOrUri);
  }
  struct stat st;
  if (!Inside(real, m_pages) || Inside(real, m_work) || Inside(real, m_pages + "/tmp") ||
      ::stat(real.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return "";
  return PageAddress(m_module + "/res" + real.substr(m_pages.size()));
}

ProgramPages::Opened ProgramPages::Open(std::string_view uri) const {
  Opened out;
  if (m_pages.empty()) return out;
  const std::string path = PathOfPageAddress(uri);
  const std::string tmp = m_module + "/res/tmp/";
  if (StartsWith(path, tmp)) {
    // A work file: an audio file the flow made, directly in the work folder.
    const std::string name = path.substr(tmp.size());
    if (m_work.empty() || name.empty() || name.find('/') != std::string::npos || !IsAudio(name))
      return out;
    out.path = m_work + "/" + name;
  } else {
    if (!Inside(path, m_module + "/res")) return out;
    const std::string real = Resolve(path);
    if (!Inside(real, m_pages) || Inside(real, m_work) || Inside(real, m_pages + "/tmp"))
      return out;
    out.path = real;
  }
  out.fd = OpenRegular(out.path);
  if (out.fd >= 0) out.mime = MimeTypeOf(out.path);
  return out;
}

bool ParseByteRange(std::string_view header, uint64_t size, uint64_t* first, uint64_t* last) {
  constexpr std::string_view kUnit = "bytes=";
  if (!StartsWithNoCase(header, kUnit) || size == 0) return false;
  std::string_view range = header.substr(kUnit.size());
  while (!range.empty() && range.front() == ' ') range.remove_prefix(1);
  while (!range.empty() && range.back() == ' ') range.remove_suffix(1);
  const size_t dash = range.find('-');
  if (dash == std::string_view::npos || range.find(',') != std::string_view::npos) return false;
  auto number = [](std::string_view t, uint64_t* v) {
    if (t.empty()) return false;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), *v);
    return ec == std::errc() && end == t.data() + t.size();
  };
  const std::string_view a = range.substr(0, dash), b = range.substr(dash + 1);
  uint64_t x = 0, y = 0;
  if (a.empty()) {  // the last y bytes
    if (!number(b, &y) || y == 0) return false;
    *first = y >= size ? 0 : size - y;
    *last = size - 1;
    return true;
  }
  if (!number(a, &x) || x >= size) return false;
  if (b.empty()) {
    y = size - 1;
  } else if (!number(b, &y) || y < x) {
    return false;
  }
  *first = x;
  *last = y >= size ? size - 1 : y;
  return true;
}

std::string MimeTypeOf(std::string_view path) {
  static const struct {
    const char* ext;
    const char* mime;
  } kTypes[] = {
      {"html", "text/html"},      {"htm", "text/html"},     {"js", "text/javascript"},
      {"mjs", "text/javascript"}, {"css", "text/css"},      {"json", "application/json"},
      {"png", "image/png"},       {"jpg", "image/jpeg"},    {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},       {"svg", "image/svg+xml"}, {"ico", "image/x-icon"},
      {"webp", "image/webp"},     {"woff", "font/woff"},    {"woff2", "font/woff2"},
      {"ttf", "font/ttf"},        {"txt", "text/plain"},    {"mp3", "audio/mpeg"},
      {"wav", "audio/wav"},       {"ogg", "audio/ogg"},     {"oga", "audio/ogg"},
      {"m4a", "audio/mp4"},       {"aac", "audio/aac"},     {"mp4", "audio/mp4"},
      {"wma", "audio/x-ms-wma"},
  };
  const std::string ext = Extension(path);
  for (const auto& t : kTypes)
    if (ext == t.ext) return t.mime;
  return "application/octet-stream";
}

}  // namespace zb
