#include "media/tool_runner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <thread>

#include "tool_test_support.h"

namespace zb::media {
namespace {

using namespace zb::testing;

ToolRun MakeRun(const std::string& program, std::vector<std::string> args = {}) {
  ToolRun r;
  r.program = program;
  r.args = std::move(args);
  return r;
}

// pipe inode -> the child's descriptors on it.
std::map<std::string, std::vector<int>> PipesOf(pid_t pid) {
  std::map<std::string, std::vector<int>> pipes;
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  for (int fd = 0; fd < 256; ++fd) {
    char buf[256];
    ssize_t n = ::readlink((dir + "/" + std::to_string(fd)).c_str(), buf, sizeof buf - 1);
    if (n <= 0) continue;
    std::string link(buf, n);
    if (link.rfind("pipe:", 0) == 0) pipes[link].push_back(fd);
  }
  return pipes;
}

TEST(ToolRunner, ExitCodesSignalsAndStartFailuresAreDistinct) {
  ModuleDir m;
  int fds = OpenFds();
  m.FakeTool("ok", "exit 0");
  m.FakeTool("three", "exit 3");
  m.FakeTool("killed", "kill -9 $$");                  // WEXITSTATUS of this status is 0
  WriteFile(m.res + "/plain", "#!/bin/sh\nexit 0\n");  // not executable

  ToolResult r = RunTool(MakeRun(m.res + "/ok"));
  EXPECT_TRUE(r.Ok());

  r = RunTool(MakeRun(m.res + "/three"));
  ASSERT_FALSE(r.Ok());
  EXPECT_EQ(r.Reason(), ToolFailure::kExitedWithError);
  EXPECT_EQ(r.Detail(), 3);
  EXPECT_EQ(ToolFailureText(m.res + "/three", r), "three exited with 3");

  r = RunTool(MakeRun(m.res + "/killed"));
  ASSERT_FALSE(r.Ok());
  EXPECT_EQ(r.Reason(), ToolFailure::kSignalled);
  EXPECT_EQ(r.Detail(), SIGKILL);
  EXPECT_EQ(ToolFailureText(m.res + "/killed", r), "killed was killed by signal 9 (Killed)");

  for (std::string bad : {m.res + "/missing", m.res + "/plain", m.res}) {
    bool started = false;
    ToolRun run = MakeRun(bad);
    run.started = [&](pid_t) { started = true; };
    r = RunTool(run);
    ASSERT_FALSE(r.Ok()) << bad;
    EXPECT_EQ(r.Reason(), ToolFailure::kNotStarted) << bad;
    EXPECT_NE(r.Detail(), 0) << bad;
    EXPECT_EQ(ToolFailureText(bad, r),
              bad.substr(bad.rfind('/') + 1) + " could not be started: " +
                  (bad == m.res + "/missing" ? "No such file or directory" : "Permission denied"));
    EXPECT_FALSE(started) << bad;
  }
  EXPECT_EQ(OpenFds(), fds);
  EXPECT_TRUE(ChildProcesses().empty());
}

TEST(ToolRunner, PassesArgvVerbatimGivesEmptyInputAndDrainsBothStreams) {
  ModuleDir m;
  // A megabyte on each stream: far more than a pipe holds, so an undrained
  // stream would block the child. Then the bytes found on standard input.
  m.FakeTool("tool",
             "head -c 1048576 /dev/zero\n"
             "head -c 1048576 /dev/zero >&2\n"
             "exit $(wc -c)");
  std::vector<std::string> args = {"a b", "'q'", "\"dq\"", "$HOME", "*", "; rm -rf /", "é:ü", ""};
  ToolResult r = RunTool(MakeRun(m.res + "/tool", args));
  EXPECT_TRUE(r.Ok());  // exited with 0: no byte on standard input, and it was closed
  auto calls = FakeCalls(m.res);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], args);
}

