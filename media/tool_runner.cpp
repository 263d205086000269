#include "media/tool_runner.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/stderr_notice.h"

namespace zb::media {
namespace {

constexpr size_t kReadSize = 512;
// Longest wait for output before the cancel is looked at again.
constexpr int kCancelLookMs = 20;
std::atomic<int> gAwaitingReap{0};

ToolResult Reap(pid_t pid);

// The children that have started and not yet been reaped.
struct Child {
  pid_t pid = 0;
  int kind = -1;
  uint64_t generation = 0;
  std::vector<std::string> leftovers;
  timespec started{};
  bool ended = false;  // killed by EndEarlierChildren or EndAllChildren
};

// Never destroyed: detached job and reaper threads may still use it while
// the program exits.
struct Children {
  std::mutex lock;
  std::condition_variable gone;
  std::list<Child> list;                 // guarded by lock
  std::map<int, uint64_t> firstAllowed;  // per kind: the oldest generation that may start
  bool closed = false;                   // the program is ending: no more starts
};
Children& Known() {
  static Children* c = new Children;
  return *c;
}

using ChildRef = std::list<Child>::iterator;

bool WrittenSince(const struct stat& st, const timespec& t) {
  return st.st_mtim.tv_sec > t.tv_sec ||
         (st.st_mtim.tv_sec == t.tv_sec && st.st_mtim.tv_nsec >= t.tv_nsec);
}

// The child has ended: its leftovers go when it was ended by a signal, then
// it leaves the list (waking whoever waits for it) and is reaped. Until it
// has left the list it is a zombie at worst, so a kill never hits a reused
// process id.
ToolResult Finish(ChildRef c) {
  siginfo_t info{};
  int r;
  do {
    r = waitid(P_PID, static_cast<id_t>(c->pid), &info, WEXITED | WNOWAIT);
  } while (r < 0 && errno == EINTR);
  bool signalled = r == 0 && (info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED);
  Children& k = Known();
  bool ended;
  {
    std::lock_guard<std::mutex> lock(k.lock);
    ended = c->ended;
  }
  if (signalled || ended) {
    for (const auto& f : c->leftovers) {
      struct stat st;
      if (::lstat(f.c_str(), &st) == 0 && S_ISREG(st.st_mode) && WrittenSince(st, c->started))
        ::unlink(f.c_str());
    }
  }
  pid_t pid = c->pid;
  {
    std::lock_guard<std::mutex> lock(k.lock);
    k.list.erase(c);
  }
  k.gone.notify_all();
  ToolResult result = Reap(pid);
  if (ended && !result.Ok() && result.Reason() == ToolFailure::kSignalled)
    return Fail(ToolFailure::kEnded, result.Detail());
  return result;
}

// Waits until no child that `match` picks is left; false on time-out.
template <typename Match>
bool WaitGone(std::unique_lock<std::mutex>& lock, int timeoutMs, Match match) {
  Children& k = Known();
  return k.gone.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    for (const Child& c : k.list)
      if (match(c)) return false;
    return true;
  });
}

// Moves a descriptor to 3 or above (close-on-exec), so that the child's
// dup2 onto 0, 1 and 2 can never overwrite another end it still needs.
int AboveStdio(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  int saved = errno;
  close(fd);
  errno = saved;
  return moved;
}

bool MakePipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  fds[0] = AboveStdio(fds[0]);
  int saved = errno;
  fds[1] = AboveStdio(fds[1]);
  if (fds[0] >= 0 && fds[1] >= 0) return true;
  if (fds[1] < 0) saved = errno;
  if (fds[0] >= 0) close(fds[0]);
  if (fds[1] >= 0) close(fds[1]);
  errno = saved;
  return false;
}

