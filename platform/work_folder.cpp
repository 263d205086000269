#include "platform/work_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/user_dirs.h"

namespace zb {
namespace {

// Makes every missing folder of `path` (mode 0700), as mkdir -p does.
bool MakeFolders(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return true;
  if (errno != ENOENT) return false;
  size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return false;
  if (!MakeFolders(path.substr(0, slash))) return false;
  return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// The folder itself must be the user's own: a link or another user's folder
// (someone else may have made it first in a shared temporary folder) is
// refused, never followed or written into.
bool Usable(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
    return false;
  if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) return false;
  return ::access(path.c_str(), W_OK | X_OK) == 0;
}

std::string CacheCandidate() {
  std::string cache = XdgBaseDirectory("XDG_CACHE_HOME", ".cache");
  return cache.empty() ? std::string() : cache + "/zimbrel/tmp";
}

std::string SystemTmpCandidate() {
  const char* t = std::getenv("TMPDIR");
  std::string base = t && *t == '/' ? t : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/zimbrel-" + std::to_string(::geteuid());
}

}  // namespace

bool PrepareWorkFolder(const std::string& path) {
  if (path.empty()) return false;
  // Only the user's own cache gets its missing parents; in the system's
  // temporary folder only the last folder is made.
  bool made = path == CacheCandidate() ? MakeFolders(path)
                                       : (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST);
  return made && Usable(path);
}

WorkFolderChoice ChooseUserWorkFolder() {
  WorkFolderChoice choice;
  for (const std::string& c : {CacheCandidate(), SystemTmpCandidate()}) {
    if (c.empty()) continue;
    if (choice.path.empty()) choice.path = c;
    if (PrepareWorkFolder(c)) return {c, true};
  }
  return choice;
}

WorkFolder::WorkFolder(const std::string& moduleDir)
    : pagesTmp_(moduleDir + "/res/tmp/"), folder_(moduleDir + "/res/tmp") {}

WorkFolder::WorkFolder(const std::string& moduleDir, std::string folder)
    : pagesTmp_(moduleDir + "/res/tmp/"), folder_(std::move(folder)) {}

std::string WorkFolder::Map(const std::string& pagePath) const {
  if (pagePath.size() <= pagesTmp_.size() || pagePath.compare(0, pagesTmp_.size(), pagesTmp_) != 0)
    return pagePath;
  std::string rest = pagePath.substr(pagesTmp_.size());
  // No way out of the folder through dot segments.
  for (size_t start = 0; start <= rest.size();) {
    size_t end = rest.find('/', start);
    if (end == std::string::npos) end = rest.size();
    std::string segment = rest.substr(start, end - start);
    if (segment == "." || segment == "..") return pagePath;
    start = end + 1;
  }
  return folder_ + "/" + rest;
}

}  // namespace zb