TEST(ToolRunner, CancelLeavesTheChildRunningAndReapsItWhenItEnds) {
  ModuleDir m;
  int fds = OpenFds();
  m.FakeTool("tool", kHangUntilGo);
  int reads = 0;
  pid_t startedPid = 0, endingPid = 0;
  bool aliveAtEnding = false;
  ToolRun run = MakeRun(m.res + "/tool");
  run.cancelled = [&] { return ++reads == 3; };
  run.started = [&](pid_t p) { startedPid = p; };
  run.ending = [&](pid_t p) {
    endingPid = p;
    aliveAtEnding = Exists("/proc/" + std::to_string(p));  // not reaped yet
  };
  ToolResult r = RunTool(run);
  ASSERT_FALSE(r.Ok());
  EXPECT_EQ(r.Reason(), ToolFailure::kLeftRunning);
  EXPECT_EQ(reads, 3);  // asked after every read with data, stopped at once
  EXPECT_GT(startedPid, 0);
  EXPECT_EQ(endingPid, startedPid);
  EXPECT_TRUE(aliveAtEnding);

  // Not terminated: it keeps running, and its output keeps being drained.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  auto kids = ChildProcesses();
  ASSERT_EQ(kids.size(), 1u);
  EXPECT_EQ(kids[0].first, startedPid);
  EXPECT_NE(kids[0].second, 'Z');
  EXPECT_EQ(ChildrenAwaitingReap(), 1);

  WriteFile(m.res + "/go", "");
  EXPECT_TRUE(AllSettled());
  EXPECT_EQ(ZombieChildren(), 0);
  EXPECT_EQ(OpenFds(), fds);
}

TEST(ToolRunner, ChildrenStartedSideBySideInheritNoOtherDescriptor) {
  constexpr int kRuns = 4;
  std::vector<std::unique_ptr<ModuleDir>> dirs;
  std::vector<std::atomic<pid_t>> pids(kRuns);
  std::vector<ToolResult> results(kRuns);
  std::vector<std::thread> threads;
  for (int i = 0; i < kRuns; ++i) {
    dirs.push_back(std::make_unique<ModuleDir>());
    dirs[i]->FakeTool("tool", kHangUntilGo);
  }
  for (int i = 0; i < kRuns; ++i) {
    threads.emplace_back([&, i] {
      ToolRun run = MakeRun(dirs[i]->res + "/tool");
      run.started = [&, i](pid_t p) { pids[i] = p; };
      results[i] = RunTool(run);
    });
  }
  // Each script has written its pid once it is past its start-up lines.
  ASSERT_TRUE(WaitUntil([&] {
    for (auto& d : dirs)
      if (!Exists(d->res + "/pid")) return false;
    return true;
  }));
  std::vector<std::map<std::string, std::vector<int>>> pipes;
  std::vector<std::string> in, out;
  for (int i = 0; i < kRuns; ++i) {
    pipes.push_back(PipesOf(pids[i]));
    for (auto& [inode, fds] : pipes[i]) {
      if (fds[0] == 0) in.push_back(inode);
      if (fds[0] == 1) out.push_back(inode);
    }
  }
  ASSERT_EQ(in.size(), size_t{kRuns});
  ASSERT_EQ(out.size(), size_t{kRuns});
  for (int i = 0; i < kRuns; ++i) {
    // Its output pipe only on 1 and 2 (no read end), its input pipe on 0
    // (and the shell's own copy of 0), no pipe end of another run.
    EXPECT_EQ(pipes[i][out[i]], (std::vector<int>{1, 2})) << i;
    for (int j = 0; j < kRuns; ++j) {
      if (j == i) continue;
      EXPECT_EQ(pipes[i].count(in[j]) + pipes[i].count(out[j]), 0u) << i << " has a pipe of " << j;
    }
  }
  for (auto& d : dirs) WriteFile(d->res + "/go", "");
  for (auto& t : threads) t.join();
  for (auto& r : results) EXPECT_TRUE(r.Ok());
  EXPECT_TRUE(ChildProcesses().empty());
}

}  // namespace
}  // namespace zb::media
