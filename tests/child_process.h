// Children that tests start: a tool whose output goes to a file, a first
// line or a marker read off a pipe, and the child's end.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace zb::testing {

// Starts argv (looked up on PATH) with standard input from /dev/null and
// standard output and error appended to `outPath`; `keepFd` (when >= 0)
// becomes descriptor 3. `env` null: the test's own environment. -1 when it
// could not start.
inline pid_t SpawnLogged(const std::vector<std::string>& argv, const std::string& outPath,
                         int keepFd = -1, const std::vector<std::string>* env = nullptr) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  if (keepFd >= 0) posix_spawn_file_actions_adddup2(&fa, keepFd, 3);
  std::vector<char*> args, envp;
  for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  if (env) {
    for (auto& e : *env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
  }
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), env ? envp.data() : environ) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

// Reads `fd` until `marker` has arrived, the writer has closed it, or
// `timeout` has passed; gives what was read.
inline std::string ReadUntil(int fd, std::string_view marker, std::chrono::milliseconds timeout) {
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (text.find(marker) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buf[256];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  return text;
}

// The first line of ReadUntil(fd, "\n", timeout), without its newline; ""
// when no whole line came.
inline std::string ReadFirstLine(int fd, std::chrono::milliseconds timeout) {
  std::string text = ReadUntil(fd, "\n", timeout);
  auto nl = text.find('\n');
  return nl == std::string::npos ? "" : text.substr(0, nl);
}

// Ends a child: SIGTERM, then SIGKILL once `grace` has passed; reaps it and
// sets `pid` to -1. Gives the status waitpid gave (-1 when there was none).
inline int EndChild(pid_t& pid, std::chrono::milliseconds grace) {
  int status = -1;
  if (pid <= 0) return status;
  ::kill(pid, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + grace;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid = -1;
  return status;
}

}  // namespace zb::testing
