#include "shellext/detached_process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace zb {

namespace {

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void ExecGrandchild(char* const* argv, int errFd) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  for (int s = 1; s < NSIG; ++s) sigaction(s, &dfl, nullptr);  // fails harmlessly for some
    // No inherited descriptors beyond the standard three.
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */) != 0)
#endif
  {
    long max = sysconf(_SC_OPEN_MAX);
    if (max < 0 || max > 65536) max = 65536;
    for (int fd = 3; fd < max; ++fd)
      if (fd != errFd) fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  execve(argv[0], argv, environ);
  int e = errno;
  ssize_t ignored = write(errFd, &e, sizeof e);
  (void)ignored;
  _exit(127);
}

}  // namespace

int StartDetachedProcess(const std::vector<std::string>& args) {
  if (args.empty()) return EINVAL;
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const auto& a : args) {
    if (a.find('\0') != std::string::npos) return EINVAL;
    argv.push_back(const_cast<char*>(a.c_str()));
  }
  argv.push_back(nullptr);

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return errno;
  pid_t mid = fork();
  if (mid < 0) {
    int e = errno;
    close(fds[0]);
    close(fds[1]);
    return e;
  }
  if (mid == 0) {
    close(fds[0]);
    pid_t pid = fork();
    if (pid == 0) ExecGrandchild(argv.data(), fds[1]);
    if (pid < 0) {
      int e = errno;
      ssize_t ignored = write(fds[1], &e, sizeof e);
      (void)ignored;
    }
    _exit(0);
  }
  close(fds[1]);
  int status = 0;
  while (waitpid(mid, &status, 0) < 0 && errno == EINTR) {
  }
  // The write end closes when exec succeeds (close-on-exec) or the
  // grandchild exits; an error number arrives first otherwise.
  int childErr = 0;
  ssize_t n;
  do {
    n = read(fds[0], &childErr, sizeof childErr);
  } while (n < 0 && errno == EINTR);
  close(fds[0]);
  if (n == static_cast<ssize_t>(sizeof childErr)) return childErr ? childErr : EIO;
  return 0;
}

}  // namespace zb
