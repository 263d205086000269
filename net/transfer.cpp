#include "net/transfer.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string_view>

namespace zb::net {
namespace {

using std::chrono::milliseconds;

constexpr int kWakeMs = 20;  // longest sleep between two looks at the cancel flag
// The same while bytes wait in the socket's send buffer and someone follows
// them (onWake): their leaving is seen in steps this fine.
constexpr int kDrainWakeMs = 5;

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
  m_easy = curl_easy_init();
  m_multi = curl_multi_init();
  if (!m_easy) return;
  Timeouts t = CurrentTimeouts();
  curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(t.connect.count()));
  curl_easy_setopt(m_easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(m_easy, CURLOPT_XFERINFOFUNCTION, &Transfer::Progress);
  curl_easy_setopt(m_easy, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(m_easy, CURLOPT_CLOSESOCKETFUNCTION, &Transfer::OnClose);
  curl_easy_setopt(m_easy, CURLOPT_CLOSESOCKETDATA, this);
  curl_easy_setopt(m_easy, CURLOPT_SOCKOPTFUNCTION, &Transfer::OnSocketOpened);
  curl_easy_setopt(m_easy, CURLOPT_SOCKOPTDATA, this);
  if (!m_multi) return;
  curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &Transfer::OnSocket);
  curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
  curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &Transfer::OnTimer);
  curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
}

Transfer::~Transfer() {
  if (m_multi && m_easy) curl_multi_remove_handle(m_multi, m_easy);
  if (m_easy) curl_easy_cleanup(m_easy);  // closes the connection
  if (m_multi) curl_multi_cleanup(m_multi);
}

int Transfer::OnSocket(CURL*, curl_socket_t s, int what, void* self, void*) {
  auto* t = static_cast<Transfer*>(self);
  size_t i = 0;
  while (i < t->m_socketCount && t->m_sockets[i].fd != s) ++i;
  if (what == CURL_POLL_REMOVE) {
    if (i < t->m_socketCount) t->m_sockets[i] = t->m_sockets[--t->m_socketCount];
  } else if (i < t->m_socketCount) {
    t->m_sockets[i].what = what;
  } else if (t->m_socketCount < kMaxSockets) {
    t->m_sockets[t->m_socketCount++] = Watch{s, what};
  }
  return 0;
}

int Transfer::OnTimer(CURLM*, long ms, void* self) {
  auto* t = static_cast<Transfer*>(self);
  t->m_timerSet = ms >= 0;
  if (ms >= 0) t->m_timerAt = Clock::now() + milliseconds(ms);
  return 0;
}

// curl closes the connection from inside the step that ends the transfer
// (an abort by a callback, an error), so the reset is decided before that
// step: by the callback that gives up, or here for a cancel.
int Transfer::OnSocketOpened(void* self, curl_socket_t s, curlsocktype) {
  static_cast<Transfer*>(self)->m_lastOpened = s;
  return CURL_SOCKOPT_OK;
}

int Transfer::OnClose(void* self, curl_socket_t s) {
  auto* t = static_cast<Transfer*>(self);
  if (t->m_lastOpened == s) t->m_lastOpened = CURL_SOCKET_BAD;
  if (t->m_resetOnClose) {
    linger l{1, 0};
    ::setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  }
  return ::close(s);
}

bool Transfer::AnswerWaiting() const {
  for (size_t i = 0; i < m_socketCount; ++i) {
    char c;
    if (::recv(m_sockets[i].fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) > 0) return true;
  }
  return false;
}

long Transfer::WaitingStatus() const {
  for (size_t i = 0; i < m_socketCount; ++i) {
    char line[16];
    ssize_t n = ::recv(m_sockets[i].fd, line, sizeof line, MSG_PEEK | MSG_DONTWAIT);
    // "HTTP/1.x NNN"
    if (n < 12 || std::string_view(line, 7) != "HTTP/1." || line[8] != ' ') continue;
    long code = 0;
    for (int k = 9; k < 12; ++k) {
      if (line[k] < '0' || line[k] > '9') return 0;
      code = code * 10 + (line[k] - '0');
    }
    return code;
  }
  return 0;
}

// The sockets curl watches now (only the connected one once the connection
// stands), else the one it opened last.
long Transfer::Unsent() const {
  long most = -1;
  auto look = [&most](curl_socket_t s) {
    int n = 0;
    if (::ioctl(s, SIOCOUTQ, &n) == 0) most = std::max<long>(most, n);
  };
  for (size_t i = 0; i < m_socketCount; ++i) look(m_sockets[i].fd);
  if (m_socketCount == 0 && m_lastOpened != CURL_SOCKET_BAD) look(m_lastOpened);
  return most;
}

int Transfer::Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* t = static_cast<Transfer*>(self);
  if (!t->m_cancelled || !(*t->m_cancelled)()) return 0;
  t->m_resetOnClose = true;
  return 1;
}

