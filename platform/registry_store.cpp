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

#include "platform/utf.h"

namespace zb::reg {

struct KeyObject {
  std::string dir;  // folder of the key
  REGSAM sam = 0;
  bool predefined = false;
  const char* rootName = "";
};

namespace {

KeyObject gRoots[6] = {
    {"", KEY_ALL_ACCESS, true, "HKEY_CLASSES_ROOT"},
    {"", KEY_ALL_ACCESS, true, "HKEY_CURRENT_USER"},
    {"", KEY_ALL_ACCESS, true, "HKEY_LOCAL_MACHINE"},
    {"", KEY_ALL_ACCESS, true, "HKEY_USERS"},
    {"", KEY_ALL_ACCESS, true, "HKEY_CURRENT_CONFIG"},
    {"", KEY_ALL_ACCESS, true, "HKEY_DYN_DATA"},
};

constexpr const char kTempPrefix[] = ".zbtmp-";

bool IsPredefined(HKEY k) {
  return k >= &gRoots[0] && k < &gRoots[6];
}

bool IsValid(HKEY k) {
  return k != nullptr;
}

std::string RootDir(HKEY root) {
  std::string name = root->rootName;
  if (const char* d = std::getenv("ZIMBREL_REGISTRY_DIR"); d && *d)
    return std::string(d) + "/" + name;
  if (root == &gRoots[1]) {
    std::string base;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/') {
      base = x;
    } else {
      const char* home = std::getenv("HOME");
      base = std::string(home && *home ? home : "/tmp") + "/.config";
    }
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

bool ReadFile(const std::string& path, std::string* out, int* err) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
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

// Replaces dir/file with contents atomically. The temporary name carries the
// writer's pid so that a sweep removes only what a dead writer left.
LONG AtomicWrite(const std::string& dir, const std::string& file, const std::string& contents,
                 mode_t mode) {
  std::string final = dir + "/" + file;
  if (IsDir(final)) return ERROR_ALREADY_EXISTS;  // a subkey of that name
  std::string tmp = dir + "/" + kTempPrefix + std::to_string(::getpid()) + "-" +
                    std::to_string(gTempCounter.fetch_add(1)) + "-" +
                    std::to_string(static_cast<long>(::time(nullptr)));
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
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
    ::unlink(tmp.c_str());
    return ErrnoToError(err);
  }
  if (::rename(tmp.c_str(), final.c_str()) != 0) {
    err = errno;
    ::unlink(tmp.c_str());
    return ErrnoToError(err);
  }
  return ERROR_SUCCESS;
}

struct Entry {
  std::string name;  // unescaped
  bool isKey;
};

std::vector<Entry> ListEntries(const std::string& dir) {
  std::vector<Entry> out;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return out;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::string full = dir + "/" + e->d_name;
    struct stat st;
    if (::lstat(full.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode))
      out.push_back({UnescapeName(e->d_name), true});
    else if (S_ISREG(st.st_mode))
      out.push_back({UnescapeName(e->d_name), false});
  }
  ::closedir(d);
  std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return out;
}

bool IsStringType(DWORD t) {
  return t == REG_SZ || t == REG_EXPAND_SZ || t == REG_MULTI_SZ;
}

std::string ValueFile(const char* name) {
  return (name == nullptr || *name == 0) ? std::string("@") : EscapeName(name);
}

LONG RemoveTree(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return ErrnoToError(errno);
  LONG result = ERROR_SUCCESS;
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    names.emplace_back(e->d_name);
  }
  ::closedir(d);
  for (const auto& n : names) {
    std::string full = dir + "/" + n;
    struct stat st;
    if (::lstat(full.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      LONG r = RemoveTree(full);
      if (r != ERROR_SUCCESS) result = r;
    } else if (::unlink(full.c_str()) != 0) {
      result = ErrnoToError(errno);
    }
  }
  if (result == ERROR_SUCCESS && ::rmdir(dir.c_str()) != 0) result = ErrnoToError(errno);
  return result;
}

std::string ToUtf8(const char16_t* s) {
  if (!s) return {};
  return Utf16ToUtf8(std::u16string_view(s));
}

}  // namespace