// Reads until the output ends (or a read fails), showing each piece to
// `output`. With `cancelled`, stops once it answers true: after a read that
// returned data, and whenever the output has been silent for kCancelLookMs
// (a tool blocked on its input, or stopped, writes nothing); returns true
// then. Without `cancelled` it blocks in read() alone.
bool Drain(int fd, const std::function<bool()>* cancelled,
           const std::function<void(std::string_view)>* output = nullptr) {
  char buf[kReadSize];
  for (;;) {
    if (cancelled) {
      pollfd p{fd, POLLIN, 0};
      int r = poll(&p, 1, kCancelLookMs);
      if (r < 0 && errno != EINTR) return false;
      if (r <= 0) {
        if ((*cancelled)()) return true;
        continue;
      }
    }
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (output) (*output)(std::string_view(buf, static_cast<size_t>(n)));
    if (cancelled && (*cancelled)()) return true;
  }
}

ToolResult Reap(pid_t pid) {
  int st = 0;
  pid_t r;
  do {
    r = waitpid(pid, &st, 0);
  } while (r < 0 && errno == EINTR);
  // Someone else took the status (SIGCHLD ignored): unknown, a failure.
  if (r != pid) return Fail(ToolFailure::kExitedWithError, -1);
  if (WIFSIGNALED(st)) return Fail(ToolFailure::kSignalled, WTERMSIG(st));
  if (WEXITSTATUS(st) != 0) return Fail(ToolFailure::kExitedWithError, WEXITSTATUS(st));
  return Done{};
}

// Every tool child is forked by one thread that lives as long as the
// program: the child asks the kernel to kill it when the thread that forked
// it ends (PR_SET_PDEATHSIG), so a job thread, which ends while a cancelled
// child runs on, must not be the one. If the program dies between the fork
// and that request (kill -9 at that moment), the child finds itself
// re-parented and ends before it runs the tool.
struct SpawnRequest {
  const char* program = nullptr;
  char* const* argv = nullptr;
  int in = -1, out = -1;  // become the child's 0, and 1 and 2
  pid_t pid = 0;          // the child, once it runs the tool
  int error = 0;          // why not
  bool done = false;
};

class Spawner {
 public:
  static Spawner& Get() {
    static Spawner* s = new Spawner;  // never destroyed, as its thread
    return *s;
  }

  // Runs the request on the spawning thread; false (error set) when that
  // thread cannot be started.
  bool Run(SpawnRequest& r) {
    std::unique_lock<std::mutex> lock(m_mu);
    if (m_owner != getpid()) {  // none yet, or a forked copy of the program
      pthread_t tid;
      pthread_attr_t attr;
      pthread_attr_init(&attr);
      pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
      int rc = pthread_create(&tid, &attr, &Spawner::Main, this);
      pthread_attr_destroy(&attr);
      if (rc != 0) {
        r.error = rc;
        return false;
      }
      m_owner = getpid();
    }
    m_queue.push_back(&r);
    m_wake.notify_all();
    m_done.wait(lock, [&] { return r.done; });
    return true;
  }

  void DelayChildStart(int ms) { m_childDelayMs.store(ms); }

 private:
  static void* Main(void* self) {
    // All signals stay blocked on this thread, so a forked child runs no
    // handler of the program before it has reset them.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    auto* s = static_cast<Spawner*>(self);
    for (;;) {
      SpawnRequest* r;
      {
        std::unique_lock<std::mutex> lock(s->m_mu);
        s->m_wake.wait(lock, [&] { return !s->m_queue.empty(); });
        r = s->m_queue.front();
        s->m_queue.pop_front();
      }
      s->Spawn(*r);
      {
        std::lock_guard<std::mutex> lock(s->m_mu);
        r->done = true;
      }
      s->m_done.notify_all();
    }
    return nullptr;
  }

