#include "service/service_store.h"

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

// Writes `text` to `path` through a temporary file and a rename.
bool WriteAtomically(const std::string& path, const std::string& text) {
  std::string tmp = fs::path(path).parent_path() / ("." + fs::path(path).filename().string());
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
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

Store::Store(std::string dataDir) : dir_(std::move(dataDir)) {
  std::error_code ec;
  fs::create_directories(fs::path(dir_) / "sessions", ec);
  fs::create_directories(fs::path(dir_) / "phones", ec);
  fs::create_directories(fs::path(dir_) / "incoming", ec);
  ok_ = fs::is_directory(fs::path(dir_) / "sessions") &&
        fs::is_directory(fs::path(dir_) / "phones") &&
        fs::is_directory(fs::path(dir_) / "incoming") && ::access(dir_.c_str(), W_OK) == 0;
  // Uploads cut short by a previous stop are never completed.
  for (const auto& e : fs::directory_iterator(fs::path(dir_) / "incoming", ec))
    fs::remove(e.path(), ec);
}

std::optional<std::string> Store::OpenSession(const Session& given, std::string* error) {
  Session s{Trim(given.name), Trim(given.phone), Trim(given.network)};
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
  std::string id = NewSessionId();
  if (!WriteAtomically(fs::path(dir_) / "sessions" / id,
                       s.name + "\n" + s.phone + "\n" + s.network + "\n")) {
    *error = "The service cannot store your details just now. Please try again later.";
    return std::nullopt;
  }
  return id;
}

std::optional<Session> Store::FindSession(const std::string& id) {
  if (!IsHexId(id)) return std::nullopt;
  std::ifstream in(fs::path(dir_) / "sessions" / id);
  Session s;
  if (!std::getline(in, s.name) || !std::getline(in, s.phone) || !std::getline(in, s.network))
    return std::nullopt;
  return s;
}

std::string Store::BeginDelivery() {
  std::lock_guard<std::mutex> lock(mu_);
  return fs::path(dir_) / "incoming" /
         ("upload-" + std::to_string(::getpid()) + "-" + std::to_string(++counter_));
}

std::optional<std::string> Store::CommitDelivery(const std::string& tempPath,
                                                 const std::string& digits) {
  std::error_code ec;
  fs::path folder = fs::path(dir_) / "phones" / digits;
  fs::create_directories(folder, ec);
  auto now = std::chrono::system_clock::now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::lock_guard<std::mutex> lock(mu_);
  // Names sort by arrival; the counter keeps two uploads in one millisecond apart.
  char name[64];
  std::snprintf(name, sizeof name, "%013lld-%04llu.mp3", static_cast<long long>(ms),
                static_cast<unsigned long long>(++counter_ % 10000));
  if (std::rename(tempPath.c_str(), (folder / name).c_str()) != 0) return std::nullopt;
  return std::string(name);
}

void Store::AbandonDelivery(const std::string& tempPath) {
  std::remove(tempPath.c_str());
}

std::vector<Delivery> Store::Deliveries(const std::string& digits) {
  std::vector<Delivery> out;
  if (digits.empty()) return out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(dir_) / "phones" / digits, ec)) {
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
  fs::path p = fs::path(dir_) / "phones" / digits / file;
  std::error_code ec;
  return fs::is_regular_file(p, ec) ? p.string() : "";
}

}  // namespace zb::service
