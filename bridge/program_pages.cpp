#include "bridge/program_pages.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <charconv>

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
  path.reserve(rest.size());
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != '%') {
      path += rest[i];
      continue;
    }
    unsigned byte = 0;
    const char* hex = rest.data() + i + 1;
    if (i + 2 >= rest.size() || std::from_chars(hex, hex + 2, byte, 16).ptr != hex + 2 || byte == 0)
      return "";
    path += static_cast<char>(byte);
    i += 2;
  }
  return Resolve(path);
}

ProgramPages::ProgramPages(const std::string& pagesDir, const std::string& workDir)
    : m_pages(Resolve(pagesDir)), m_work(Resolve(workDir)) {}

bool ProgramPages::Contains(std::string_view uri) const {
  if (m_pages.empty()) return false;
  std::string path = RealPathOfFileUri(uri);
  struct stat st;
  return Inside(path, m_pages) && !Inside(path, m_work) && ::stat(path.c_str(), &st) == 0 &&
         S_ISREG(st.st_mode);
}

}  // namespace zb
