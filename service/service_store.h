// The demo service's data folder: sessions and the ringtones delivered to
// each phone number.
//
// Layout below the data folder:
//   sessions/<session id>          "name\nphone\nnetwork\ncreated\nbytes\nlast\n":
//                                  the profile, the session's start (seconds
//                                  since the epoch), the bytes it has
//                                  delivered and its last ringtone
//                                  ("<digits>/<file>", empty before the first)
//   phones/<digits>/<file>.mp3     one delivered ringtone each
//   incoming/                      uploads being received
// The data is personal: every folder is made (and kept) mode 0700 and every
// file mode 0600. Every file is written to a temporary file and renamed into
// place, so a reader never sees half a ringtone. Sessions expire; each
// session, and the service in all, may store only so much. All members are
// safe to call from several server threads at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zb::service {

struct Session {
  std::string name, phone, network;
  int64_t created = 0;     // seconds since the epoch
  uint64_t delivered = 0;  // bytes of ringtones stored for it
  std::string last;        // "<digits>/<file>" of its last ringtone, or ""
};

struct Delivery {
  std::string file;  // name inside the phone's folder
  uint64_t size = 0;
  int64_t time = 0;  // seconds since the epoch
};

// What the service keeps at most.
struct Quotas {
  uint64_t perSession = uint64_t{512} << 20;  // bytes of ringtones one session may deliver
  uint64_t total = uint64_t{2} << 30;         // bytes of ringtones stored in all
  std::chrono::seconds sessionLifetime{3600};
  size_t maxSessions = 10000;  // sessions open at once
};

// The digits of a phone number as typed ("+44 (0)20 7946-0000" gives
// "4402079460000"); "" unless it has 3 to 20 digits.
std::string PhoneDigits(const std::string& typed);

class Store {
 public:
  // Creates the folders below `dataDir` when missing and makes the folder
  // and everything in it private; removes expired sessions and unfinished
  // uploads. Ok() tells whether the folder can be used.
  explicit Store(std::string dataDir, Quotas quotas = {});
  bool Ok() const { return m_ok; }
  const std::string& Dir() const { return m_dir; }

  // Opens a session for a profile; nullopt and a sentence for the user in
  // `error` when a field is missing or unusable, or the service has as many
  // sessions as it keeps.
  std::optional<std::string> OpenSession(const Session& s, std::string* error);
  // The session, unless it is unknown or has expired (an expired one is
  // removed).
  std::optional<Session> FindSession(const std::string& id);

  // Room for an upload of `bytes`: reserved until the upload is committed or
  // released.
  enum class Room { kReserved, kUnknownSession, kSessionFull, kServiceFull };
  Room Reserve(const std::string& sid, uint64_t bytes);
  // What Reserve would answer now, without reserving anything.
  Room Fits(const std::string& sid, uint64_t bytes);
  void Release(const std::string& sid, uint64_t bytes);

  // A new ringtone for a phone: Begin makes a private temporary file to
  // write, Commit moves it into the phone's folder (and names the delivery),
  // counting a reservation of `bytes` for the session as stored; Abandon
  // removes the file.
  std::string BeginDelivery();
  std::optional<std::string> CommitDelivery(const std::string& tempPath, const std::string& digits,
                                            const std::string& sid, uint64_t bytes);
  void AbandonDelivery(const std::string& tempPath);

  // The phone's ringtones, newest first.
  std::vector<Delivery> Deliveries(const std::string& digits);
  // The full path of a delivered file, or "" when there is none of that name.
  std::string DeliveryPath(const std::string& digits, const std::string& file);
  // The full path of the last ringtone the session delivered, or "" when
  // it has delivered none (or is unknown, or the file has gone).
  std::string LastDeliveryPath(const std::string& sid);
  // Bytes of ringtones stored now.
  uint64_t BytesStored();

 private:
  std::optional<Session> FindSessionLocked(const std::string& id);
  bool WriteSessionLocked(const std::string& id, const Session& s);
  size_t SweepSessionsLocked();  // removes expired sessions; returns those left

  std::string m_dir;
  Quotas m_quotas;
  bool m_ok = false;
  std::mutex m_mu;
  uint64_t m_counter = 0;
  uint64_t m_stored = 0, m_reservedTotal = 0;
  std::map<std::string, uint64_t> m_reserved;  // by session
};

// 32 random hexadecimal digits.
std::string NewSessionId();

}  // namespace zb::service
