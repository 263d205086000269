#include "platform/work_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

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

namespace {

constexpr char kRunPrefix[] = "run-";
constexpr char kRunLock[] = ".lock";

// Removes the files directly in the folder `dirfd` (links as links, never
// followed), then the folder `name` in `parentfd`.
void RemoveRunFolderAt(int parentfd, const char* name, int dirfd) {
  if (DIR* d = ::fdopendir(::dup(dirfd))) {
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
        names.push_back(e->d_name);
    ::closedir(d);
    for (const std::string& n : names) ::unlinkat(dirfd, n.c_str(), 0);
  }
  ::unlinkat(parentfd, name, AT_REMOVEDIR);
}

}  // namespace

void SweepLeftRunFolders(const std::string& userFolder) {
  int parent = ::open(userFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (parent < 0) return;
  std::vector<std::string> runs;
  if (DIR* d = ::fdopendir(::dup(parent))) {
    while (dirent* e = ::readdir(d))
      if (std::string(e->d_name).rfind(kRunPrefix, 0) == 0) runs.push_back(e->d_name);
    ::closedir(d);
  }
  for (const std::string& run : runs) {
    int dir = ::openat(parent, run.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) continue;
    int lock = ::openat(dir, kRunLock, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    // Held by a running program, or not a run folder of ours: left alone.
    if (lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0)
      RemoveRunFolderAt(parent, run.c_str(), dir);
    if (lock >= 0) ::close(lock);
    ::close(dir);
  }
  ::close(parent);
}

bool RunWorkFolder::Make(const std::string& userFolder) {
  SweepLeftRunFolders(userFolder);
  // Made under another name and locked before it takes its run name, so that
  // a sweep never sees it unlocked.
  std::string made = userFolder + "/new-XXXXXX";
  if (!::mkdtemp(made.data())) return false;
  const std::string lockPath = made + "/" + kRunLock;
  const std::string run = userFolder + "/" + kRunPrefix + made.substr(made.size() - 6);
  int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::rename(made.c_str(), run.c_str()) != 0) {
    if (fd >= 0) ::close(fd);
    ::unlink(lockPath.c_str());
    ::rmdir(made.c_str());
    return false;
  }
  m_path = run;
  m_lockFd = fd;
  return true;
}

RunWorkFolder::~RunWorkFolder() {
  if (m_path.empty()) return;
  const size_t slash = m_path.rfind('/');
  int parent = ::open(m_path.substr(0, slash).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int dir = ::open(m_path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (parent >= 0 && dir >= 0) RemoveRunFolderAt(parent, m_path.c_str() + slash + 1, dir);
  if (dir >= 0) ::close(dir);
  if (parent >= 0) ::close(parent);
  if (m_lockFd >= 0) ::close(m_lockFd);
}

WorkFolder::WorkFolder(const std::string& moduleDir)
    : m_pagesTmp(moduleDir + "/res/tmp/"), m_folder(moduleDir + "/res/tmp") {}

WorkFolder::WorkFolder(const std::string& moduleDir, std::string folder)
    : m_pagesTmp(moduleDir + "/res/tmp/"), m_folder(std::move(folder)) {}

std::string WorkFolder::Map(const std::string& pagePath) const {
  if (pagePath.size() <= m_pagesTmp.size() ||
      pagePath.compare(0, m_pagesTmp.size(), m_pagesTmp) != 0)
    return pagePath;
  std::string rest = pagePath.substr(m_pagesTmp.size());
  // No way out of the folder through dot segments.
  for (size_t start = 0; start <= rest.size();) {
    size_t end = rest.find('/', start);
    if (end == std::string::npos) end = rest.size();
    std::string segment = rest.substr(start, end - start);
    if (segment == "." || segment == "..") return pagePath;
    start = end + 1;
  }
  return m_folder + "/" + rest;
}

}  // namespace zb
