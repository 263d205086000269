#include "service/service_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

namespace zb::service {
namespace fs = std::filesystem;

namespace {

bool IsHexId(const std::string& id) {
  if (id.size() != 32) return false;
  return std::all_of(id.begin(), id.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Delivered files are named "<13 digits of milliseconds>-<4 digits>.mp3".
bool IsDeliveryName(const std::string& f) {
  if (f.size() != 22 || f[13] != '-' || f.compare(18, 4, ".mp3") != 0) return false;
  for (size_t i = 0; i < 18; ++i)
    if (i != 13 && (f[i] < '0' || f[i] > '9')) return false;
  return true;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

bool HasControl(const std::string& s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// Writes `text` to `path` (mode 0600) through a temporary file and a rename.
bool WriteAtomically(const std::string& path, const std::string& text) {
  std::string tmp = fs::path(path).parent_path() / ("." + fs::path(path).filename().string());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, 0600) == 0 &&
            ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = ::close(fd) == 0 && ok;
  return ok && std::rename(tmp.c_str(), path.c_str()) == 0;
}

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Makes a folder and what it holds private: folders 0700, files 0600.
void MakePrivate(const fs::path& dir) {
  std::error_code ec;
  fs::permissions(dir, fs::perms::owner_all, ec);
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->is_symlink(ec)) continue;
    fs::permissions(it->path(),
                    it->is_directory(ec) ? fs::perms::owner_all
                                         : fs::perms::owner_read | fs::perms::owner_write,
                    ec);
  }
}

}  // namespace

std::string PhoneDigits(const std::string& typed) {
  std::string d;
  for (char c : typed)
    if (c >= '0' && c <= '9') d += c;
  return (d.size() >= 3 && d.size() <= 20) ? d : "";
}

std::string NewSessionId() {
  static std::mutex mu;
  static std::random_device rd;
  std::lock_guard<std::mutex> lock(mu);
  static const char kHex[] = "0123456789abcdef";
  std::string id;
  for (int i = 0; i < 4; ++i) {
    uint32_t v = rd();
    for (int j = 0; j < 8; ++j, v >>= 4) id += kHex[v & 15];
  }
  return id;
}

Store::Store(std::string dataDir, Quotas quotas) : m_dir(std::move(dataDir)), m_quotas(quotas) {
  std::error_code ec;
  for (const char* sub : {"sessions", "phones", "incoming"})
    fs::create_directories(fs::path(m_dir) / sub, ec);
  m_ok = fs::is_directory(fs::path(m_dir) / "sessions") &&
         fs::is_directory(fs::path(m_dir) / "phones") &&
         fs::is_directory(fs::path(m_dir) / "incoming") && ::access(m_dir.c_str(), W_OK) == 0;
  MakePrivate(m_dir);
  // Uploads cut short by a previous stop are never completed.
  for (const auto& e : fs::directory_iterator(fs::path(m_dir) / "incoming", ec))
    fs::remove(e.path(), ec);
  for (const auto& phone : fs::directory_iterator(fs::path(m_dir) / "phones", ec))
    for (const auto& d : Deliveries(phone.path().filename().string())) m_stored += d.size;
  std::lock_guard<std::mutex> lock(m_mu);
  SweepSessionsLocked();
}

size_t Store::SweepSessionsLocked() {
  std::error_code ec;
  std::vector<std::string> ids;
  for (const auto& e : fs::directory_iterator(fs::path(m_dir) / "sessions", ec)) {
    std::string id = e.path().filename().string();
    if (IsHexId(id)) ids.push_back(id);
  }
  size_t left = 0;
  for (const std::string& id : ids)
    if (FindSessionLocked(id)) ++left;
  return left;
}

std::optional<std::string> Store::OpenSession(const Session& given, std::string* error) {
  Session s{Trim(given.name), Trim(given.phone), Trim(given.network), Now(), 0, ""};
  if (s.name.empty() || s.name.size() > 100 || HasControl(s.name)) {
    *error = "Please enter your name.";
    return std::nullopt;
  }
  if (PhoneDigits(s.phone).empty() || HasControl(s.phone)) {
    *error = "Please enter your mobile phone number, with its area code.";
    return std::nullopt;
  }
  if (s.network.empty() || s.network.size() > 100 || HasControl(s.network)) {
    *error = "Please choose your mobile network.";
    return std::nullopt;
  }
  std::lock_guard<std::mutex> lock(m_mu);
  if (SweepSessionsLocked() >= m_quotas.maxSessions) {
    *error = "The service is busy just now. Please try again later.";
    return std::nullopt;
  }
  std::string id = NewSessionId();
  if (!WriteSessionLocked(id, s)) {
    *error = "The service cannot store your details just now. Please try again later.";
    return std::nullopt;
  }
  return id;
}

bool Store::WriteSessionLocked(const std::string& id, const Session& s) {
  return WriteAtomically(fs::path(m_dir) / "sessions" / id,
                         s.name + "\n" + s.phone + "\n" + s.network + "\n" +
                             std::to_string(s.created) + "\n" + std::to_string(s.delivered) + "\n" +
                             s.last + "\n");
}

std::optional<Session> Store::FindSession(const std::string& id) {
  std::lock_guard<std::mutex> lock(m_mu);
  return FindSessionLocked(id);
}

std::optional<Session> Store::FindSessionLocked(const std::string& id) {
  if (!IsHexId(id)) return std::nullopt;
  const fs::path path = fs::path(m_dir) / "sessions" / id;
  std::ifstream in(path);
  Session s;
  if (!std::getline(in, s.name) || !std::getline(in, s.phone) || !std::getline(in, s.network))
    return std::nullopt;
  std::string created, delivered;
  std::error_code ec;
  if (std::getline(in, created) && !created.empty() &&
      created.find_first_not_of("0123456789") == std::string::npos)
    s.created = std::stoll(created);
  else  // a session of the layout without its start: the file's time
    s.created =
        std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::file_clock::to_sys(fs::last_write_time(path, ec)).time_since_epoch())
            .count();
  if (std::getline(in, delivered) && !delivered.empty() &&
      delivered.find_first_not_of("0123456789") == std::string::npos)
    s.delivered = std::stoull(delivered);
  std::getline(in, s.last);
  if (Now() - s.created >= m_quotas.sessionLifetime.count() && m_reserved.count(id) == 0) {
    fs::remove(path, ec);
    return std::nullopt;
  }
  return s;
}

Store::Room Store::Fits(const std::string& sid, uint64_t bytes) {
  std::lock_guard<std::mutex> lock(m_mu);
  std::optional<Session> s = FindSessionLocked(sid);
  if (!s) return Room::kUnknownSession;
  auto it = m_reserved.find(sid);
  const uint64_t mine = it == m_reserved.end() ? 0 : it->second;
  if (s->delivered + mine + bytes > m_quotas.perSession) return Room::kSessionFull;
  if (m_stored + m_reservedTotal + bytes > m_quotas.total) return Room::kServiceFull;
  return Room::kReserved;
}

std::string Store::LastDeliveryPath(const std::string& sid) {
  std::optional<Session> s = FindSession(sid);
  if (!s) return "";
  size_t slash = s->last.find('/');
  if (slash == std::string::npos) return "";
  return DeliveryPath(PhoneDigits(s->last.substr(0, slash)), s->last.substr(slash + 1));
}

Store::Room Store::Reserve(const std::string& sid, uint64_t bytes) {
  std::lock_guard<std::mutex> lock(m_mu);
  std::optional<Session> s = FindSessionLocked(sid);
  if (!s) return Room::kUnknownSession;
  uint64_t& mine = m_reserved[sid];
  if (s->delivered + mine + bytes > m_quotas.perSession) {
    if (mine == 0) m_reserved.erase(sid);
    return Room::kSessionFull;
  }
  if (m_stored + m_reservedTotal + bytes > m_quotas.total) {
    if (mine == 0) m_reserved.erase(sid);
    return Room::kServiceFull;
  }
  mine += bytes;
  m_reservedTotal += bytes;
  return Room::kReserved;
}

void Store::Release(const std::string& sid, uint64_t bytes) {
  std::lock_guard<std::mutex> lock(m_mu);
  auto it = m_reserved.find(sid);
  if (it == m_reserved.end()) return;
  bytes = std::min(bytes, it->second);
  it->second -= bytes;
  m_reservedTotal -= bytes;
  if (it->second == 0) m_reserved.erase(it);
}

std::string Store::BeginDelivery() {
  std::string path;
  {
    std::lock_guard<std::mutex> lock(m_mu);
    path = fs::path(m_dir) / "incoming" /
           ("upload-" + std::to_string(::getpid()) + "-" + std::to_string(++m_counter));
  }
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0) ::close(fd);
  return path;
}

