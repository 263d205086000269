// What a tool child gets and how it ends: only the standard streams, whatever
// the program holds open (a GET's connection, an upload's socket, a CD image
// being read, a descriptor inherited from the program's parent); an earlier
// job's child of a kind is ended before the next of that kind starts; at the
// program's end every child is ended and what it half wrote is removed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utime.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "cd_test_image.h"
#include "media/cd_jobs.h"
#include "media/normalize.h"
#include "media/tool_runner.h"
#include "media/transcode.h"
#include "net/http_request.h"
#include "net/raw_server.h"
#include "net/upload.h"
#include "tool_test_support.h"

namespace zb::media {
namespace {

using namespace zb::testing;

// A fake tool body that writes its pid to pid-<tool> beside it (through a
// temporary name) and then waits for "go" without a descriptor of its own.
const char kPidThenHang[] =
    "t=$(basename \"$0\"); echo $$ > \"$d/.pid-$t\"; mv \"$d/.pid-$t\" \"$d/pid-$t\"\n"
    "while [ ! -e \"$d/go\" ]; do sleep 0.01; done\n";

// The descriptors of a running process, without the one the shell keeps on
// its own script.
std::map<int, std::string> OpenFdsOf(pid_t pid, const std::string& script) {
  std::map<int, std::string> fds;
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    std::string target = std::filesystem::read_symlink(e.path(), ec).string();
    if (!ec && target != script) fds[std::atoi(e.path().filename().c_str())] = target;
  }
  return fds;
}

// Our own descriptors that a child would inherit without the runner's care.
std::vector<std::string> InheritableFds() {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
    int fd = std::atoi(e.path().filename().c_str());
    int flags = ::fcntl(fd, F_GETFD);
    if (fd > 2 && flags >= 0 && !(flags & FD_CLOEXEC)) {
      std::error_code ec;
      out.push_back(std::filesystem::read_symlink(e.path(), ec).string());
    }
  }
  return out;
}

// A gate that holds whoever waits on it until it is opened.
class Gate {
 public:
  void Wait() {
    std::unique_lock<std::mutex> lock(m_mu);
    m_waiting = true;
    m_cv.notify_all();
    m_cv.wait(lock, [&] { return m_open; });
  }
  bool AwaitWaiter(int timeoutMs = 10000) {
    std::unique_lock<std::mutex> lock(m_mu);
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_waiting; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(m_mu);
    m_open = true;
    m_cv.notify_all();
  }

 private:
  std::mutex m_mu;
  std::condition_variable m_cv;
  bool m_waiting = false, m_open = false;
};

TEST(ToolChildren, SeeOnlyTheirStandardStreamsWhateverTheProgramHasOpen) {
  ModuleDir m;
  m.FakeTool("ffmpeg", kPidThenHang);
  m.FakeTool("mp3gain", kPidThenHang + FakeMp3gainAnalysis());
  auto state = std::make_shared<jobs::JobState>();

  // What the program's parent left open, without close-on-exec.
  int inherited = ::open("/dev/null", O_RDONLY);
  int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(inherited, 0);
  ASSERT_GE(socket, 0);

  // A GET whose answer does not come, and an upload the service does not read.
  Gate answer, sink;
  std::atomic<bool> asked{false}, sending{false};
  RawServer web([&](RawConnection& c) {
    if (c.ReadHead()) asked = true;
    answer.Wait();
  });
  RawServer service(
      [&](RawConnection& c) {
        if (c.ReadHead()) sending = true;
        sink.Wait();
        c.ReadRequest();
      },
      8192);
  // Whatever happens below, everything held is let go before the servers end.
  struct Release {
    std::function<void()> all;
    ~Release() { all(); }
  } release;
  Gate reading;
  release.all = [&] {
    WriteFile(m.res + "/go", "");
    answer.Open();
    sink.Open();
    reading.Open();
  };
  ScopedEnv host("ZIMBREL_SERVICE_HOST", service.Authority());
  std::string song = m.dir / "song.mp3";
  WriteFile(song, std::string(4 << 20, 'x'));
  ASSERT_TRUE(net::StartHttpRequest(state, "http://" + web.Authority() + "/slow"));
  ASSERT_TRUE(net::StartUpload(state, song, "s1"));

  // A CD image being read: the first read holds until the tools have looked.
  TempDir images;
  auto img = cdtest::WriteCdImage(images.Path(), "disc", {{100}, {100}});
  ScopedEnv cdEnv("ZIMBREL_CD_IMAGES", img.cue);
  auto cd = std::make_shared<cdtest::FaultCdAccess>(MakeDefaultCdAccess());
  cd->afterRead = [&](CDAudioBuffer&, int n) {
    if (n == 0) reading.Wait();
  };
  std::string wav = m.dir / "track.wav";
  ASSERT_TRUE(StartGrab(state, cd, std::to_string(cdtest::RealDriveCount()), "0", wav));

  ASSERT_TRUE(WaitUntil([&] { return asked && sending; }));
  ASSERT_TRUE(reading.AwaitWaiter());
  std::vector<std::string> open = InheritableFds();
  auto has = [&](const std::string& prefix) {
    return std::any_of(open.begin(), open.end(),
                       [&](const std::string& t) { return t.rfind(prefix, 0) == 0; });
  };
  // The test means something: inheritable sockets and the image are open.
  EXPECT_TRUE(has("socket:")) << ::testing::PrintToString(open);
  EXPECT_TRUE(has("/dev/null")) << ::testing::PrintToString(open);
  EXPECT_TRUE(has(img.bin)) << "libcdio's image file: " << ::testing::PrintToString(open);

  std::string out = m.tmp + "/ring.mp3";
  ASSERT_TRUE(StartTranscode(state, TranscodeStatusForPages, m.Path(), m.dir / "in.wav", out));
  ASSERT_TRUE(StartNormalize(state, m.Path(), song));
  for (const char* tool : {"ffmpeg", "mp3gain"}) {
    SCOPED_TRACE(tool);
    std::string pidFile = m.res + "/pid-" + tool;
    ASSERT_TRUE(WaitUntil([&] { return Exists(pidFile); }));
    pid_t pid = std::atoi(ReadFile(pidFile).c_str());
    std::map<int, std::string> fds;
    std::set<int> numbers;
    // Read until the shell is past any redirection of its own.
    WaitUntil(
        [&] {
          fds = OpenFdsOf(pid, m.res + "/" + tool);
          numbers.clear();
          for (auto& [fd, target] : fds) numbers.insert(fd);
          return numbers == std::set<int>{0, 1, 2};
        },
        3000);
    EXPECT_EQ(numbers, (std::set<int>{0, 1, 2})) << ::testing::PrintToString(fds);
    EXPECT_EQ(fds[0].rfind("pipe:", 0), 0u);
    EXPECT_EQ(fds[1], fds[2]);
  }

  release.all();
  EXPECT_EQ(AwaitFinal(*state, jobs::JobKind::kTranscode), 1);
  EXPECT_EQ(AwaitFinal(*state, jobs::JobKind::kNormalize, {0, 10, 30, 80}), 100);
  EXPECT_EQ(AwaitFinal(*state, jobs::JobKind::kGrab), 100);
  state->Cancel();  // the GET and the upload end without their answers
  EXPECT_TRUE(AllSettled());
  ::close(inherited);
  ::close(socket);
}

