#include "jobs/job_state.h"

#include <pthread.h>
#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <thread>

namespace zb::jobs {
namespace {

std::atomic<bool> gFailThreads{false};
std::atomic<int> gRunning{0};
// One counter for every kind and state: a later start always has a larger
// generation, which the tool runner relies on to tell earlier children.
std::atomic<uint64_t> gGeneration{0};

struct ThreadStart {
  JobTicket ticket;
  std::function<void(JobTicket&)> body;
};

void* ThreadMain(void* arg) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(arg));
  start->body(start->ticket);
  start.reset();  // the record is freed before the thread counts as ended
  gRunning.fetch_sub(1, std::memory_order_acq_rel);
  return nullptr;
}

}  // namespace

HttpResponse JobState::Response() const {
  std::lock_guard<std::mutex> lock(responseLock_);
  return response_;
}

std::string JobState::Analysis() const {
  std::lock_guard<std::mutex> lock(responseLock_);
  return analysis_;
}

bool JobTicket::Current() const {
  std::lock_guard<std::mutex> lock(state_->kindLock_[JobState::Index(kind_)]);
  return state_->generation_[JobState::Index(kind_)] == gen_;
}

void JobTicket::SetStatus(int32_t v) {
  int i = JobState::Index(kind_);
  std::lock_guard<std::mutex> lock(state_->kindLock_[i]);
  if (state_->generation_[i] != gen_) return;
  state_->status_[i].store(v, std::memory_order_release);
}

void JobTicket::SetResponse(HttpResponse response) {
  int i = JobState::Index(kind_);
  std::lock_guard<std::mutex> lock(state_->kindLock_[i]);
  if (state_->generation_[i] != gen_) return;
  std::lock_guard<std::mutex> rl(state_->responseLock_);
  state_->response_ = std::move(response);
}

void JobTicket::SetAnalysis(std::string text) {
  int i = JobState::Index(kind_);
  std::lock_guard<std::mutex> lock(state_->kindLock_[i]);
  if (state_->generation_[i] != gen_) return;
  std::lock_guard<std::mutex> rl(state_->responseLock_);
  state_->analysis_ = std::move(text);
}

bool JobState::TerminateRecordedProcess(int sig) {
  std::lock_guard<std::mutex> lock(pidLock_);
  uint32_t pid = tsProcessId_.exchange(0, std::memory_order_acq_rel);
  if (pid == 0) return false;
  return ::kill(static_cast<pid_t>(pid), sig) == 0;
}

uint32_t JobState::TakeProcessId() {
  std::lock_guard<std::mutex> lock(pidLock_);
  return tsProcessId_.exchange(0, std::memory_order_acq_rel);
}

void JobTicket::SetProcessId(uint32_t pid) {
  int i = JobState::Index(kind_);
  std::lock_guard<std::mutex> lock(state_->kindLock_[i]);
  if (state_->generation_[i] != gen_) return;
  std::lock_guard<std::mutex> pl(state_->pidLock_);
  state_->tsProcessId_.store(pid, std::memory_order_release);
}

void JobTicket::ClearProcessId(uint32_t pid) {
  std::lock_guard<std::mutex> pl(state_->pidLock_);
  uint32_t expected = pid;
  state_->tsProcessId_.compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
}

bool StartJob(const std::shared_ptr<JobState>& state, JobKind kind,
              std::function<void(JobTicket&)> body) {
  int i = JobState::Index(kind);
  uint64_t gen;
  {
    std::lock_guard<std::mutex> lock(state->kindLock_[i]);
    gen = state->generation_[i] = gGeneration.fetch_add(1, std::memory_order_relaxed) + 1;
    state->status_[i].store(0, std::memory_order_release);
    if (kind == JobKind::kHttp) {
      std::lock_guard<std::mutex> rl(state->responseLock_);
      state->response_ = HttpResponse();
    }
    if (kind == JobKind::kAnalysis) {
      std::lock_guard<std::mutex> rl(state->responseLock_);
      state->analysis_.clear();
    }
    if (kind == JobKind::kTranscode) {
      std::lock_guard<std::mutex> pl(state->pidLock_);
      state->tsProcessId_.store(0, std::memory_order_release);
    }
  }
  state->breakAsync_.store(false, std::memory_order_release);
  if (gFailThreads.load()) return false;

  auto* start = new ThreadStart{JobTicket(state, kind, gen), std::move(body)};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  gRunning.fetch_add(1, std::memory_order_acq_rel);
  pthread_t tid;
  int rc = pthread_create(&tid, &attr, ThreadMain, start);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    gRunning.fetch_sub(1, std::memory_order_acq_rel);
    delete start;
    return false;
  }
  return true;
}

void FailThreadCreationForTesting(bool fail) {
  gFailThreads.store(fail);
}
int RunningJobThreads() {
  return gRunning.load(std::memory_order_acquire);
}

bool WaitForJobThreadsForTesting(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (gRunning.load(std::memory_order_acquire) > 0) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace zb::jobs
