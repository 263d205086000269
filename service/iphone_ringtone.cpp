#include "service/iphone_ringtone.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern char** environ;

namespace zb::service {
namespace {

// Runs argv (looked up on PATH) with no input; its standard output is
// returned in `out` (at most 64 KiB kept), its errors are dropped. A child
// still running after `limit` is killed. The exit status, or -1.
int Run(const std::vector<std::string>& argv, std::string* out, std::chrono::seconds limit) {
  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  // The child gets the default for the signals the service blocks.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int spawned = posix_spawnp(&pid, args[0], &fa, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  ::close(pipefd[1]);
  if (spawned != 0) {
    ::close(pipefd[0]);
    return -1;
  }
  const auto end = std::chrono::steady_clock::now() + limit;
  bool killed = false;
  char buf[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    end - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      ::kill(pid, SIGKILL);
      killed = true;
      break;
    }
    pollfd p{pipefd[0], POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
    if (r <= 0) continue;
    ssize_t n = ::read(pipefd[0], buf, sizeof buf);
    if (n <= 0) break;
    if (out && out->size() < 65536) out->append(buf, static_cast<size_t>(n));
  }
  ::close(pipefd[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (killed || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace

double AudioSeconds(const std::string& path) {
  std::string out;
  if (Run({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
           "default=noprint_wrappers=1:nokey=1", "--", path},
          &out, std::chrono::seconds(30)) != 0)
    return -1;
  char* end = nullptr;
  double seconds = std::strtod(out.c_str(), &end);
  return end == out.c_str() ? -1 : seconds;
}

bool MakeIphoneRingtone(const std::string& source, const std::string& m4r, std::string* error) {
  const double seconds = AudioSeconds(source);
  if (seconds <= 0) {
    *error = "The ringtone cannot be read.";
    return false;
  }
  std::vector<std::string> argv = {
      "ffmpeg", "-nostdin", "-hide_banner", "-loglevel",     "error", "-y",
      "-i",     source,     "-vn",          "-map_metadata", "-1"};
  if (seconds > kIphoneRingtoneSeconds) {
    char fade[64];
    std::snprintf(fade, sizeof fade, "afade=t=out:st=%.1f:d=2", kIphoneRingtoneSeconds - 2);
    argv.insert(argv.end(), {"-t", "40", "-af", fade});
  }
  // "-f ipod": ffmpeg does not know the .m4r ending by itself.
  argv.insert(argv.end(), {"-c:a", "aac", "-b:a", "128k", "-f", "ipod", m4r});
  if (Run(argv, nullptr, std::chrono::seconds(120)) != 0) {
    std::remove(m4r.c_str());
    *error = "The iPhone ringtone could not be made.";
    return false;
  }
  return true;
}

}  // namespace zb::service
