// Tools that write nothing: a cancel still reaches the job at once, and the
// tool runs on as any cancelled tool does. Tools whose program is killed
// (kill -9) end with it, also when the program dies while it starts one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "media/normalize.h"
#include "media/tool_runner.h"
#include "media/transcode.h"
#include "tool_test_support.h"

namespace zb::media {
namespace {

using namespace zb::testing;
using Clock = std::chrono::steady_clock;

char ProcessState(pid_t pid) {
  std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  size_t r = stat.rfind(')');
  return r == std::string::npos || r + 2 >= stat.size() ? 0 : stat[r + 2];
}

// Gone, or a zombie waiting for whoever adopted it.
bool Dead(pid_t pid) {
  char s = ProcessState(pid);
  return s == 0 || s == 'Z' || s == 'X';
}

// True while `pid` waits in the opening of a FIFO that nobody writes.
bool BlockedOnFifo(pid_t pid) {
  return ReadFile("/proc/" + std::to_string(pid) + "/wchan") == "wait_for_partner";
}

// Unblocks a reader waiting to open `fifo` (once it waits): opens it for
// writing and closes it at once, so the reader sees an empty input.
void EndFifo(const std::string& fifo) {
  WaitUntil([&] {
    int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno != ENXIO;  // ENXIO: no reader yet
    ::close(fd);
    return true;
  });
}

class SilentTools : public ::testing::Test {
 protected:
  void SetUp() override {
    m_m.LinkTool("ffmpeg", "/usr/bin/ffmpeg");
    m_m.LinkTool("mp3gain", "/usr/bin/mp3gain");
    ASSERT_EQ(::mkfifo(m_fifo.c_str(), 0600), 0);
  }
  void TearDown() override { EXPECT_TRUE(AllSettled()); }

  // Cancels the running job of `kind` and returns how long its final status
  // took to come.
  Clock::duration CancelAndTime(jobs::JobKind kind, std::vector<int32_t> running) {
    auto start = Clock::now();
    m_state->Cancel();
    m_final = AwaitFinal(*m_state, kind, std::move(running), 10000);
    return Clock::now() - start;
  }

  ModuleDir m_m;
  std::shared_ptr<jobs::JobState> m_state = std::make_shared<jobs::JobState>();
  std::string m_fifo = m_m.dir / "hung mount.wav";
  int32_t m_final = -1;
};

TEST_F(SilentTools, ACancelReachesAnFfmpegBlockedOnItsInput) {
  ASSERT_TRUE(
      StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), m_fifo, m_m.dir / "ring.mp3"));
  ASSERT_TRUE(WaitUntil([&] { return m_state->ProcessId() != 0; }));
  pid_t ffmpeg = static_cast<pid_t>(m_state->ProcessId());
  ASSERT_TRUE(WaitUntil([&] { return BlockedOnFifo(ffmpeg); }));
  EXPECT_EQ(m_state->Status(jobs::JobKind::kTranscode), 0);
  auto took = CancelAndTime(jobs::JobKind::kTranscode, {0});
  EXPECT_EQ(m_final, 2);
  EXPECT_LT(took, std::chrono::milliseconds(500));
  RecordProperty("cancel_ms", std::to_string(took / std::chrono::milliseconds(1)));
  // The child is not terminated: it still waits for its input.
  EXPECT_FALSE(Dead(ffmpeg));
  EXPECT_EQ(ChildrenAwaitingReap(), 1);
  EndFifo(m_fifo);
}

TEST_F(SilentTools, ACancelReachesAStoppedFfmpeg) {
  std::string song = m_m.dir / "song.wav", out = m_m.dir / "ring.mp3";
  ASSERT_EQ(Sh("sox -n -r 44100 -c 2 " + ShellQuote(song) + " synth 30 sine 440 vol 0.3"), 0);
  // The song arrives slowly through the pipe, as from a slow disc.
  std::atomic<bool> enough{false};
  std::atomic<size_t> fed{0};
  std::thread feeder([&] {
    std::string bytes = ReadFile(song);
    int fd = ::open(m_fifo.c_str(), O_WRONLY | O_CLOEXEC);
    for (size_t at = 0; fd >= 0 && at < bytes.size() && !enough; at += 16384) {
      if (::write(fd, bytes.data() + at, std::min<size_t>(16384, bytes.size() - at)) < 0) break;
      fed = at;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (fd >= 0) ::close(fd);
  });
  ASSERT_TRUE(StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), m_fifo, out));
  ASSERT_TRUE(WaitUntil([&] { return m_state->ProcessId() != 0 && fed > (512 << 10); }));
  pid_t ffmpeg = static_cast<pid_t>(m_state->ProcessId());
  ASSERT_EQ(::kill(ffmpeg, SIGSTOP), 0);
  ASSERT_TRUE(WaitUntil([&] { return ProcessState(ffmpeg) == 'T'; }));
  auto took = CancelAndTime(jobs::JobKind::kTranscode, {0});
  EXPECT_EQ(m_final, 2);
  EXPECT_LT(took, std::chrono::milliseconds(500));
  EXPECT_EQ(ProcessState(ffmpeg), 'T');  // left as it is
  enough = true;
  ::kill(ffmpeg, SIGCONT);
  feeder.join();
}