TransferEnd Transfer::Run(const std::function<bool()>& cancelled) {
  if (!Ok()) return Fail(TransferFailure::kFailed, CURLE_FAILED_INIT);
  m_cancelled = &cancelled;
  const milliseconds idle = CurrentTimeouts().idle;
  if (curl_multi_add_handle(m_multi, m_easy) != CURLM_OK) {
    m_cancelled = nullptr;
    return Fail(TransferFailure::kFailed, CURLE_OUT_OF_MEMORY);
  }

  // What a failure of curl's multi interface leaves.
  TransferEnd end = Fail(TransferFailure::kFailed, CURLE_OUT_OF_MEMORY);
  Activity last;
  long lastUnsent = -1;
  bool connected = false;
  Clock::time_point lastMove = Clock::now();
  int running = 1;
  auto act = [&](curl_socket_t s, int bits) {
    return curl_multi_socket_action(m_multi, s, bits, &running) == CURLM_OK;
  };
  bool ok = act(CURL_SOCKET_TIMEOUT, 0);
  for (;;) {
    if (!ok) break;
    if (running == 0) {
      int left = 0;
      CURLcode code = CURLE_GOT_NOTHING;
      while (CURLMsg* m = curl_multi_info_read(m_multi, &left))
        if (m->msg == CURLMSG_DONE) code = m->data.result;
      if (code == CURLE_OK)
        end = Done{};
      else if (code == CURLE_ABORTED_BY_CALLBACK && cancelled())
        end = Fail(TransferFailure::kCancelled);
      else
        end = Fail(TransferFailure::kFailed, code);
      break;
    }
    if (cancelled()) {
      end = Fail(TransferFailure::kCancelled);
      m_resetOnClose = true;
      break;
    }
    Activity now = Snapshot(m_easy);
    Clock::time_point t = Clock::now();
    if (!connected && Connected(m_easy, now)) {
      connected = true;
      lastMove = t;
    }
    // The sockets as curl wants them now (the socket callback may change the
    // list while curl runs, so each pass works on a copy).
    std::array<Watch, kMaxSockets> watch;
    size_t count = std::min(m_socketCount, kMaxSockets);
    std::copy_n(m_sockets.begin(), count, watch.begin());
    if (now != last) {
      // Bytes moved: each socket is taken as ready for the direction it
      // moves in (sending first: an answer that comes while the body still
      // goes out is seen by the next poll) and curl goes on at once; a wrong
      // guess costs curl one EAGAIN, while a poll per 2048-byte chunk would
      // cost a good part of the speed.
      last = now;
      lastMove = t;
      for (size_t i = 0; ok && running > 0 && i < count; ++i)
        ok = act(watch[i].fd, (watch[i].what & CURL_POLL_OUT)  ? CURL_CSELECT_OUT
                              : (watch[i].what & CURL_POLL_IN) ? CURL_CSELECT_IN
                                                               : 0);
      if (count == 0) ok = act(CURL_SOCKET_TIMEOUT, 0);
      continue;
    }
    if (onWake) onWake();
    // curl moved nothing: bytes may still be leaving the send buffer.
    if (long unsent = Unsent(); unsent != lastUnsent) {
      lastUnsent = unsent;
      lastMove = t;
    }
    if (connected && t - lastMove >= idle) {
      end = Fail(TransferFailure::kTimedOut);
      m_resetOnClose = true;
      break;
    }
    std::array<pollfd, kMaxSockets> fds;
    for (size_t i = 0; i < count; ++i) {
      fds[i].fd = watch[i].fd;
      fds[i].events = static_cast<short>(((watch[i].what & CURL_POLL_IN) ? POLLIN : 0) |
                                         ((watch[i].what & CURL_POLL_OUT) ? POLLOUT : 0));
      fds[i].revents = 0;
    }
    const int wake = onWake && lastUnsent > 0 ? kDrainWakeMs : kWakeMs;
    int wait = wake;
    if (m_timerSet)
      wait = static_cast<int>(
          std::clamp<int64_t>(std::chrono::ceil<milliseconds>(m_timerAt - t).count(), 0, wake));
    int n = ::poll(fds.data(), count, wait);
    for (size_t i = 0; n > 0 && ok && running > 0 && i < count; ++i) {
      short r = fds[i].revents;
      if (r == 0) continue;
      int bits = ((r & (POLLIN | POLLHUP)) ? CURL_CSELECT_IN : 0) |
                 ((r & POLLOUT) ? CURL_CSELECT_OUT : 0) | ((r & POLLERR) ? CURL_CSELECT_ERR : 0);
      ok = act(fds[i].fd, bits);
    }
    if (ok && running > 0 && m_timerSet && Clock::now() >= m_timerAt) {
      m_timerSet = false;
      ok = act(CURL_SOCKET_TIMEOUT, 0);
    }
  }
  curl_multi_remove_handle(m_multi, m_easy);
  m_cancelled = nullptr;
  return end;
}

}  // namespace zb::net
