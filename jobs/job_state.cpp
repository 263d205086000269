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
  std::lock_guard<std::mutex> lock(m_responseLock);
  return m_response;
}

std::string JobState::Analysis() const {
  std::lock_guard<std::mutex> lock(m_responseLock);
  return m_analysis;
}

bool JobTicket::Current() const {
  std::lock_guard<std::mutex> lock(m_state->m_kindLock[JobState::Index(m_kind)]);
  return m_state->m_generation[JobState::Index(m_kind)] == m_gen;
}

void JobTicket::SetStatus(int32_t v) {
  int i = JobState::Index(m_kind);
  std::lock_guard<std::mutex> lock(m_state->m_kindLock[i]);
  if (m_state->m_generation[i] != m_gen) return;
  m_state->m_status[i].store(v, std::memory_order_release);
}

void JobTicket::SetResponse(HttpResponse response) {
  int i = JobState::Index(m_kind);
  std::lock_guard<std::mutex> lock(m_state->m_kindLock[i]);
  if (m_state->m_generation[i] != m_gen) return;
  std::lock_guard<std::mutex> rl(m_state->m_responseLock);
  m_state->m_response = std::move(response);
}

void JobTicket::SetAnalysis(std::string text) {
  int i = JobState::Index(m_kind);
  std::lock_guard<std::mutex> lock(m_state->m_kindLock[i]);
  if (m_state->m_generation[i] != m_gen) return;
  std::lock_guard<std::mutex> rl(m_state->m_responseLock);
  m_state->m_analysis = std::move(text);
}

bool JobState::TerminateRecordedProcess(int sig) {
  std::lock_guard<std::mutex> lock(m_pidLock);
  uint32_t pid = m_tsProcessId.exchange(0, std::memory_order_acq_rel);
  if (pid == 0) return false;
  return ::kill(static_cast<pid_t>(pid), sig) == 0;
}

uint32_t JobState::TakeProcessId() {
  std::lock_guard<std::mutex> lock(m_pidLock);
  return m_tsProcessId.exchange(0, std::memory_order_acq_rel);
}

void JobTicket::SetProcessId(uint32_t pid) {
  int i = JobState::Index(m_kind);
  std::lock_guard<std::mutex> lock(m_state->m_kindLock[i]);
  if (m_state->m_generation[i] != m_gen) return;
  std::lock_guard<std::mutex> pl(m_state->m_pidLock);
  m_state->m_tsProcessId.store(pid, std::memory_order_release);
}

bool JobTicket::ClearProcessId(uint32_t pid) {
  std::lock_guard<std::mutex> pl(m_state->m_pidLock);
  uint32_t expected = pid;
  return m_state->m_tsProcessId.compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
}

bool StartJob(const std::shared_ptr<JobState>& state, JobKind kind,
              std::function<void(JobTicket&)> body) {
  int i = JobState::Index(kind);
  uint64_t gen;
  {
    std::lock_guard<std::mutex> lock(state->m_kindLock[i]);
    gen = state->m_generation[i] = gGeneration.fetch_add(1, std::memory_order_relaxed) + 1;
    state->m_status[i].store(0, std::memory_order_release);
    if (kind == JobKind::kHttp) {
      std::lock_guard<std::mutex> rl(state->m_responseLock);
      state->m_response = HttpResponse();
    }
    if (kind == JobKind::kAnalysis) {
      std::lock_guard<std::mutex> rl(state->m_responseLock);
      state->m_analysis.clear();
    }
    if (kind == JobKind::kTranscode) {
      std::lock_guard<std::mutex> pl(state->m_pidLock);
      state->m_tsProcessId.store(0, std::memory_order_release);
    }
  }
  state->m_breakAsync.store(false, std::memory_order_release);
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
