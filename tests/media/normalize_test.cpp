#include "media/normalize.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>

#include "tool_test_support.h"

namespace zb::media {
namespace {

using namespace zb::testing;

const std::vector<int32_t> kRunning = {0, 10, 30, 80};
using Args = std::vector<std::string>;

// The job with a fake mp3gain written by the test.
class NormalizeFake : public ::testing::Test {
 protected:
  ModuleDir m;
  std::shared_ptr<jobs::JobState> state = std::make_shared<jobs::JobState>();
  std::string file = m.dir / "ring tone.mp3";

  void TearDown() override { EXPECT_TRUE(AllSettled()); }

  int32_t Normalize(const std::string& body) {
    ::unlink((m.res + "/calls.log").c_str());
    m.FakeTool("mp3gain", body);
    EXPECT_TRUE(StartNormalize(state, m.path(), file));
    return AwaitFinal(*state, jobs::JobKind::kNormalize, kRunning);
  }
};

TEST_F(NormalizeFake, ThreeRunsInOrderWithSeparateOptionArguments) {
  EXPECT_EQ(Normalize("echo working >&2; exit 0"), 100);
  EXPECT_EQ(FakeCalls(m.res),
            (std::vector<Args>{{"/s", "d", file}, {"/k", "/r", file}, {"/g", "4", file}}));
}

TEST_F(NormalizeFake, AFailedStepNamesItselfAndEndsTheJob) {
  struct Case {
    const char* failingOption;
    int32_t status;
    size_t runs;
  } cases[] = {{"/s", 201, 1}, {"/k", 202, 2}, {"/g", 203, 3}};
  for (const auto& c : cases) {
    std::string failing = c.failingOption;
    EXPECT_EQ(Normalize("[ \"$1\" = " + failing + " ] && exit 1; exit 0"), c.status);
    EXPECT_EQ(FakeCalls(m.res).size(), c.runs);
    // Killed by a signal: a failure as well.
    EXPECT_EQ(Normalize("[ \"$1\" = " + failing + " ] && kill -9 $$; exit 0"), c.status);
  }
  ::unlink((m.res + "/mp3gain").c_str());
  ASSERT_TRUE(StartNormalize(state, m.path(), file));
  EXPECT_EQ(AwaitFinal(*state, jobs::JobKind::kNormalize, kRunning), 201);  // could not start
}

TEST_F(NormalizeFake, StatusNamesTheStepUnderWay) {
  // Each run waits for its own go file.
  m.FakeTool("mp3gain",
             "case \"$1\" in /s) n=1;; /k) n=2;; *) n=3;; esac\n"
             "while [ ! -e \"$d/go$n\" ]; do echo tick; sleep 0.01; done");
  state->RequestBreak();  // before the start: cleared by it
  ASSERT_TRUE(StartNormalize(state, m.path(), file));
  int32_t first = state->Status(jobs::JobKind::kNormalize);
  EXPECT_TRUE(first == 0 || first == 10) << first;
  for (int step = 1; step <= 3; ++step) {
    int32_t expected = step == 1 ? 10 : step == 2 ? 30 : 80;
    ASSERT_TRUE(WaitUntil([&] { return state->Status(jobs::JobKind::kNormalize) == expected; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(state->Status(jobs::JobKind::kNormalize), expected);
    EXPECT_EQ(ChildProcesses().size(), 1u);  // one run at a time
    WriteFile(m.res + "/go" + std::to_string(step), "");
  }
  EXPECT_EQ(AwaitFinal(*state, jobs::JobKind::kNormalize, kRunning), 100);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(state->Status(jobs::JobKind::kNormalize), 100);  // kept
}

TEST_F(NormalizeFake, CancelStopsAfterTheRunInProgress) {
  m.FakeTool("mp3gain", "[ \"$1\" = /k ] || exit 0\n" + std::string(kHangUntilGo));
  ASSERT_TRUE(StartNormalize(state, m.path(), file));
  ASSERT_TRUE(WaitUntil([&] { return Exists(m.res + "/pid"); }));
  EXPECT_EQ(state->Status(jobs::JobKind::kNormalize), 30);
  state->RequestBreak();
  EXPECT_EQ(AwaitFinal(*state, jobs::JobKind::kNormalize, kRunning, 5000), 202);
  WriteFile(m.res + "/go", "");
  EXPECT_TRUE(AllSettled());
  EXPECT_EQ(FakeCalls(m.res).size(), 2u);  // step 3 never started
  EXPECT_EQ(ZombieChildren(), 0);
}

TEST_F(NormalizeFake, PathsThatLookLikeOptionsAreRespelled) {
  file = "-g";
  Normalize("exit 0");
  EXPECT_EQ(FakeCalls(m.res)[0], (Args{"/s", "d", "./-g"}));
  file = "/k";
  Normalize("exit 0");
  EXPECT_EQ(FakeCalls(m.res)[0], (Args{"/s", "d", "/./k"}));
  file = "/k/x.mp3";
  Normalize("exit 0");
  EXPECT_EQ(FakeCalls(m.res)[0], (Args{"/s", "d", "/k/x.mp3"}));
}

// The job with the real mp3gain on MP3s made from sox and espeak-ng audio.
class NormalizeReal : public ::testing::Test {
 protected:
  ModuleDir m;
  std::shared_ptr<jobs::JobState> state = std::make_shared<jobs::JobState>();

  void SetUp() override { m.LinkTool("mp3gain", "/usr/bin/mp3gain"); }
  void TearDown() override { EXPECT_TRUE(AllSettled()); }

  // Speech at a given volume, as a 64 kbit/s MP3.
  void MakeSpeech(const std::string& mp3, double volume) {
    std::string wav = mp3 + ".wav";
    ASSERT_EQ(Sh("espeak-ng -w " + ShellQuote(wav) +
                 " 'This ringtone is a little sentence that goes on long enough to be measured "
                 "for its loudness, twice over.' && sox " +
                 ShellQuote(wav) + " -r 44100 -c 2 " + ShellQuote(wav + ".2.wav") + " vol " +
                 std::to_string(volume) + " && ffmpeg -nostdin -loglevel error -i " +
                 ShellQuote(wav + ".2.wav") + " -ab 64k " + ShellQuote(mp3)),
              0);
  }
  int32_t Normalize(const std::string& file) {
    EXPECT_TRUE(StartNormalize(state, m.path(), file));
    return AwaitFinal(*state, jobs::JobKind::kNormalize, kRunning);
  }
  // Steps 1 and 2 done directly, for comparison with the whole job.
  static void FirstTwoSteps(const std::string& file) {
    ASSERT_EQ(
        Sh("mp3gain /s d " + ShellQuote(file) + " </dev/null >/dev/null 2>&1 && mp3gain /k /r " +
           ShellQuote(file) + " </dev/null >/dev/null 2>&1"),
        0);
  }
};

TEST_F(NormalizeReal, EvensOutLoudnessThenAddsSixDecibels) {
  std::string quiet = m.dir / "quiet song.mp3", loud = m.dir / "loud song.mp3";
  MakeSpeech(quiet, 0.05);
  MakeSpeech(loud, 0.9);
  double q0 = Loudness(quiet), l0 = Loudness(loud);
  ASSERT_GT(l0 - q0, 20.0);
  std::string quiet2 = quiet + ".copy.mp3";
  ASSERT_EQ(Sh("cp " + ShellQuote(quiet) + " " + ShellQuote(quiet2)), 0);

  EXPECT_EQ(Normalize(quiet), 100);
  EXPECT_EQ(Normalize(loud), 100);
  double q3 = Loudness(quiet), l3 = Loudness(loud);
  EXPECT_LT(std::fabs(q3 - l3), 1.6) << q3 << " " << l3;  // gain moves in 1.5 dB steps

  FirstTwoSteps(quiet2);
  EXPECT_NEAR(q3 - Loudness(quiet2), 6.0, 0.3);
}

TEST_F(NormalizeReal, AGainThatWouldClipIsStillAppliedWithoutAPrompt) {
  // Quiet tone with one loud burst: the track gain asked for would clip.
  std::string mp3 = m.dir / "-peaky.mp3", wav = m.dir / "peaky.wav";
  ASSERT_EQ(Sh("cd " + ShellQuote(m.path()) +
               " && sox -n -r 44100 -c 2 q.wav synth 6 sine 440 vol 0.02"
               " && sox -n -r 44100 -c 2 c.wav synth 0.1 square 440 vol 0.5"
               " && sox q.wav c.wav q.wav peaky.wav"
               " && ffmpeg -nostdin -loglevel error -i peaky.wav -ab 64k ./-peaky.mp3"
               " && mp3gain /r ./-peaky.mp3 </dev/null 2>&1 | grep 'may clip' >/dev/null"
               " && mp3gain /s d ./-peaky.mp3 >/dev/null 2>&1"),
            0);
  double before = Loudness(mp3);
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir(m.path().c_str()), 0);
  EXPECT_EQ(Normalize("-peaky.mp3"), 100);  // a relative name with a leading "-"
  ASSERT_EQ(::chdir(cwd), 0);
  double step2 = Loudness(mp3) - 6.0 - before;
  EXPECT_GT(std::fabs(step2), 1.0) << "step 2 changed nothing";
}

TEST_F(NormalizeReal, NonMp3AndMissingFilesFailInStepTwo) {
  std::string text = m.dir / "notes.mp3";
  WriteFile(text, "not an mp3 at all\n");
  EXPECT_EQ(Normalize(text), 202);
  EXPECT_EQ(ReadFile(text), "not an mp3 at all\n");
  EXPECT_EQ(Normalize(m.dir / "missing.mp3"), 202);
}

}  // namespace
}  // namespace zb::media
