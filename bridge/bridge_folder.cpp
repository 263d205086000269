#include "bridge/bridge_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace zb {
namespace {

constexpr char kPrefix[] = "zimbrel-";
constexpr size_t kNameLength = sizeof kPrefix - 1 + 6;  // "zimbrel-XXXXXX"
constexpr time_t kOldLayoutAge = 60;

bool IsOurEntry(const char* name) {
  return std::strcmp(name, "bridge") == 0 || std::strcmp(name, "lock") == 0 ||
         std::strcmp(name, "lock.new") == 0;
}

// Whether a process accepts connections on the socket.
bool Listening(const std::string& socketPath) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return true;  // cannot tell: keep the folder
  bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ||
            (errno != ECONNREFUSED && errno != ENOENT);
  ::close(fd);
  return up;
}

void RemoveEntries(int dirFd) {
  for (const char* name : {"bridge", "lock.new", "lock"}) ::unlinkat(dirFd, name, 0);
}

// Whether the folder `name` in `parentFd` was left by a program that is gone;
// removes it when it was.
bool SweepOne(int parentFd, const std::string& parent, const char* name) {
  struct stat st;
  if (::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
      st.st_uid != ::geteuid())
    return false;
  int dirFd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dirFd < 0) return false;
  bool onlyOurs = true, hasLock = false;
  if (DIR* d = ::fdopendir(::dup(dirFd))) {
    while (dirent* e = ::readdir(d)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      if (!IsOurEntry(e->d_name)) onlyOurs = false;
      if (std::strcmp(e->d_name, "lock") == 0) hasLock = true;
    }
    ::closedir(d);
  } else {
    onlyOurs = false;
  }
  bool gone = false;
  int lockFd = -1;
  if (onlyOurs && hasLock) {
    lockFd = ::openat(dirFd, "lock", O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    gone = lockFd >= 0 && ::flock(lockFd, LOCK_EX | LOCK_NB) == 0;
  } else if (onlyOurs) {
    // A folder without a lock: an earlier layout, or a program that is
    // making its folder right now (which takes microseconds).
    gone = std::time(nullptr) - st.st_mtime >= kOldLayoutAge &&
           !Listening(parent + "/" + name + "/bridge");
  }
  if (gone) {
    RemoveEntries(dirFd);
    gone = ::unlinkat(parentFd, name, AT_REMOVEDIR) == 0;
  }
  if (lockFd >= 0) ::close(lockFd);
  ::close(dirFd);
  return gone;
}

}  // namespace

std::string BridgeFolderParent() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st;
  if (runtime && runtime[0] == '/' && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) &&
      st.st_uid == ::geteuid() && (st.st_mode & 077) == 0)
    return runtime;
  return TemporaryFolder();
}

std::string TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && tmp[0] == '/' ? tmp : "/tmp";
}

bool MakeBridgeFolder(const std::string& parent, std::string* dir, int* lockFd) {
  std::string tmpl = parent + "/" + kPrefix + "XXXXXX";
  if (!::mkdtemp(tmpl.data())) return false;  // mode 0700
  // The lock is taken under another name and then renamed, so that a lock
  // file that a sweeping start sees is always locked while its program runs.
  std::string fresh = tmpl + "/lock.new";
  int fd = ::open(fresh.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0 || ::flock(fd, LOCK_EX) != 0 ||
      ::rename(fresh.c_str(), (tmpl + "/lock").c_str()) != 0) {
    if (fd >= 0) ::close(fd);
    ::unlink(fresh.c_str());
    ::rmdir(tmpl.c_str());
    return false;
  }
  *dir = tmpl;
  *lockFd = fd;
  return true;
}

void RemoveBridgeFolder(const std::string& dir, int lockFd) {
  if (!dir.empty()) {
    int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd >= 0) {
      RemoveEntries(dirFd);
      ::close(dirFd);
    }
    ::rmdir(dir.c_str());
  }
  if (lockFd >= 0) ::close(lockFd);
}

std::vector<std::string> SweepLeftBridgeFolders(const std::vector<std::string>& parents) {
  std::vector<std::string> removed;
  for (size_t i = 0; i < parents.size(); ++i) {
    const std::string& parent = parents[i];
    bool seen = false;
    for (size_t j = 0; j < i; ++j) seen = seen || parents[j] == parent;
    if (seen) continue;
    int parentFd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0) continue;
    std::vector<std::string> names;
    if (DIR* d = ::fdopendir(::dup(parentFd))) {
      while (dirent* e = ::readdir(d))
        if (std::strlen(e->d_name) == kNameLength &&
            std::strncmp(e->d_name, kPrefix, sizeof kPrefix - 1) == 0)
          names.push_back(e->d_name);
      ::closedir(d);
    }
    for (const std::string& name : names)
      if (SweepOne(parentFd, parent, name.c_str())) removed.push_back(parent + "/" + name);
    ::close(parentFd);
  }
  return removed;
}

}  // namespace zb