TEST_F(SilentTools, ACancelReachesAnMp3gainBlockedOnItsFile) {
  ASSERT_TRUE(StartNormalize(m_state, m_m.Path(), m_fifo));
  ASSERT_TRUE(WaitUntil([] {
    auto kids = ChildProcesses();
    return kids.size() == 1 && BlockedOnFifo(kids[0].first);
  }));
  EXPECT_EQ(m_state->Status(jobs::JobKind::kNormalize), 10);
  auto took = CancelAndTime(jobs::JobKind::kNormalize, {0, 10});
  EXPECT_EQ(m_final, 201);
  EXPECT_LT(took, std::chrono::milliseconds(500));
  EXPECT_EQ(ChildrenAwaitingReap(), 1);
  EndFifo(m_fifo);
}

// The program is killed with kill -9 while a tool runs (media_tool_holder
// stands in for it).
class ProgramKilled : public ::testing::Test {
 protected:
  void TearDown() override {
    // A tool that outlived its program (a failure) is let go.
    int fd = ::open(m_fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
    if (m_holder > 0) {
      ::kill(m_holder, SIGKILL);
      int st;
      ::waitpid(m_holder, &st, 0);
    }
  }

  // Starts the holder with `args`; its standard output goes to `pids`.
  void StartHolder(std::vector<std::string> args) {
    std::string exe = ShOut("readlink /proc/" + std::to_string(::getpid()) + "/exe");
    std::string holderPath = exe.substr(0, exe.rfind('/')) + "/media_tool_holder";
    std::vector<char*> argv{holderPath.data()};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out = ::open(m_pids.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(out, 0);
    m_holder = ::fork();
    if (m_holder == 0) {
      ::dup2(out, 1);
      ::execv(holderPath.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out);
    ASSERT_GT(m_holder, 0);
  }
  void KillHolder() {
    ASSERT_EQ(::kill(m_holder, SIGKILL), 0);
    int st;
    ASSERT_EQ(::waitpid(m_holder, &st, 0), m_holder);
    m_holder = 0;
  }

  TempDir m_dir;
  std::string m_fifo = m_dir / "input.wav";
  std::string m_pids = m_dir / "pids";
  pid_t m_holder = 0;
};

TEST_F(ProgramKilled, ItsToolBlockedOnItsInputEndsWithIt) {
  ASSERT_EQ(::mkfifo(m_fifo.c_str(), 0600), 0);
  StartHolder({"0", "/usr/bin/ffmpeg", "-nostdin", "-i", m_fifo, "-f", "null", "-"});
  pid_t ffmpeg = 0;
  ASSERT_TRUE(WaitUntil([&] { return (ffmpeg = std::atoi(ReadFile(m_pids).c_str())) > 0; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_FALSE(Dead(ffmpeg));
  KillHolder();
  EXPECT_TRUE(WaitUntil([&] { return Dead(ffmpeg); }, 5000)) << "ffmpeg outlived the program";
}

// Killed between the fork of the tool's process and its request to end with
// the program: the child notices it has been adopted and never runs the tool.
TEST_F(ProgramKilled, DuringAToolsStartTheToolNeverRuns) {
  std::string ran = m_dir / "ran", tool = m_dir / "tool";
  WriteFakeTool(tool, "touch " + ShellQuote(ran) + "\nexec sleep 30");
  StartHolder({"2500", tool});
  // The forked child, still waiting before its request.
  pid_t child = 0;
  ASSERT_TRUE(WaitUntil([&] {
    for (auto& e : std::filesystem::directory_iterator("/proc")) {
      std::string stat = ReadFile(e.path().string() + "/stat");
      size_t r = stat.rfind(')');
      if (r != std::string::npos && std::atoi(stat.c_str() + r + 4) == m_holder) {
        child = std::atoi(e.path().filename().c_str());
        return true;
      }
    }
    return false;
  }));
  KillHolder();
  EXPECT_TRUE(WaitUntil([&] { return Dead(child); }, 10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(Exists(ran)) << "the tool ran after its program had died";
}

}  // namespace
}  // namespace zb::media
