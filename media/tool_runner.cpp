#include "media/tool_runner.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <memory>

namespace zb::media {
namespace {

constexpr size_t kReadSize = 512;
std::atomic<int> gAwaitingReap{0};

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
// `output`. With `cancelled`, stops after a read that returned data once it
// answers true; returns true then.
bool Drain(int fd, const std::function<bool()>* cancelled,
           const std::function<void(std::string_view)>* output = nullptr) {
  char buf[kReadSize];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (output) (*output)(std::string_view(buf, static_cast<size_t>(n)));
    if (cancelled && (*cancelled)()) return true;
  }
}

ToolResult Reap(pid_t pid) {
  ToolResult res;
  int st = 0;
  pid_t r;
  do {
    r = waitpid(pid, &st, 0);
  } while (r < 0 && errno == EINTR);
  if (r != pid) {
    // Someone else took the status (SIGCHLD ignored): unknown, a failure.
    res.outcome = ToolOutcome::kExited;
    res.exitCode = -1;
    res.error = errno;
  } else if (WIFSIGNALED(st)) {
    res.outcome = ToolOutcome::kSignalled;
    res.signal = WTERMSIG(st);
  } else {
    res.outcome = ToolOutcome::kExited;
    res.exitCode = WEXITSTATUS(st);
  }
  return res;
}

struct Orphan {
  pid_t pid;
  int fd;
};

void* ReaperMain(void* arg) {
  std::unique_ptr<Orphan> o(static_cast<Orphan*>(arg));
  Drain(o->fd, nullptr);
  close(o->fd);
  Reap(o->pid);
  gAwaitingReap.fetch_sub(1, std::memory_order_acq_rel);
  return nullptr;
}

// A cancelled child runs on: a detached thread drains and reaps it. When no
// thread can be made, the caller does it (the cancel is then late, but no
// zombie is left).
void HandToReaper(pid_t pid, int fd) {
  gAwaitingReap.fetch_add(1, std::memory_order_acq_rel);
  auto* o = new Orphan{pid, fd};
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
  ToolResult res;
  int in[2], out[2];
  if (!MakePipe(in)) {
    res.error = errno;
    return res;
  }
  if (!MakePipe(out)) {
    res.error = errno;
    close(in[0]);
    close(in[1]);
    return res;
  }

  std::vector<char*> argv;
  argv.reserve(run.args.size() + 2);
  argv.push_back(const_cast<char*>(run.program.c_str()));
  for (const auto& a : run.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, out[1], 2);
  // The child starts with no blocked signals and the usual dispositions,
  // whatever the job thread or the program set for themselves.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, reset;
  sigemptyset(&none);
  sigemptyset(&reset);
  for (int s : {SIGPIPE, SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2,
                SIGTSTP, SIGTTIN, SIGTTOU}) {
    sigaddset(&reset, s);
  }
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &reset);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = 0;
  int rc = posix_spawn(&pid, run.program.c_str(), &fa, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  // The child's standard input is empty and closed; only the read end of the
  // output stays with us.
  close(in[0]);
  close(in[1]);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    res.error = rc;
    return res;
  }

  if (run.started) run.started(pid);
  bool cancelled =
      Drain(out[0], run.cancelled ? &run.cancelled : nullptr, run.output ? &run.output : nullptr);
  if (run.ending) run.ending(pid);
  if (cancelled) {
    HandToReaper(pid, out[0]);
    res.outcome = ToolOutcome::kLeftRunning;
    return res;
  }
  close(out[0]);
  return Reap(pid);
}

int ChildrenAwaitingReap() {
  return gAwaitingReap.load(std::memory_order_acquire);
}

}  // namespace zb::media
