// One libcurl transfer run on the calling (job) thread, with the network
// jobs' cancel and time-out rules.
//
// Contract:
// - Run() drives the easy handle through a multi handle of its own (curl's
//   socket interface, polled here) and wakes at least every 20 ms, so the
//   cancel predicate is looked at while curl connects, sends and waits; the
//   progress callback asks it too, so a cancel also stops curl from inside
//   its own steps.
// - Connecting gives up after the connect time-out; once connected, the
//   transfer gives up when no byte has moved either way (request body sent
//   or leaving the socket's send buffer, answer head or body received) for
//   the idle time-out.
// - `onWake`, when set, is called whenever the loop is about to wait (at
//   least every 20 ms, every 5 ms while bytes wait in the socket's send
//   buffer), on this thread.
// - A transfer that ends cancelled or timed out, or that a callback gave up
//   with ResetOnClose(), ends its connection with a reset (RST) when curl
//   closes the socket: the bytes still in the socket's send buffer are
//   dropped, so the peer sees a request cut short, never an orderly end of
//   an incomplete (or complete but abandoned) request. Other connections end
//   with an orderly close.
// - Nothing is shared with other threads except what the predicate reads.
#pragma once

#include <curl/curl.h>

#include <array>
#include <chrono>
#include <functional>

#include "platform/outcome.h"

namespace zb::net {

struct Timeouts {
  std::chrono::milliseconds connect{30000};
  std::chrono::milliseconds idle{60000};
};

// The time-outs every new transfer uses.
Timeouts CurrentTimeouts();
// Test hook: shortens (or restores) the time-outs of transfers started later.
void SetTimeoutsForTesting(Timeouts t);
// Test hook: makes handle creation fail, as if libcurl had no memory.
void FailHandleCreationForTesting(bool fail);

// How a transfer ended: ok when curl finished with CURLE_OK (a complete
// answer was received), else why not.
enum class TransferFailure {
  kFailed,     // curl reported an error; detail: its CURLcode
  kCancelled,  // the cancel predicate answered true
  kTimedOut,   // the idle time-out passed
};
using TransferEnd = Outcome<TransferFailure>;

class Transfer {
 public:
  // Makes the easy and multi handles; Ok() is false when either failed.
  Transfer();
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  bool Ok() const { return m_easy != nullptr && m_multi != nullptr; }
  CURL* Easy() const { return m_easy; }

  // Runs the transfer to its end. `cancelled` is called from this thread.
  TransferEnd Run(const std::function<bool()>& cancelled);

  // From curl's callbacks while Run() goes on: the connection is to end with
  // a reset when curl closes it.
  void ResetOnClose() { m_resetOnClose = true; }
  // From curl's callbacks: true when bytes from the peer wait unread on a
  // socket of the transfer (looked at without taking them).
  bool AnswerWaiting() const;
  // From curl's callbacks: the status of an HTTP answer waiting unread on a
  // socket of the transfer, read without taking it; 0 when none can be read.
  long WaitingStatus() const;
  // Bytes written to the connection's socket that have not left the machine
  // yet: not sent, or sent and not acknowledged by the peer (SIOCOUTQ). Through
  // a proxy the peer is the proxy. -1 when there is no such socket.
  long Unsent() const;
  // Called whenever Run()'s loop is about to wait.
  std::function<void()> onWake;

 private:
  using Clock = std::chrono::steady_clock;
  struct Watch {
    curl_socket_t fd;
    int what;  // CURL_POLL_IN / _OUT / _INOUT
  };
  static constexpr size_t kMaxSockets = 8;

  static int Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
  static int OnSocket(CURL*, curl_socket_t s, int what, void* self, void*);
  static int OnTimer(CURLM*, long ms, void* self);
  static int OnClose(void* self, curl_socket_t s);
  static int OnSocketOpened(void* self, curl_socket_t s, curlsocktype);

  std::array<Watch, kMaxSockets> m_sockets{};
  size_t m_socketCount = 0;
  bool m_timerSet = false;
  Clock::time_point m_timerAt;
  CURL* m_easy = nullptr;
  CURLM* m_multi = nullptr;
  const std::function<bool()>* m_cancelled = nullptr;
  bool m_resetOnClose = false;
  curl_socket_t m_lastOpened = CURL_SOCKET_BAD;  // the connection's newest socket
};

}  // namespace zb::net