// A fake tool body that notes when it starts while the child before it (whose
// pid is in "pid") still runs, then hangs until "go".
const char kNoteOverlapThenHang[] =
    "if [ -e \"$d/pid\" ] && kill -0 \"$(cat \"$d/pid\")\" 2>/dev/null; then\n"
    "  echo overlap >> \"$d/overlaps\"; fi\n";

class ToolChildrenOfAKind : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(AllSettled()); }
  pid_t PidOnceChanged(pid_t before) {
    pid_t pid = 0;
    WaitUntil([&] {
      pid = std::atoi(ReadFile(m_m.res + "/pid").c_str());
      return pid > 0 && pid != before;
    });
    return pid;
  }
  static bool Gone(pid_t pid) { return !Exists("/proc/" + std::to_string(pid)); }

  ModuleDir m_m;
  std::shared_ptr<jobs::JobState> m_state = std::make_shared<jobs::JobState>();
};

// A cancel leaves the transcoder running; the next transcode ends it first,
// so two encoders never run at once, and its half-written output in res/tmp
// goes with it.
TEST_F(ToolChildrenOfAKind, TheNextTranscodeEndsACancelledOnesChildFirst) {
  m_m.FakeTool("ffmpeg", std::string(kNoteOverlapThenHang) +
                             "for a; do out=\"$a\"; done; echo partial > \"$out\"\n" +
                             kHangUntilGo);
  std::string first = m_m.tmp + "/first.m4a", second = m_m.tmp + "/second.m4a";
  ASSERT_TRUE(
      StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), m_m.dir / "a.wav", first));
  pid_t one = PidOnceChanged(0);
  m_state->Cancel();
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kTranscode), 2);
  EXPECT_FALSE(Gone(one)) << "a cancel lets the child run on";
  EXPECT_EQ(ChildrenAwaitingReap(), 1);

  ASSERT_TRUE(
      StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), m_m.dir / "b.wav", second));
  pid_t two = PidOnceChanged(one);
  EXPECT_TRUE(Gone(one));
  EXPECT_FALSE(Exists(m_m.res + "/overlaps"));
  EXPECT_FALSE(Exists(first)) << "the ended transcoder's output stays behind";
  WriteFile(m_m.res + "/go", "");
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kTranscode), 1);
  EXPECT_TRUE(Exists(second));
  EXPECT_TRUE(WaitUntil([&] { return Gone(two); }));
}

