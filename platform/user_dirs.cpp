#include "platform/user_dirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace zb {

std::string HomeDirectory() {
  if (const char* h = std::getenv("HOME"); h && *h == '/') return h;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd pw{}, *found = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found &&
      found->pw_dir && found->pw_dir[0] == '/')
    return found->pw_dir;
  return "";
}

std::string XdgBaseDirectory(const char* variable, const char* homeRelative) {
  if (const char* v = std::getenv(variable); v && *v == '/') return v;
  std::string home = HomeDirectory();
  return home.empty() ? std::string() : home + "/" + homeRelative;
}

}  // namespace zb
