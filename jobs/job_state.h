// The background job model: the job fields that the main window shares with
// its job threads, and the one way to start a job.
//
// Contract:
// - The fields live in a JobState held by shared_ptr by the main window and
//   by every running job, so a job that ends after the window has gone still
//   writes into live memory. Nobody waits for job threads.
// - Each start of a kind takes a new generation, larger than every earlier
//   one of any kind and state; a job writes its fields only while its
//   generation is the current one of its kind (checked and written under the
//   kind's lock), so a stale job never overwrites a newer one.
// - Status values, the process id and the cancel flag are atomics; the HTTP
//   response is stored (under a lock) before the status that publishes it.
// - The transcode child's process id is recorded, cleared and signalled under
//   one lock, and the job clears it before it reaps the child (see
//   tool_runner.h), so TerminateRecordedProcess never signals a reused id.
#pragma once

#include <signal.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/outcome.h"

namespace zb::jobs {

enum class JobKind : int {
  kHttp = 0,
  kTranscode = 1,
  kUpload = 2,
  kGrab = 3,
  kNormalize = 4,
  kAnalysis = 5
};
constexpr int kJobKinds = 6;

// Why an HTTP job has no answer text.
enum class HttpFailure {
  kNoHandle,  // no request handle could be made
  kBadUrl,    // not an http or https URL; detail: curl's URL code (0: another scheme)
  kNotSent,   // the request failed, timed out or had too large an answer; detail: curl's code
};
// The HTTP job's response: the answer's text, or why there is none.
using HttpResponse = Outcome<HttpFailure, std::string>;

class JobState {
 public:
  JobState() = default;
  JobState(const JobState&) = delete;
  JobState& operator=(const JobState&) = delete;

  // Reads for the status properties (main thread).
  int32_t Status(JobKind k) const { return m_status[Index(k)].load(std::memory_order_acquire); }
  HttpResponse Response() const;
  // The song analysis's result text ("" until the job has published it).
  std::string Analysis() const;
  uint32_t ProcessId() const { return m_tsProcessId.load(std::memory_order_acquire); }
  bool CancelRequested() const { return m_breakAsync.load(std::memory_order_acquire); }

  // ZBL_BreakAsyncOperation: asks every running job to stop.
  void Cancel() { m_breakAsync.store(true, std::memory_order_release); }

  // ZBL_CloseWindow: sends `sig` to the recorded ffmpeg child, if any, and
  // clears the record (so the child is signalled at most once). The record
  // is read and the signal sent under the lock that the job holds while it
  // clears the record before reaping, so the id is never a reaped one. True
  // when a child was signalled.
  bool TerminateRecordedProcess(int sig = SIGKILL);

  // Takes the recorded child process id and clears it without signalling.
  // 0 when none. Do not signal the returned id yourself: its child may be
  // reaped (and the id reused) at any moment after this returns; use
  // TerminateRecordedProcess.
  uint32_t TakeProcessId();

  // Shows a message box from a job thread; set by the UI before any job runs.
  // It runs the box on the main thread and returns when the box has closed.
  std::function<void(const std::string& text)> showMessageBox;

 private:
  friend class JobTicket;
  friend bool StartJob(const std::shared_ptr<JobState>&, JobKind,
                       std::function<void(class JobTicket&)>);
  static int Index(JobKind k) { return static_cast<int>(k); }

  std::array<std::atomic<int32_t>, kJobKinds> m_status{};
  std::array<uint64_t, kJobKinds> m_generation{};  // guarded by m_kindLock
  std::array<std::mutex, kJobKinds> m_kindLock;
  mutable std::mutex m_responseLock;
  HttpResponse m_response;
  std::string m_analysis;  // guarded by m_responseLock
  std::mutex m_pidLock;    // taken after a m_kindLock, never before
  std::atomic<uint32_t> m_tsProcessId{0};
  std::atomic<bool> m_breakAsync{false};
};

// What a job thread holds: its state, its kind and its generation.
class JobTicket {
 public:
  JobTicket(std::shared_ptr<JobState> s, JobKind k, uint64_t gen)
      : m_state(std::move(s)), m_kind(k), m_gen(gen) {}

  // True while no newer job of this kind has been started.
  bool Current() const;
  // Writes the status; ignored when the job is stale.
  void SetStatus(int32_t v);
  // HTTP job: stores the response (before the status that publishes it).
  void SetResponse(HttpResponse response);
  // Analysis job: stores the result text (before the status that publishes it).
  void SetAnalysis(std::string text);
  // Transcode job: records the child's process id; ignored when stale.
  void SetProcessId(uint32_t pid);
  // Clears the process id only if it still holds `pid`; false when it did not
  // (the job was stale, or the window took the id to end the child). Once
  // this returns, no TerminateRecordedProcess can still be about to signal
  // `pid`.
  bool ClearProcessId(uint32_t pid);
  bool Cancelled() const { return m_state->CancelRequested(); }
  const std::shared_ptr<JobState>& State() const { return m_state; }
  JobKind Kind() const { return m_kind; }
  uint64_t Generation() const { return m_gen; }

 private:
  std::shared_ptr<JobState> m_state;
  JobKind m_kind;
  uint64_t m_gen;
};

// Starts a job: resets the kind's fields (status 0; response text "" for HTTP
// and the analysis;
// process id 0 for transcode), takes a new generation, clears the cancel flag
// and runs `body` on a new detached thread. False when no thread could be
// created; the status is then 0.
bool StartJob(const std::shared_ptr<JobState>& state, JobKind kind,
              std::function<void(JobTicket&)> body);

// Test hooks: make thread creation fail; count and await running job threads.
void FailThreadCreationForTesting(bool fail);
int RunningJobThreads();
bool WaitForJobThreadsForTesting(int timeoutMs);

}  // namespace zb::jobs
