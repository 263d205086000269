#include "net/transfer.h"

#include <atomic>
#include <mutex>

namespace zb::net {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kWakeMs = 20;  // longest sleep between two looks at the cancel flag

std::mutex gTimeoutsLock;
Timeouts gTimeouts;
std::atomic<bool> gFailHandles{false};

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The counters that show bytes moving on the connection.
struct Activity {
  curl_off_t up = 0, down = 0;
  long headers = 0;
  bool operator!=(const Activity& o) const {
    return up != o.up || down != o.down || headers != o.headers;
  }
};

Activity Snapshot(CURL* easy) {
  Activity a;
  curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &a.up);
  curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &a.down);
  curl_easy_getinfo(easy, CURLINFO_HEADER_SIZE, &a.headers);
  return a;
}

bool Connected(CURL* easy, const Activity& a) {
  curl_off_t connect = 0, pretransfer = 0;
  curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connect);
  curl_easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
  return connect > 0 || pretransfer > 0 || a.up > 0 || a.down > 0 || a.headers > 0;
}

}  // namespace

Timeouts CurrentTimeouts() {
  std::lock_guard<std::mutex> lock(gTimeoutsLock);
  return gTimeouts;
}

void SetTimeoutsForTesting(Timeouts t) {
  std::lock_guard<std::mutex> lock(gTimeoutsLock);
  gTimeouts = t;
}

void FailHandleCreationForTesting(bool fail) {
  gFailHandles.store(fail);
}

Transfer::Transfer() {
  GlobalInit();
  if (gFailHandles.load()) return;
  easy_ = curl_easy_init();
  multi_ = curl_multi_init();
  if (!easy_) return;
  Timeouts t = CurrentTimeouts();
  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(t.connect.count()));
  curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &Transfer::Progress);
  curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this);
}

Transfer::~Transfer() {
  if (multi_ && easy_) curl_multi_remove_handle(multi_, easy_);
  if (easy_) curl_easy_cleanup(easy_);  // closes the connection
  if (multi_) curl_multi_cleanup(multi_);
}

int Transfer::Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* t = static_cast<Transfer*>(self);
  return (t->cancelled_ && (*t->cancelled_)()) ? 1 : 0;
}

TransferEnd Transfer::Run(const std::function<bool()>& cancelled) {
  if (!ok()) return TransferEnd::kFailed;
  cancelled_ = &cancelled;
  const milliseconds idle = CurrentTimeouts().idle;
  if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
    code_ = CURLE_OUT_OF_MEMORY;
    cancelled_ = nullptr;
    return TransferEnd::kFailed;
  }

  TransferEnd end = TransferEnd::kFailed;
  Activity last;
  bool connected = false;
  Clock::time_point lastMove = Clock::now();
  for (;;) {
    int running = 0;
    CURLMcode mc = curl_multi_perform(multi_, &running);
    if (mc != CURLM_OK) {
      code_ = CURLE_OUT_OF_MEMORY;
      break;
    }
    if (running == 0) {
      int left = 0;
      code_ = CURLE_GOT_NOTHING;
      while (CURLMsg* m = curl_multi_info_read(multi_, &left))
        if (m->msg == CURLMSG_DONE) code_ = m->data.result;
      if (code_ == CURLE_OK)
        end = TransferEnd::kDone;
      else if (code_ == CURLE_ABORTED_BY_CALLBACK && cancelled())
        end = TransferEnd::kCancelled;
      break;
    }
    if (cancelled()) {
      end = TransferEnd::kCancelled;
      break;
    }
    Activity now = Snapshot(easy_);
    Clock::time_point t = Clock::now();
    if (!connected && Connected(easy_, now)) {
      connected = true;
      lastMove = t;
    }
    if (now != last) {
      // Bytes moved: curl may well move more at once, so it is asked again
      // without sleeping (a poll per 2048-byte chunk would halve the speed).
      last = now;
      lastMove = t;
      continue;
    }
    if (connected && t - lastMove >= idle) {
      end = TransferEnd::kTimedOut;
      break;
    }
    if (curl_multi_poll(multi_, nullptr, 0, kWakeMs, nullptr) != CURLM_OK) {
      code_ = CURLE_OUT_OF_MEMORY;
      break;
    }
  }
  curl_multi_remove_handle(multi_, easy_);
  cancelled_ = nullptr;
  return end;
}

}  // namespace zb::net