  void Spawn(SpawnRequest& r) {
    // The child reports a failed exec through this pipe; it closes on exec.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
      r.error = errno;
      return;
    }
    const pid_t parent = getpid();
    const int delayMs = m_childDelayMs.load();
    pid_t pid = fork();
    if (pid < 0) {
      r.error = errno;
      close(report[0]);
      close(report[1]);
      return;
    }
    if (pid == 0) Child(r, parent, delayMs, report[1]);  // never returns
    close(report[1]);
    int childError = 0;
    ssize_t n;
    do {
      n = read(report[0], &childError, sizeof childError);
    } while (n < 0 && errno == EINTR);
    close(report[0]);
    if (n == 0) {  // closed by the exec: the tool runs
      r.pid = pid;
      return;
    }
    r.error = n == sizeof childError && childError != 0 ? childError : ECHILD;
    int st;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
  }

  // In the forked child: only async-signal-safe calls from here on.
  [[noreturn]] static void Child(const SpawnRequest& r, pid_t parent, int delayMs, int report) {
    if (delayMs > 0) {
      timespec t{delayMs / 1000, (delayMs % 1000) * 1000000L};
      while (nanosleep(&t, &t) != 0 && errno == EINTR) {
      }
    }
    int err = 0;
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) err = errno;
    // The program died before the request took: nobody would kill this
    // child later, so it ends now.
    if (err == 0 && getppid() != parent) err = ECHILD;
    if (err == 0 && (dup2(r.in, 0) < 0 || dup2(r.out, 1) < 0 || dup2(r.out, 2) < 0)) err = errno;
    // Nothing else reaches the tool: not the sockets of libcurl or the files
    // of libcdio, which are not close-on-exec, nor anything the program's
    // parent left open. (The report pipe is close-on-exec already.)
    if (err == 0 && close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
      for (int fd = 3; fd < 65536; ++fd)
        if (fd != report) fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    if (err == 0) {
      // The tool starts with the usual dispositions and no blocked signal,
      // whatever the program set for itself.
      struct sigaction dfl {};
      dfl.sa_handler = SIG_DFL;
      for (int sig = 1; sig < NSIG; ++sig) {
        if (sig == SIGKILL || sig == SIGSTOP) continue;
        sigaction(sig, &dfl, nullptr);
      }
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      execve(r.program, r.argv, environ);
      err = errno;
    }
    ssize_t w;
    do {
      w = write(report, &err, sizeof err);
    } while (w < 0 && errno == EINTR);
    _exit(127);
  }

  std::mutex m_mu;
  std::condition_variable m_wake, m_done;
  std::deque<SpawnRequest*> m_queue;  // guarded by m_mu
  pid_t m_owner = 0;                  // the process whose thread spawns
  std::atomic<int> m_childDelayMs{0};
};

struct Orphan {
  ChildRef child;
  int fd;
};

void* ReaperMain(void* arg) {
  std::unique_ptr<Orphan> o(static_cast<Orphan*>(arg));
  Drain(o->fd, nullptr);
  close(o->fd);
  (void)Finish(o->child);  // nobody waits for a cancelled run's end
  gAwaitingReap.fetch_sub(1, std::memory_order_acq_rel);
  return nullptr;
}

// A cancelled child runs on: a detached thread drains and reaps it. When no
// thread can be made, the caller does it (the cancel is then late, but no
// zombie is left).
void HandToReaper(ChildRef child, int fd) {
  gAwaitingReap.fetch_add(1, std::memory_order_acq_rel);
  auto* o = new Orphan{child, fd};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t tid;
  int rc = pthread_create(&tid, &attr, ReaperMain, o);
  pthread_attr_destroy(&attr);
  if (rc != 0) ReaperMain(o);
}

}  // namespace

