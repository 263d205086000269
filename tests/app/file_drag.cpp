#include "app/file_drag.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "app/app_harness.h"
#include "child_process.h"

extern char** environ;

namespace zb::testing {

bool DragFileOnto(const std::string& uri, int x, int y) {
  const std::string prog = std::string(ZIMBREL_BUILD_DIR) + "/tests/drop_source";
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  std::vector<std::string> args{prog, "0", "0", uri};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, prog.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  ::close(out[1]);
  // It says "ready" once its window is shown.
  const std::string said = pid > 0 ? ReadUntil(out[0], "ready", std::chrono::seconds(20)) : "";
  ::close(out[0]);
  const bool ready = said.find("ready") != std::string::npos;
  if (ready) {
    auto pause = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    // Press on the source, move past GTK's drag threshold in steps, then to
    // the target, where the pointer rests a moment before the button goes up.
    AppHarness::Xdo({"mousemove", "--sync", "100", "100"});
    pause(200);
    AppHarness::Xdo({"mousedown", "1"});
    pause(200);
    for (int step = 1; step <= 8; ++step) {
      AppHarness::Xdo({"mousemove", "--sync", std::to_string(100 + (x - 100) * step / 8),
                       std::to_string(100 + (y - 100) * step / 8)});
      pause(100);
    }
    AppHarness::Xdo({"mousemove", "--sync", std::to_string(x + 3), std::to_string(y + 3)});
    pause(400);
    AppHarness::Xdo({"mouseup", "1"});
    pause(500);
  }
  if (pid > 0) {
    ::kill(pid, SIGTERM);
    int st;
    ::waitpid(pid, &st, 0);
  }
  return ready;
}

}  // namespace zb::testing
