// Tests that need a toolkit of their own run in a fresh copy of the test
// program (re-executed with a filter for the current test), so no toolkit
// state stays behind in the process that runs the other tests; an Xvfb of
// the test's own gives them a display.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

extern char** environ;

namespace zb::testing {

inline constexpr char kChildVar[] = "ZB_BOX_TEST_CHILD";

// True in the re-executed copy.
inline bool InChild() {
  return std::getenv(kChildVar) != nullptr;
}

// An Xvfb on a free display, stopped (and reaped) when the object goes.
class Xvfb {
 public:
  Xvfb() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 3);  // dup2 clears close-on-exec
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"Xvfb",    "-displayfd", "3",           "-nolisten", "tcp",
                          "-screen", "0",          "1024x768x24", "-noreset",  nullptr};
    if (posix_spawnp(&m_pid, "Xvfb", &fa, nullptr, const_cast<char**>(argv), environ) != 0)
      m_pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    std::string number;
    pollfd p = {fds[0], POLLIN, 0};
    while (m_pid > 0 && poll(&p, 1, 20000) == 1) {
      char c;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      number.push_back(c);
    }
    close(fds[0]);
    if (!number.empty()) m_display = ":" + number;
  }
  ~Xvfb() {
    if (m_pid > 0) {
      kill(m_pid, SIGTERM);
      waitpid(m_pid, nullptr, 0);
    }
  }
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;
  const std::string& Display() const { return m_display; }

 private:
  pid_t m_pid = -1;
  std::string m_display;
};

// Runs the current test in a fresh copy of the program with `env` (shell
// words) added; its exit status.
inline int RunChild(const std::string& env) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string filter =
      std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
  std::string cmd =
      env + " " + kChildVar + "=1 /proc/" + std::to_string(getpid()) + "/exe '" + filter + "' >&2";
  int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace zb::testing