ToolResult RunTool(const ToolRun& run) {
  int in[2], out[2];
  if (!MakePipe(in)) return Fail(ToolFailure::kNotStarted, errno);
  if (!MakePipe(out)) {
    int err = errno;
    close(in[0]);
    close(in[1]);
    return Fail(ToolFailure::kNotStarted, err);
  }

  std::vector<char*> argv;
  argv.reserve(run.args.size() + 2);
  argv.push_back(const_cast<char*>(run.program.c_str()));
  for (const auto& a : run.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  int rc;
  ChildRef child;
  {
    // Started and listed under the lock, so that no kill of the kind's
    // earlier children, nor the program's end, can miss it.
    Children& k = Known();
    std::lock_guard<std::mutex> lock(k.lock);
    auto allowed = k.firstAllowed.find(run.kind);
    if (k.closed || (allowed != k.firstAllowed.end() && run.generation < allowed->second)) {
      rc = ECANCELED;
    } else {
      Child c;
      c.kind = run.kind;
      c.generation = run.generation;
      c.leftovers = run.leftovers;
      clock_gettime(CLOCK_REALTIME, &c.started);
      // File times come from a coarser clock: count from a little before.
      constexpr long kSlackNs = 20'000'000;
      if (c.started.tv_nsec >= kSlackNs) {
        c.started.tv_nsec -= kSlackNs;
      } else {
        c.started.tv_sec -= 1;
        c.started.tv_nsec += 1'000'000'000 - kSlackNs;
      }
      SpawnRequest req;
      req.program = run.program.c_str();
      req.argv = argv.data();
      req.in = in[0];
      req.out = out[1];
      Spawner::Get().Run(req);
      rc = req.error;
      pid = req.pid;
      if (rc == 0) {
        c.pid = pid;
        child = k.list.insert(k.list.end(), std::move(c));
      }
    }
  }
  // The child's standard input is empty and closed; only the read end of the
  // output stays with us.
  close(in[0]);
  close(in[1]);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return Fail(ToolFailure::kNotStarted, rc);
  }

  if (run.started) run.started(pid);
  bool cancelled =
      Drain(out[0], run.cancelled ? &run.cancelled : nullptr, run.output ? &run.output : nullptr);
  if (run.ending) run.ending(pid);
  if (cancelled && run.endOnCancel) {
    {
      std::lock_guard<std::mutex> lock(Known().lock);
      child->ended = true;
      ::kill(child->pid, SIGKILL);
    }
    Drain(out[0], nullptr);
    close(out[0]);
    (void)Finish(child);
    return Fail(ToolFailure::kLeftRunning);
  }
  if (cancelled) {
    HandToReaper(child, out[0]);
    return Fail(ToolFailure::kLeftRunning);
  }
  close(out[0]);
  return Finish(child);
}

std::string ToolFailureText(std::string_view program, const ToolResult& result) {
  if (result.Ok()) return "";
  const std::string_view name = program.substr(program.find_last_of('/') + 1);
  const int detail = result.Detail();
  switch (result.Reason()) {
    case ToolFailure::kNotStarted: {
      if (detail == ECANCELED) return "";
      const char* why = strerrordesc_np(detail);
      return std::string(name) +
             " could not be started: " + (why ? why : "error " + std::to_string(detail));
    }
    case ToolFailure::kExitedWithError:
      if (detail < 0) return std::string(name) + " ended with an exit status nobody could read";
      return std::string(name) + " exited with " + std::to_string(detail);
    case ToolFailure::kSignalled: {
      const char* what = sigdescr_np(detail);
      return std::string(name) + " was killed by signal " + std::to_string(detail) +
             (what ? std::string(" (") + what + ")" : "");
    }
    case ToolFailure::kLeftRunning:
    case ToolFailure::kEnded:
      break;
  }
  return "";
}

void NoticeToolFailure(std::string_view program, const ToolResult& result) {
  const std::string text = ToolFailureText(program, result);
  if (!text.empty()) Notice(text);
}

int ChildrenAwaitingReap() {
  return gAwaitingReap.load(std::memory_order_acquire);
}

bool EndEarlierChildren(int kind, uint64_t generation, int timeoutMs) {
  auto earlier = [&](const Child& c) { return c.kind == kind && c.generation < generation; };
  Children& k = Known();
  std::unique_lock<std::mutex> lock(k.lock);
  uint64_t& first = k.firstAllowed[kind];
  if (first < generation) first = generation;
  for (Child& c : k.list) {
    if (!earlier(c)) continue;
    c.ended = true;
    ::kill(c.pid, SIGKILL);
  }
  return WaitGone(lock, timeoutMs, earlier);
}

bool EndAllChildren(int timeoutMs) {
  Children& k = Known();
  std::unique_lock<std::mutex> lock(k.lock);
  k.closed = true;
  for (Child& c : k.list) {
    c.ended = true;
    ::kill(c.pid, SIGKILL);
  }
  return WaitGone(lock, timeoutMs, [](const Child&) { return true; });
}

void DelayChildStartForTesting(int ms) {
  Spawner::Get().DelayChildStart(ms);
}

void AllowChildrenForTesting() {
  Children& k = Known();
  std::lock_guard<std::mutex> lock(k.lock);
  k.closed = false;
}

}  // namespace zb::media