// The same for mp3gain, whose half-written copy is <name>.TMP beside the file.
TEST_F(ToolChildrenOfAKind, TheNextNormalisationEndsACancelledOnesChildFirst) {
  m_m.FakeTool("mp3gain", std::string(kNoteOverlapThenHang) +
                              "for a; do f=\"$a\"; done; t=\"${f%???}TMP\"\n"
                              "[ -e \"$t\" ] && echo leftover >> \"$d/leftovers\"\n"
                              "echo partial > \"$t\"\n" +
                              kHangUntilGo + "rm -f \"$t\"\n" + FakeMp3gainAnalysis());
  std::string song = m_m.dir / "song.mp3", tmp = m_m.dir / "song.TMP";
  WriteFile(song, "ID3");
  ASSERT_TRUE(StartNormalize(m_state, m_m.Path(), song));
  pid_t one = PidOnceChanged(0);
  ASSERT_TRUE(WaitUntil([&] { return Exists(tmp); }));
  m_state->Cancel();
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kNormalize, {0, 10}), 201);
  EXPECT_FALSE(Gone(one));

  ASSERT_TRUE(StartNormalize(m_state, m_m.Path(), song));
  PidOnceChanged(one);
  EXPECT_TRUE(Gone(one));
  EXPECT_FALSE(Exists(m_m.res + "/overlaps"));
  EXPECT_FALSE(Exists(m_m.res + "/leftovers")) << "the ended run's song.TMP was left";
  WriteFile(m_m.res + "/go", "");
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kNormalize, {0, 10, 30, 80}), 100);
  EXPECT_EQ(ReadFile(song), "ID3");
  EXPECT_FALSE(Exists(tmp));
}

// The program's end: every child, running for its job or left running by a
// cancel, is ended and reaped; a transcode's half-written output in res/tmp
// and mp3gain's <name>.TMP go; no child starts afterwards.
TEST_F(ToolChildrenOfAKind, TheProgramsEndEndsEveryChildAndRemovesWhatItHalfWrote) {
  m_m.FakeTool("ffmpeg",
               "for a; do out=\"$a\"; done\n"
               "[ -e \"$d/quiet\" ] || echo partial > \"$out\"\nexec sleep 60\n");
  // Talks on (so that a cancel is seen) until it is ended.
  m_m.FakeTool("mp3gain",
               "for a; do f=\"$a\"; done; echo partial > \"${f%???}TMP\"\n"
               "while :; do echo tick; sleep 0.01; done\n");
  std::string ringtone = m_m.tmp + "/ringtone.mp3";
  std::string song = m_m.dir / "song.mp3", songTmp = m_m.dir / "song.TMP";
  WriteFile(song, "ID3");
  ASSERT_TRUE(StartNormalize(m_state, m_m.Path(), song));
  ASSERT_TRUE(WaitUntil([&] { return Exists(songTmp); }));
  m_state->Cancel();  // mp3gain is left running
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kNormalize, {0, 10}), 201);
  ASSERT_TRUE(
      StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), m_m.dir / "a.wav", ringtone));
  ASSERT_TRUE(WaitUntil([&] { return Exists(ringtone); }));
  EXPECT_EQ(ChildProcesses().size(), 2u);

  ::testing::internal::CaptureStderr();
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(EndAllChildren(2000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_TRUE(WaitUntil([] { return ChildProcesses().empty(); }, 1000));
  EXPECT_FALSE(Exists(ringtone));
  EXPECT_FALSE(Exists(songTmp));
  EXPECT_EQ(ReadFile(song), "ID3");
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kTranscode), 2);
  // The tools did not fail: the program ended them. Nothing is told.
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  ToolRun late;
  late.program = "/bin/true";
  ToolResult refused = RunTool(late);
  ASSERT_FALSE(refused.Ok());
  EXPECT_EQ(refused.Reason(), ToolFailure::kNotStarted);
  EXPECT_EQ(ToolFailureText(late.program, refused), "");
  AllowChildrenForTesting();
  EXPECT_TRUE(RunTool(late).Ok());
}

// Only what the ended child wrote goes: an output outside res/tmp stays, and
// so does a file in res/tmp that the child never wrote.
TEST_F(ToolChildrenOfAKind, AnEndedChildLeavesWhatItDidNotHalfWrite) {
  m_m.FakeTool("ffmpeg",
               "for a; do out=\"$a\"; done\n"
               "[ -e \"$d/quiet\" ] || echo partial > \"$out\"\nexec sleep 60\n");
  std::string elsewhere = m_m.dir / "kept.mp3";
  ASSERT_TRUE(
      StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), m_m.dir / "a.wav", elsewhere));
  ASSERT_TRUE(WaitUntil([&] { return Exists(elsewhere); }));
  EXPECT_TRUE(EndAllChildren(2000));
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kTranscode), 2);
  EXPECT_TRUE(Exists(elsewhere));
  AllowChildrenForTesting();

  std::string older = m_m.tmp + "/older.m4a";
  WriteFile(older, "from before");
  utimbuf past{1000000000, 1000000000};
  ::utime(older.c_str(), &past);
  WriteFile(m_m.res + "/quiet", "");
  ASSERT_TRUE(
      StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), m_m.dir / "a.wav", older));
  ASSERT_TRUE(WaitUntil([] { return ChildProcesses().size() == 1; }));
  EXPECT_TRUE(EndAllChildren(2000));
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kTranscode), 2);
  EXPECT_EQ(ReadFile(older), "from before");
  AllowChildrenForTesting();
}

}  // namespace
}  // namespace zb::media
