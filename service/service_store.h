// The demo service's data folder: sessions and the ringtones delivered to
// each phone number.
//
// Layout below the data folder:
//   sessions/<session id>          "name\nphone\nnetwork\n"
//   phones/<digits>/<file>.mp3     one delivered ringtone each
// Every file is written to a dot-named temporary file and renamed into
// place, so a reader never sees half a ringtone. All members are safe to call
// from several server threads at once.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zb::service {

struct Session {
  std::string name, phone, network;
};

struct Delivery {
  std::string file;  // name inside the phone's folder
  uint64_t size = 0;
  int64_t time = 0;  // seconds since the epoch
};

// The digits of a phone number as typed ("+44 (0)20 7946-0000" gives
// "4402079460000"); "" unless it has 3 to 20 digits.
std::string PhoneDigits(const std::string& typed);

class Store {
 public:
  // Creates the folders below `dataDir` when missing; ok() tells whether the
  // folder can be used.
  explicit Store(std::string dataDir);
  bool ok() const { return ok_; }
  const std::string& dir() const { return dir_; }

  // Opens a session for a profile; nullopt and a sentence for the user in
  // `error` when a field is missing or unusable.
  std::optional<std::string> OpenSession(const Session& s, std::string* error);
  std::optional<Session> FindSession(const std::string& id);

  // A new ringtone for a phone: Begin gives a temporary path to write,
  // Commit moves it into the phone's folder (and names the delivery),
  // Abandon removes it.
  std::string BeginDelivery();
  std::optional<std::string> CommitDelivery(const std::string& tempPath, const std::string& digits);
  void AbandonDelivery(const std::string& tempPath);

  // The phone's ringtones, newest first.
  std::vector<Delivery> Deliveries(const std::string& digits);
  // The full path of a delivered file, or "" when there is none of that name.
  std::string DeliveryPath(const std::string& digits, const std::string& file);

 private:
  std::string dir_;
  bool ok_ = false;
  std::mutex mu_;
  uint64_t counter_ = 0;
};

// 32 random hexadecimal digits.
std::string NewSessionId();

}  // namespace zb::service