std::optional<std::string> Store::CommitDelivery(const std::string& tempPath,
                                                 const std::string& digits, const std::string& sid,
                                                 uint64_t bytes) {
  std::error_code ec;
  fs::path folder = fs::path(m_dir) / "phones" / digits;
  fs::create_directories(folder, ec);
  fs::permissions(folder, fs::perms::owner_all, ec);
  auto now = std::chrono::system_clock::now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::lock_guard<std::mutex> lock(m_mu);
  // Names sort by arrival; the counter keeps two uploads in one millisecond apart.
  char name[64];
  std::snprintf(name, sizeof name, "%013lld-%04llu.mp3", static_cast<long long>(ms),
                static_cast<unsigned long long>(++m_counter % 10000));
  if (std::rename(tempPath.c_str(), (folder / name).c_str()) != 0) return std::nullopt;
  // The reservation becomes what the session has stored (read while it is
  // still held, so that a session expiring meanwhile is not removed).
  if (std::optional<Session> s = FindSessionLocked(sid)) {
    s->delivered += bytes;
    s->last = digits + "/" + name;
    WriteSessionLocked(sid, *s);
  }
  auto it = m_reserved.find(sid);
  if (it != m_reserved.end()) {
    uint64_t held = std::min(bytes, it->second);
    it->second -= held;
    m_reservedTotal -= held;
    if (it->second == 0) m_reserved.erase(it);
  }
  m_stored += bytes;
  return std::string(name);
}

void Store::AbandonDelivery(const std::string& tempPath) {
  std::remove(tempPath.c_str());
}

uint64_t Store::BytesStored() {
  std::lock_guard<std::mutex> lock(m_mu);
  return m_stored;
}

std::vector<Delivery> Store::Deliveries(const std::string& digits) {
  std::vector<Delivery> out;
  if (digits.empty()) return out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(m_dir) / "phones" / digits, ec)) {
    std::string f = e.path().filename().string();
    if (!IsDeliveryName(f) || !e.is_regular_file(ec)) continue;
    Delivery d;
    d.file = f;
    d.size = e.file_size(ec);
    d.time = std::stoll(f.substr(0, 13)) / 1000;
    out.push_back(d);
  }
  std::sort(out.begin(), out.end(),
            [](const Delivery& a, const Delivery& b) { return a.file > b.file; });
  return out;
}

std::string Store::DeliveryPath(const std::string& digits, const std::string& file) {
  if (digits.empty() || !IsDeliveryName(file)) return "";
  fs::path p = fs::path(m_dir) / "phones" / digits / file;
  std::error_code ec;
  return fs::is_regular_file(p, ec) ? p.string() : "";
}

}  // namespace zb::service
