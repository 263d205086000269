#include "platform/registry_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/user_dirs.h"
#include "platform/utf.h"

namespace zb::reg {

struct KeyObject {
  std::string dir;  // folder of the key
  REGSAM sam = 0;
  bool predefined = false;
  const char* rootName = "";
  size_t rootLen = 0;  // `dir` up to here is the root's folder
};

namespace {

// Indexed by Root; each root's folder is named after it (rootName).
KeyObject gRoots[kRootCount] = {
    {"", KEY_ALL_ACCESS, true, "HKEY_CLASSES_ROOT", 0},
    {"", KEY_ALL_ACCESS, true, "HKEY_CURRENT_CONFIG", 0},
    {"", KEY_ALL_ACCESS, true, "HKEY_CURRENT_USER", 0},
    {"", KEY_ALL_ACCESS, true, "HKEY_LOCAL_MACHINE", 0},
    {"", KEY_ALL_ACCESS, true, "HKEY_USERS", 0},
    {"", KEY_ALL_ACCESS, true, "HKEY_DYN_DATA", 0},
};

constexpr int Index(Root root) {
  return static_cast<int>(root);
}

constexpr const char kTempPrefix[] = ".zbtmp-";

bool IsPredefined(HKEY k) {
  return k >= &gRoots[0] && k < &gRoots[kRootCount];
}

bool IsValid(HKEY k) {
  return k != nullptr;
}

std::string RootDir(HKEY root) {
  std::string name = root->rootName;
  if (const char* d = std::getenv("ZIMBREL_REGISTRY_DIR"); d && *d)
    return std::string(d) + "/" + name;
  if (root == &gRoots[Index(Root::kCurrentUser)]) {
    std::string base = XdgBaseDirectory("XDG_CONFIG_HOME", ".config");
    if (base.empty()) return "";
    return base + "/zimbrel/registry/" + name;
  }
  return "/var/lib/zimbrel/registry/" + name;
}

std::string DirOf(HKEY k) {
  return IsPredefined(k) ? RootDir(k) : k->dir;
}

bool IsMachineRoot(const std::string& dir) {
  const char* d = std::getenv("ZIMBREL_REGISTRY_DIR");
  if (d && *d) return dir.find("/HKEY_CURRENT_USER") == std::string::npos;
  return dir.rfind("/var/lib/zimbrel/", 0) == 0;
}

// Splits "A\B\\C" into components, skipping empty ones. False for a component
// that cannot name a key ("." or ".." are escaped, so every text is fine).
std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool IsDir(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

LONG ErrnoToError(int e) {
  switch (e) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case ELOOP:  // a symbolic link where a key or value should be
      return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case ENOMEM:
      return ERROR_OUTOFMEMORY;
    case EEXIST:
    case EISDIR:
      return ERROR_ALREADY_EXISTS;
    case ENAMETOOLONG:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_WRITE_FAULT;
  }
}

// Creates every missing folder of a root's path (root folders only).
LONG MakeDirs(const std::string& dir, mode_t mode) {
  std::string cur;
  size_t pos = 0;
  while (pos < dir.size()) {
    size_t next = dir.find('/', pos + 1);
    if (next == std::string::npos) next = dir.size();
    cur = dir.substr(0, next);
    pos = next;
    if (cur.empty()) continue;
    if (::mkdir(cur.c_str(), mode) != 0 && errno != EEXIST) return ErrnoToError(errno);
  }
  return IsDir(dir) ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
}

// An open folder descriptor, closed when it goes.
class DirFd {
 public:
  DirFd() = default;
  explicit DirFd(int fd) : m_fd(fd) {}
  ~DirFd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  DirFd(DirFd&& o) noexcept : m_fd(o.m_fd) { o.m_fd = -1; }
  DirFd& operator=(DirFd&& o) noexcept {
    std::swap(m_fd, o.m_fd);
    return *this;
  }
  int Get() const { return m_fd; }
  bool Ok() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

// Opens the folder `name` inside `parent` without following a symbolic link.
DirFd OpenSub(int parent, const std::string& name) {
  return DirFd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// The key's folder, reached from its root's folder one component at a time,
// never through a symbolic link below the root (a planted link is never
// taken for a key, so nothing is read, written or deleted where it points).
// With `create`, missing components of `more` are made with `mode`. Invalid
// with errno set on failure (ENOTDIR: a value or other file is in the way).
DirFd WalkKey(HKEY key, const std::vector<std::string>& more = {}, bool create = false,
              mode_t mode = 0700, bool* created = nullptr) {
  std::string dir = DirOf(key);
  size_t rootLen = IsPredefined(key) ? dir.size() : key->rootLen;
  if (dir.empty()) {
    errno = ENOENT;
    return DirFd();
  }
  DirFd fd(::open(dir.substr(0, rootLen).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.Ok()) return fd;
  std::vector<std::string> parts;
  for (size_t i = rootLen; i < dir.size();) {
    size_t j = dir.find('/', i + 1);
    if (j == std::string::npos) j = dir.size();
    if (j > i + 1) parts.push_back(dir.substr(i + 1, j - i - 1));
    i = j;
  }
  const size_t own = parts.size();
  for (const auto& m : more) parts.push_back(EscapeName(m));
  for (size_t i = 0; i < parts.size(); ++i) {
    if (create && i >= own) {
      if (::mkdirat(fd.Get(), parts[i].c_str(), mode) == 0) {
        if (created) *created = true;
      } else if (errno != EEXIST) {
        return DirFd();
      }
    }
    DirFd next = OpenSub(fd.Get(), parts[i]);
    if (!next.Ok()) {
      if (errno == ENOTDIR || errno == ELOOP) {
        struct stat st;
        // A symbolic link (to a folder or not) is refused as such.
        if (::fstatat(fd.Get(), parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
          errno = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
      }
      return DirFd();
    }
    fd = std::move(next);
  }
  return fd;
}

// An open key whose folder is gone reads as "the key was deleted".
LONG WalkError(HKEY key, int err) {
  if (!IsPredefined(key) && (err == ENOENT || err == ENOTDIR)) return ERROR_BADKEY;
  return ErrnoToError(err);
}

bool ReadFileAt(int dirfd, const std::string& name, std::string* out, int* err) {
  int fd = ::openat(dirfd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    *err = errno;
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *err = S_ISDIR(st.st_mode) ? EISDIR : EIO;
    ::close(fd);
    return false;
  }
  out->clear();
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      *err = errno;
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out->append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

std::atomic<unsigned> gTempCounter{0};

// Replaces `file` in the folder `dirfd` with contents atomically. The
// temporary name carries the writer's pid so that a sweep removes only what
// a dead writer left.
LONG AtomicWrite(int dirfd, const std::string& file, const std::string& contents, mode_t mode) {
  struct stat st;
  if (::fstatat(dirfd, file.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
    return ERROR_ALREADY_EXISTS;  // a subkey of that name
  std::string tmp = std::string(kTempPrefix) + std::to_string(::getpid()) + "-" +
                    std::to_string(gTempCounter.fetch_add(1)) + "-" +
                    std::to_string(static_cast<long>(::time(nullptr)));
  int fd = ::openat(dirfd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
  if (fd < 0) return ErrnoToError(errno);
  bool ok = WriteAll(fd, contents.data(), contents.size());
  int err = errno;
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    err = errno;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlinkat(dirfd, tmp.c_str(), 0);
    return ErrnoToError(err);
  }
  // A symbolic link of that name is replaced, never followed.
  if (::renameat(dirfd, tmp.c_str(), dirfd, file.c_str()) != 0) {
    err = errno;
    ::unlinkat(dirfd, tmp.c_str(), 0);
    return ErrnoToError(err);
  }
  return ERROR_SUCCESS;
}

struct Entry {
  std::string name;  // unescaped; "" for the default value
  bool isKey;
};

// The names in a folder, "." and ".." left out.
std::vector<std::string> RawNames(int dirfd) {
  std::vector<std::string> out;
  int dup = ::fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
  if (dup < 0) return out;
  DIR* d = ::fdopendir(dup);
  if (!d) {
    ::close(dup);
    return out;
  }
  ::rewinddir(d);  // the duplicate shares the position of earlier reads
  while (dirent* e = ::readdir(d))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      out.emplace_back(e->d_name);
  ::closedir(d);
  return out;
}

// The keys and values of a key's folder. Only names this store writes count:
// the file "@" is the default value, and every other entry's name must be
// the escaped form of what it unescapes to, so that "@" and "%40" (the value
// named "@"), or "%2F" and "%2f", are never taken for one another. Dot-names
// (temporaries) and symbolic links are no part of the key.
std::vector<Entry> ListEntries(int dirfd) {
  std::vector<Entry> out;
  for (const auto& raw : RawNames(dirfd)) {
    if (raw[0] == '.') continue;
    struct stat st;
    if (::fstatat(dirfd, raw.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    bool isKey = S_ISDIR(st.st_mode);
    if (!isKey && !S_ISREG(st.st_mode)) continue;
    if (!isKey && raw == "@") {
      out.push_back({"", false});
      continue;
    }
    std::string name = UnescapeName(raw);
    if (EscapeName(name) != raw) continue;
    out.push_back({std::move(name), isKey});
  }
  std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return out;
}

bool IsStringType(DWORD t) {
  return t == REG_SZ || t == REG_EXPAND_SZ || t == REG_MULTI_SZ;
}

std::string ValueFile(const char* name) {
  return (name == nullptr || *name == 0) ? std::string("@") : EscapeName(name);
}

// Deletes everything inside the folder `dirfd`: files and symbolic links
// themselves (never what a link points at), folders with all they hold.
LONG EmptyFolder(int dirfd) {
  LONG result = ERROR_SUCCESS;
  for (const auto& n : RawNames(dirfd)) {
    struct stat st;
    if (::fstatat(dirfd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      DirFd sub = OpenSub(dirfd, n);
      if (!sub.Ok()) {  // replaced by a link meanwhile: the link goes
        if (::unlinkat(dirfd, n.c_str(), 0) != 0) result = ErrnoToError(errno);
        continue;
      }
      LONG r = EmptyFolder(sub.Get());
      if (r == ERROR_SUCCESS && ::unlinkat(dirfd, n.c_str(), AT_REMOVEDIR) != 0)
        r = ErrnoToError(errno);
      if (r != ERROR_SUCCESS) result = r;
    } else if (::unlinkat(dirfd, n.c_str(), 0) != 0) {
      result = ErrnoToError(errno);
    }
  }
  return result;
}

// Removes the temporaries that a dead writer left in the folder.
void SweepTemporariesAt(int dirfd) {
  const size_t plen = sizeof(kTempPrefix) - 1;
  for (const auto& n : RawNames(dirfd)) {
    if (std::strncmp(n.c_str(), kTempPrefix, plen) != 0) continue;
    long pid = std::strtol(n.c_str() + plen, nullptr, 10);
    struct stat st;
    if (::fstatat(dirfd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    bool dead = pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
    // A live pid may be a reused one: a temporary older than a minute is
    // never an in-progress write.
    bool old = ::time(nullptr) - st.st_mtime > 60;
    if (dead || old) ::unlinkat(dirfd, n.c_str(), 0);
  }
}

std::string ToUtf8(const char16_t* s) {
  if (!s) return {};
  return Utf16ToUtf8(std::u16string_view(s));
}

}  // namespace

const HKEY HKEY_CLASSES_ROOT = &gRoots[Index(Root::kClassesRoot)];
const HKEY HKEY_CURRENT_CONFIG = &gRoots[Index(Root::kCurrentConfig)];
const HKEY HKEY_CURRENT_USER = &gRoots[Index(Root::kCurrentUser)];
const HKEY HKEY_LOCAL_MACHINE = &gRoots[Index(Root::kLocalMachine)];
const HKEY HKEY_USERS = &gRoots[Index(Root::kUsers)];
const HKEY HKEY_DYN_DATA = &gRoots[Index(Root::kDynData)];

HKEY RootKey(Root root) {
  const int i = Index(root);
  return i >= 0 && i < kRootCount ? &gRoots[i] : HKEY_CURRENT_USER;
}

std::string EscapeName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c == '/')
      out += "%2F";
    else if (c == '%')
      out += "%25";
    else if (c == '\0')
      out += "%00";
    else if (i == 0 && c == '.')
      out += "%2E";
    else if (i == 0 && c == '@')
      out += "%40";
    else
      out += c;
  }
  return out;
}

std::string UnescapeName(std::string_view file) {
  std::string out;
  out.reserve(file.size());
  for (size_t i = 0; i < file.size(); ++i) {
    if (file[i] == '%' && i + 2 < file.size()) {
      auto hex = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
      };
      int hi = hex(file[i + 1]), lo = hex(file[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += file[i];
  }
  return out;
}

std::string RootDirectory(HKEY root) {
  return IsPredefined(root) ? RootDir(root) : "";
}
std::string KeyDirectory(HKEY key) {
  return IsValid(key) ? DirOf(key) : "";
}

void SweepTemporaries(HKEY key) {
  if (!IsValid(key)) return;
  DirFd fd = WalkKey(key);
  if (fd.Ok()) SweepTemporariesAt(fd.Get());
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD, const char*, DWORD, REGSAM sam, void*,
                     HKEY* result, DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (!IsValid(key)) return ERROR_INVALID_HANDLE;
  std::string dir = DirOf(key);
  if (dir.empty()) return ERROR_FILE_NOT_FOUND;
  bool machine = IsMachineRoot(dir);
  mode_t mode = machine ? 0755 : 0700;
  if (IsPredefined(key) && !IsDir(dir)) {
    LONG r = MakeDirs(dir, mode);
    if (r != ERROR_SUCCESS) return r;
  }
  size_t rootLen = IsPredefined(key) ? dir.size() : key->rootLen;
  auto parts = SplitPath(subKey ? subKey : "");
  {
    DirFd own = WalkKey(key);
    if (!own.Ok()) return WalkError(key, errno);
  }
  bool created = false;
  DirFd fd = WalkKey(key, parts, true, mode, &created);
  if (!fd.Ok()) return errno == ENOTDIR ? ERROR_ALREADY_EXISTS : ErrnoToError(errno);
  for (const auto& part : parts) dir += "/" + EscapeName(part);
  if ((sam & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) && ::access(dir.c_str(), W_OK) != 0)
    return ERROR_ACCESS_DENIED;
  auto* k = new (std::nothrow) KeyObject{dir, sam, false, "", rootLen};
  if (!k) return ERROR_OUTOFMEMORY;
  *result = k;
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM sam, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (!IsValid(key)) return ERROR_INVALID_HANDLE;
  std::string dir = DirOf(key);
  if (dir.empty()) return ERROR_FILE_NOT_FOUND;
  size_t rootLen = IsPredefined(key) ? dir.size() : key->rootLen;
  auto parts = SplitPath(subKey ? subKey : "");
  DirFd fd = WalkKey(key, parts);
  if (!fd.Ok()) return errno == ELOOP ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
  for (const auto& part : parts) dir += "/" + EscapeName(part);
  if ((sam & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) && ::access(dir.c_str(), W_OK) != 0)
    return ERROR_ACCESS_DENIED;
  auto* k = new (std::nothrow) KeyObject{dir, sam, false, "", rootLen};
  if (!k) return ERROR_OUTOFMEMORY;
  *result = k;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (!IsValid(key)) return ERROR_INVALID_HANDLE;
  if (!IsPredefined(key)) delete key;
  return ERROR_SUCCESS;
}

LONG ReadRawValue(HKEY key, std::string_view name, RawValue* out) {
  if (!IsValid(key)) return ERROR_INVALID_HANDLE;
  std::string file = name.empty() ? std::string("@") : EscapeName(name);
  DirFd fd = WalkKey(key);
  if (!fd.Ok()) return ErrnoToError(errno);
  std::string bytes;
  int err = 0;
  if (!ReadFileAt(fd.Get(), file, &bytes, &err))
    return err == EISDIR ? ERROR_FILE_NOT_FOUND : ErrnoToError(err);
  if (bytes.size() < 4) return ERROR_FILE_NOT_FOUND;  // not a value file
  out->type = static_cast<DWORD>(static_cast<uint8_t>(bytes[0])) |
              static_cast<DWORD>(static_cast<uint8_t>(bytes[1])) << 8 |
              static_cast<DWORD>(static_cast<uint8_t>(bytes[2])) << 16 |
              static_cast<DWORD>(static_cast<uint8_t>(bytes[3])) << 24;
  out->data = bytes.substr(4);
  return ERROR_SUCCESS;
}

namespace {

// Copies data into the caller's buffer with the original's size rules.
LONG DeliverData(const std::string& data, DWORD type, DWORD* typeOut, BYTE* out, DWORD* cbData) {
  if (typeOut) *typeOut = type;
  if (!cbData) return out ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  if (data.size() > 0xFFFFFFFFu) return ERROR_MORE_DATA;
  DWORD need = static_cast<DWORD>(data.size());
  if (!out) {
    *cbData = need;
    return ERROR_SUCCESS;
  }
  if (*cbData < need) {
    *cbData = need;
    return ERROR_MORE_DATA;
  }
  if (need) std::memcpy(out, data.data(), need);
  *cbData = need;
  return ERROR_SUCCESS;
}

std::string Utf16BytesToUtf8Z(const std::string& raw) {
  std::u16string w(raw.size() / 2, u'\0');
  if (!w.empty()) std::memcpy(w.data(), raw.data(), w.size() * 2);
  std::string s = Utf16ToUtf8(w);
  if (s.empty() || s.back() != '\0') s.push_back('\0');
  return s;
}

std::string Utf8ToUtf16Bytes(const BYTE* data, DWORD cb) {
  std::string_view s(reinterpret_cast<const char*>(data), cb);
  std::u16string w = Utf8ToUtf16(s);
  if (w.empty() || w.back() != u'\0') w.push_back(u'\0');
  return std::string(reinterpret_cast<const char*>(w.data()), w.size() * 2);
}

LONG SetValueFile(HKEY key, const std::string& file, DWORD type, const std::string& data) {
  if (!IsValid(key)) return ERROR_INVALID_HANDLE;
  if (!IsPredefined(key) && !(key->sam & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  std::string dir = DirOf(key);
  if (dir.empty()) return ERROR_FILE_NOT_FOUND;
  if (IsPredefined(key) && !IsDir(dir)) {
    LONG r = MakeDirs(dir, IsMachineRoot(dir) ? 0755 : 0700);
    if (r != ERROR_SUCCESS) return r;
  }
  DirFd fd = WalkKey(key);
  if (!fd.Ok()) return WalkError(key, errno);
  SweepTemporariesAt(fd.Get());
  std::string contents(4, '\0');
  for (int i = 0; i < 4; ++i) contents[i] = static_cast<char>((type >> (8 * i)) & 0xFF);
  contents += data;
  return AtomicWrite(fd.Get(), file, contents, IsMachineRoot(dir) ? 0644 : 0600);
}

LONG DeleteValueFile(HKEY key, const std::string& file) {
  if (!IsValid(key)) return ERROR_INVALID_HANDLE;
  DirFd fd = WalkKey(key);
  if (!fd.Ok()) return ErrnoToError(errno);
  struct stat st;
  if (::fstatat(fd.Get(), file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
    return ERROR_FILE_NOT_FOUND;
  if (::unlinkat(fd.Get(), file.c_str(), 0) != 0) return ErrnoToError(errno);
  return ERROR_SUCCESS;
}

// Deletes a key (with its values; without subkeys unless `tree`), or with an
// empty path and `tree` everything below the key itself. The folders are
// reached and emptied through descriptors, never through a symbolic link: a
// link planted in the tree is removed as a link, or stops the walk.
LONG DeleteKeyDir(HKEY key, const std::string& subUtf8, bool tree) {
  if (!IsValid(key)) return ERROR_INVALID_HANDLE;
  auto parts = SplitPath(subUtf8);
  if (parts.empty() && !tree) return ERROR_INVALID_PARAMETER;
  if (parts.empty()) {
    DirFd self = WalkKey(key);
    if (!self.Ok()) return ERROR_FILE_NOT_FOUND;
    return EmptyFolder(self.Get());
  }
  std::string last = EscapeName(parts.back());
  parts.pop_back();
  DirFd parent = WalkKey(key, parts);
  if (!parent.Ok()) return ERROR_FILE_NOT_FOUND;
  DirFd target = OpenSub(parent.Get(), last);
  if (!target.Ok()) return ERROR_FILE_NOT_FOUND;
  if (!tree) {
    for (const auto& e : ListEntries(target.Get()))
      if (e.isKey) return ERROR_ACCESS_DENIED;
  }
  LONG r = EmptyFolder(target.Get());
  if (r != ERROR_SUCCESS) return r;
  if (::unlinkat(parent.Get(), last.c_str(), AT_REMOVEDIR) != 0) return ErrnoToError(errno);
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegQueryValueExA(HKEY key, const char* name, DWORD*, DWORD* type, BYTE* data, DWORD* cbData) {
  RawValue v;
  LONG r = ReadRawValue(key, name ? name : "", &v);
  if (r != ERROR_SUCCESS) return r;
  if (IsStringType(v.type))
    return DeliverData(Utf16BytesToUtf8Z(v.data), v.type, type, data, cbData);
  return DeliverData(v.data, v.type, type, data, cbData);
}

LONG RegQueryValueExW(HKEY key, const char16_t* name, DWORD*, DWORD* type, BYTE* data,
                      DWORD* cbData) {
  RawValue v;
  LONG r = ReadRawValue(key, ToUtf8(name), &v);
  if (r != ERROR_SUCCESS) return r;
  return DeliverData(v.data, v.type, type, data, cbData);
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD, DWORD type, const BYTE* data, DWORD cbData) {
  if (!data && cbData) return ERROR_INVALID_PARAMETER;
  std::string bytes = IsStringType(type) ? Utf8ToUtf16Bytes(data, cbData)
                                         : std::string(reinterpret_cast<const char*>(data), cbData);
  return SetValueFile(key, ValueFile(name), type, bytes);
}

LONG RegSetValueExW(HKEY key, const char16_t* name, DWORD, DWORD type, const BYTE* data,
                    DWORD cbData) {
  if (!data && cbData) return ERROR_INVALID_PARAMETER;
  std::string n = ToUtf8(name);
  return SetValueFile(key, ValueFile(n.c_str()), type,
                      std::string(reinterpret_cast<const char*>(data), cbData));
}

LONG RegDeleteValueA(HKEY key, const char* name) {
  return DeleteValueFile(key, ValueFile(name));
}
LONG RegDeleteValueW(HKEY key, const char16_t* name) {
  std::string n = ToUtf8(name);
  return DeleteValueFile(key, ValueFile(n.c_str()));
}
LONG RegDeleteKeyA(HKEY key, const char* subKey) {
  return DeleteKeyDir(key, subKey ? subKey : "", false);
}
LONG RegDeleteKeyW(HKEY key, const char16_t* subKey) {
  return DeleteKeyDir(key, ToUtf8(subKey), false);
}
LONG RegDeleteTreeA(HKEY key, const char* subKey) {
  return DeleteKeyDir(key, subKey ? subKey : "", true);
}
LONG RegDeleteTreeW(HKEY key, const char16_t* subKey) {
  return DeleteKeyDir(key, ToUtf8(subKey), true);
}

LONG RegCreateKeyExW(HKEY key, const char16_t* subKey, DWORD reserved, const char16_t*,
                     DWORD options, REGSAM sam, void* security, HKEY* result, DWORD* disposition) {
  std::string s = ToUtf8(subKey);
  return RegCreateKeyExA(key, s.c_str(), reserved, nullptr, options, sam, security, result,
                         disposition);
}

LONG RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD options, REGSAM sam, HKEY* result) {
  std::string s = ToUtf8(subKey);
  return RegOpenKeyExA(key, s.c_str(), options, sam, result);
}

std::vector<std::string> ListSubkeys(HKEY key) {
  std::vector<std::string> out;
  if (!IsValid(key)) return out;
  DirFd fd = WalkKey(key);
  if (!fd.Ok()) return out;
  for (auto& e : ListEntries(fd.Get()))
    if (e.isKey) out.push_back(std::move(e.name));
  return out;
}

std::vector<std::string> ListValues(HKEY key) {
  std::vector<std::string> out;
  if (!IsValid(key)) return out;
  DirFd fd = WalkKey(key);
  if (!fd.Ok()) return out;
  for (auto& e : ListEntries(fd.Get()))
    if (!e.isKey) out.push_back(std::move(e.name));
  return out;
}

LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD*, char*, DWORD*,
                   void*) {
  if (!IsValid(key)) return ERROR_INVALID_HANDLE;
  if (!name || !cchName) return ERROR_INVALID_PARAMETER;
  auto keys = ListSubkeys(key);
  if (index >= keys.size()) return ERROR_NO_MORE_ITEMS;
  const std::string& k = keys[index];
  if (k.size() + 1 > *cchName) return ERROR_MORE_DATA;
  std::memcpy(name, k.c_str(), k.size() + 1);
  *cchName = static_cast<DWORD>(k.size());
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD*, DWORD* type,
                   BYTE* data, DWORD* cbData) {
  if (!IsValid(key)) return ERROR_INVALID_HANDLE;
  if (!name || !cchName) return ERROR_INVALID_PARAMETER;
  auto values = ListValues(key);
  if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
  const std::string& v = values[index];
  if (v.size() + 1 > *cchName) return ERROR_MORE_DATA;
  std::memcpy(name, v.c_str(), v.size() + 1);
  *cchName = static_cast<DWORD>(v.size());
  if (!type && !data && !cbData) return ERROR_SUCCESS;
  return RegQueryValueExA(key, v.c_str(), nullptr, type, data, cbData);
}

}  // namespace zb::reg