const HKEY HKEY_CLASSES_ROOT = &gRoots[0];
const HKEY HKEY_CURRENT_USER = &gRoots[1];
const HKEY HKEY_LOCAL_MACHINE = &gRoots[2];
const HKEY HKEY_USERS = &gRoots[3];
const HKEY HKEY_CURRENT_CONFIG = &gRoots[4];
const HKEY HKEY_DYN_DATA = &gRoots[5];

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
  std::string dir = DirOf(key);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  std::vector<std::string> stale;
  const size_t plen = sizeof(kTempPrefix) - 1;
  while (dirent* e = ::readdir(d)) {
    if (std::strncmp(e->d_name, kTempPrefix, plen) != 0) continue;
    long pid = std::strtol(e->d_name + plen, nullptr, 10);
    struct stat st;
    std::string full = dir + "/" + e->d_name;
    if (::lstat(full.c_str(), &st) != 0) continue;
    bool dead = pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH);
    // A live pid may be a reused one: a temporary older than a minute is
    // never an in-progress write.
    bool old = ::time(nullptr) - st.st_mtime > 60;
    if (dead || old) stale.push_back(full);
  }
  ::closedir(d);
  for (const auto& f : stale) ::unlink(f.c_str());
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD, const char*, DWORD, REGSAM sam, void*,
                     HKEY* result, DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (!IsValid(key)) return ERROR_INVALID_HANDLE;
  std::string dir = DirOf(key);
  bool machine = IsMachineRoot(dir);
  mode_t mode = machine ? 0755 : 0700;
  if (IsPredefined(key) && !IsDir(dir)) {
    LONG r = MakeDirs(dir, mode);
    if (r != ERROR_SUCCESS) return r;
  } else if (!IsDir(dir)) {
    return ERROR_BADKEY;  // the key was deleted under an open handle
  }
  bool created = false;
  for (const auto& part : SplitPath(subKey ? subKey : "")) {
    dir += "/" + EscapeName(part);
    if (::mkdir(dir.c_str(), mode) == 0) {
      created = true;
    } else if (errno != EEXIST) {
      return ErrnoToError(errno);
    } else if (!IsDir(dir)) {
      return ERROR_ALREADY_EXISTS;  // a value of that name
    }
  }
  if ((sam & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) && ::access(dir.c_str(), W_OK) != 0)
    return ERROR_ACCESS_DENIED;
  auto* k = new (std::nothrow) KeyObject{dir, sam, false, ""};
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
  for (const auto& part : SplitPath(subKey ? subKey : "")) dir += "/" + EscapeName(part);
  if (!IsDir(dir)) return ERROR_FILE_NOT_FOUND;
  if ((sam & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) && ::access(dir.c_str(), W_OK) != 0)
    return ERROR_ACCESS_DENIED;
  auto* k = new (std::nothrow) KeyObject{dir, sam, false, ""};
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
  std::string bytes;
  int err = 0;
  if (!ReadFile(DirOf(key) + "/" + file, &bytes, &err))
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
  if (IsPredefined(key) && !IsDir(dir)) {
    LONG r = MakeDirs(dir, IsMachineRoot(dir) ? 0755 : 0700);
    if (r != ERROR_SUCCESS) return r;
  }
  if (!IsDir(dir)) return ERROR_BADKEY;
  SweepTemporaries(key);
  std::string contents(4, '\0');
  for (int i = 0; i < 4; ++i) contents[i] = static_cast<char>((type >> (8 * i)) & 0xFF);
  contents += data;
  return AtomicWrite(dir, file, contents, IsMachineRoot(dir) ? 0644 : 0600);
}

LONG DeleteValueFile(HKEY key, const std::string& file) {
  if (!IsValid(key)) return ERROR_INVALID_HANDLE;
  std::string path = DirOf(key) + "/" + file;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return ERROR_FILE_NOT_FOUND;
  if (::unlink(path.c_str()) != 0) return ErrnoToError(errno);
  return ERROR_SUCCESS;
}

LONG DeleteKeyDir(HKEY key, const std::string& subUtf8, bool tree) {
  if (!IsValid(key)) return ERROR_INVALID_HANDLE;
  std::string dir = DirOf(key);
  auto parts = SplitPath(subUtf8);
  if (parts.empty() && !tree) return ERROR_INVALID_PARAMETER;
  for (const auto& p : parts) dir += "/" + EscapeName(p);
  if (!IsDir(dir)) return ERROR_FILE_NOT_FOUND;
  if (tree) {
    if (!parts.empty()) return RemoveTree(dir);
    // Empty the key itself, keep it.
    for (const auto& e : ListEntries(dir)) {
      std::string full = dir + "/" + EscapeName(e.name);
      LONG r = e.isKey ? RemoveTree(full)
                       : (::unlink(full.c_str()) == 0 ? ERROR_SUCCESS : ErrnoToError(errno));
      if (r != ERROR_SUCCESS) return r;
    }
    return ERROR_SUCCESS;
  }
  for (const auto& e : ListEntries(dir))
    if (e.isKey) return ERROR_ACCESS_DENIED;
  return RemoveTree(dir);
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
  for (auto& e : ListEntries(DirOf(key)))
    if (e.isKey) out.push_back(std::move(e.name));
  return out;
}

std::vector<std::string> ListValues(HKEY key) {
  std::vector<std::string> out;
  if (!IsValid(key)) return out;
  for (auto& e : ListEntries(DirOf(key)))
    if (!e.isKey) out.push_back(e.name == "@" ? std::string() : std::move(e.name));
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
