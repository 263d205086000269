#include "media/transcode.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "media/folder_sweep.h"
#include "tool_test_support.h"

namespace zb::media {
namespace {

using namespace zb::testing;

const std::vector<int32_t> kRunning = {0};

std::vector<std::string> FfmpegArgs(const std::string& in, const std::string& out) {
  return {"-nostdin", "-i", in, "-vn", "-ab", "64k", "-ar", "44100", "-ac", "2", "-y", out};
}

// The job with a fake ffmpeg written by the test.
class TranscodeFake : public ::testing::Test {
 protected:
  ModuleDir m_m;
  std::shared_ptr<jobs::JobState> m_state = std::make_shared<jobs::JobState>();
  std::string m_in = m_m.dir / "in song.wav";
  std::string m_out = m_m.dir / "out.mp3";

  void SetUp() override { WriteFile(m_in, "RIFF"); }
  void TearDown() override { EXPECT_TRUE(AllSettled()); }

  int32_t Transcode(const std::string& body) {
    m_m.FakeTool("ffmpeg", body);
    EXPECT_TRUE(StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), m_in, m_out));
    return AwaitFinal(*m_state, jobs::JobKind::kTranscode, kRunning);
  }
  int RecordedPid() { return std::atoi(ReadFile(m_m.res + "/pid").c_str()); }
};

TEST_F(TranscodeFake, ExitCodeDecidesAndTheArgumentsAreFixed) {
  EXPECT_EQ(Transcode("head -c 100000 /dev/zero; exit 0"), 1);
  auto calls = FakeCalls(m_m.res);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], FfmpegArgs(m_in, m_out));
  EXPECT_EQ(m_state->ProcessId(), 0u);

  EXPECT_EQ(Transcode("echo 'No such file' >&2; exit 1"), 2);
  EXPECT_EQ(Transcode("kill -9 $$"), 2);  // a signal is a failure
  ::unlink((m_m.res + "/ffmpeg").c_str());
  ASSERT_TRUE(StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), m_in, m_out));
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kTranscode, kRunning), 2);  // could not start
}

// Why ffmpeg failed is one line on standard error; a run that ends because
// the user cancelled it or closed the window tells nothing.
TEST_F(TranscodeFake, WhyFfmpegFailedIsOneLineOnStandardError) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Transcode("echo 'Invalid data found when processing input' >&2; exit 1"), 2);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "zimbrel: ffmpeg exited with 1\n");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Transcode("kill -TERM $$"), 2);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "zimbrel: ffmpeg was killed by signal 15 (Terminated)\n");
  ::unlink((m_m.res + "/ffmpeg").c_str());
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), m_in, m_out));
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kTranscode, kRunning), 2);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "zimbrel: ffmpeg could not be started: No such file or directory\n");

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Transcode("exit 0"), 1);
  m_m.FakeTool("ffmpeg", kHangUntilGo);
  ASSERT_TRUE(StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), m_in, m_out));
  ASSERT_TRUE(WaitUntil([&] { return m_state->ProcessId() != 0; }));
  m_state->Cancel();
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kTranscode, kRunning), 2);
  ASSERT_TRUE(StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), m_in, m_out));
  ASSERT_TRUE(WaitUntil([&] { return m_state->ProcessId() != 0; }));
  EXPECT_TRUE(m_state->TerminateRecordedProcess());
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kTranscode, kRunning), 2);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// ffmpeg exits with 0 when only the end of its output could not be written;
// its report of that, wherever a read splits it, fails the job. The same
// words inside a line (a file name) do not.
TEST_F(TranscodeFake, ReportedOutputWriteFailureFailsDespiteExitCodeZero) {
  EXPECT_EQ(Transcode("printf 'size=  64kB\\r' >&2; "
                      "echo 'Error writing trailer of o.mp3: No space left on device' >&2; exit 0"),
            2);
  // One write; the runner's first read of 512 bytes ends inside "Error".
  EXPECT_EQ(Transcode("printf '%0508d\\nError closing file o.mp3: No space left on device' 0; "
                      "exit 0"),
            2);
  EXPECT_EQ(Transcode("echo \"Input #0, wav, from 'Error closing file.wav':\"; exit 0"), 1);
}

TEST_F(TranscodeFake, StatusIsZeroUntilTheEndAndThenKept) {
  m_m.FakeTool("ffmpeg", kHangUntilGo);
  m_state->Cancel();  // before the start: cleared by it
  ASSERT_TRUE(StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), m_in, m_out));
  EXPECT_EQ(m_state->Status(jobs::JobKind::kTranscode), 0);
  ASSERT_TRUE(WaitUntil([&] { return Exists(m_m.res + "/pid"); }));
  ASSERT_TRUE(WaitUntil([&] { return m_state->ProcessId() != 0; }));
  EXPECT_EQ(m_state->ProcessId(), static_cast<uint32_t>(RecordedPid()));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(m_state->Status(jobs::JobKind::kTranscode), 0);  // no percentage, no cancel
  WriteFile(m_m.res + "/go", "");
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kTranscode, kRunning), 1);
  EXPECT_EQ(m_state->ProcessId(), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(m_state->Status(jobs::JobKind::kTranscode), 1);

  jobs::FailThreadCreationForTesting(true);
  EXPECT_FALSE(StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), m_in, m_out));
  jobs::FailThreadCreationForTesting(false);
  EXPECT_EQ(m_state->Status(jobs::JobKind::kTranscode), 0);
}

TEST_F(TranscodeFake, CancelEndsInTwoAtOnceAndTheChildRunsOnUnrecorded) {
  m_m.FakeTool("ffmpeg", kHangUntilGo + std::string("touch \"$d/finished\""));
  ASSERT_TRUE(StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), m_in, m_out));
  ASSERT_TRUE(WaitUntil([&] { return m_state->ProcessId() != 0 && Exists(m_m.res + "/pid"); }));
  m_state->Cancel();
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kTranscode, kRunning, 5000), 2);
  EXPECT_EQ(m_state->ProcessId(), 0u);
  // Closing the window now must not touch the child, which is still running.
  EXPECT_FALSE(m_state->TerminateRecordedProcess());
  int pid = RecordedPid();
  EXPECT_TRUE(Exists("/proc/" + std::to_string(pid)));
  EXPECT_EQ(ChildrenAwaitingReap(), 1);
  WriteFile(m_m.res + "/go", "");
  EXPECT_TRUE(AllSettled());
  EXPECT_TRUE(Exists(m_m.res + "/finished"));  // it ran to its end
  EXPECT_EQ(ZombieChildren(), 0);
}

TEST_F(TranscodeFake, ClosingTheWindowEndsTheRecordedChild) {
  m_m.FakeTool("ffmpeg", kHangUntilGo);
  ASSERT_TRUE(StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), m_in, m_out));
  ASSERT_TRUE(WaitUntil([&] { return m_state->ProcessId() != 0; }));
  EXPECT_TRUE(m_state->TerminateRecordedProcess());
  EXPECT_EQ(m_state->ProcessId(), 0u);
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kTranscode, kRunning), 2);
  EXPECT_FALSE(m_state->TerminateRecordedProcess());  // signalled once only
  EXPECT_TRUE(AllSettled());
  EXPECT_EQ(ZombieChildren(), 0);
}

TEST_F(TranscodeFake, SweepsDeleteMp3sBeforeAndWavsAfterAndNothingElse) {
  for (const char* f : {"a.mp3", "B.MP3", "c.Mp3", "d.wav", "E.WAV", "keep.txt", "keep.mp3.bak",
                        "keep.wave", "mp3"}) {
    WriteFile(m_m.tmp + "/" + f, "x");
  }
  ::mkdir((m_m.tmp + "/folder.mp3").c_str(), 0755);
  WriteFile(m_m.dir / "outside.mp3", "x");
  // The fake lists the folder while it runs, then leaves an MP3 and a WAV.
  std::string body =
      "LC_ALL=C ls \"$d/tmp\" > \"$d/during\"\n"
      "echo x > \"$d/tmp/made.mp3\"; echo x > \"$d/tmp/made.wav\"\n";
  EXPECT_EQ(Transcode(body + "exit 0"), 1);
  EXPECT_EQ(ReadFile(m_m.res + "/during"),
            "E.WAV\nd.wav\nfolder.mp3\nkeep.mp3.bak\nkeep.txt\nkeep.wave\nmp3\n");
  EXPECT_EQ(ShOut("LC_ALL=C ls " + ShellQuote(m_m.tmp)),
            "folder.mp3\nkeep.mp3.bak\nkeep.txt\nkeep.wave\nmade.mp3\nmp3\n");
  EXPECT_TRUE(Exists(m_m.dir / "outside.mp3"));

  // A failed run sweeps as well; the input itself goes when it is a WAV there.
  m_in = m_m.tmp + "/grabbed.wav";
  WriteFile(m_in, "x");
  EXPECT_EQ(Transcode(body + "exit 1"), 2);
  EXPECT_FALSE(Exists(m_in));
  EXPECT_FALSE(Exists(m_m.tmp + "/made.wav"));
}

// A work folder that is a link (to the user's music, say) is not followed:
// nothing behind it is swept. Links inside the folder go as links.
TEST_F(TranscodeFake, SweepsNeverFollowALinkedFolder) {
  std::string music = m_m.dir / "Music";
  ::mkdir(music.c_str(), 0755);
  WriteFile(music + "/song.mp3", "x");
  WriteFile(music + "/take.wav", "x");
  ASSERT_EQ(::rmdir(m_m.tmp.c_str()), 0);
  ASSERT_EQ(::symlink(music.c_str(), m_m.tmp.c_str()), 0);
  EXPECT_EQ(Transcode("exit 0"), 1);
  EXPECT_TRUE(Exists(music + "/song.mp3"));
  EXPECT_TRUE(Exists(music + "/take.wav"));

  ASSERT_EQ(::unlink(m_m.tmp.c_str()), 0);
  ASSERT_EQ(::mkdir(m_m.tmp.c_str(), 0755), 0);
  ASSERT_EQ(::symlink((music + "/song.mp3").c_str(), (m_m.tmp + "/link.mp3").c_str()), 0);
  SweepFolder(m_m.tmp, ".mp3");
  EXPECT_FALSE(Exists(m_m.tmp + "/link.mp3"));
  EXPECT_EQ(ReadFile(music + "/song.mp3"), "x");
  SweepFolder(m_m.dir / "no such folder", ".mp3");  // nothing to do, no error
}

TEST_F(TranscodeFake, MissingTempFolderStillTranscodes) {
  ::rmdir(m_m.tmp.c_str());
  EXPECT_EQ(Transcode("exit 0"), 1);
  EXPECT_FALSE(Exists(m_m.tmp));  // never created
}

TEST_F(TranscodeFake, OutputThatIsTheInputIsRefusedBeforeFfmpeg) {
  WriteFile(m_in, "the song");
  std::string link = m_m.dir / "link.wav";
  ASSERT_EQ(::symlink(m_in.c_str(), link.c_str()), 0);
  m_m.FakeTool("ffmpeg", "exit 0");
  for (std::string same : {m_in, m_m.dir / "./in song.wav", link}) {
    m_out = same;
    ASSERT_TRUE(StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), m_in, m_out));
    EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kTranscode, kRunning), 2) << same;
  }
  EXPECT_TRUE(FakeCalls(m_m.res).empty());
  EXPECT_EQ(ReadFile(m_in), "the song");
}

TEST_F(TranscodeFake, OptionAndProtocolLikePathsAreMadeUnambiguous) {
  m_m.FakeTool("ffmpeg", "exit 0");
  struct Case {
    std::string given, passed;
  } cases[] = {{"-y.wav", "file:-y.wav"},         {"http:x.mp3", "file:http:x.mp3"},
               {"pipe:1.mp3", "file:pipe:1.mp3"}, {"Live 2020:a/b.wav", "file:Live 2020:a/b.wav"},
               {"dir/a:b.wav", "dir/a:b.wav"},    {"/abs/-x:y.wav", "/abs/-x:y.wav"},
               {"plain é.wav", "plain é.wav"}};
  for (const auto& c : cases) {
    ::unlink((m_m.res + "/calls.log").c_str());
    ASSERT_TRUE(
        StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), c.given, c.given + ".mp3"));
    EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kTranscode, kRunning), 1);
    auto calls = FakeCalls(m_m.res);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], FfmpegArgs(c.passed, c.passed + ".mp3")) << c.given;
  }
}

// The job with the real ffmpeg on audio made by sox.
class TranscodeReal : public ::testing::Test {
 protected:
  ModuleDir m_m;
  std::shared_ptr<jobs::JobState> m_state = std::make_shared<jobs::JobState>();

  void SetUp() override { m_m.LinkTool("ffmpeg", "/usr/bin/ffmpeg"); }
  void TearDown() override { EXPECT_TRUE(AllSettled()); }

  // Mono 22050 Hz speech-like tones: every output property must be converted.
  void MakeSong(const std::string& path, double seconds = 3) {
    ASSERT_EQ(Sh("sox -n -r 22050 -c 1 " + ShellQuote(path) + " synth " + std::to_string(seconds) +
                 " sine 300:900 vol 0.5"),
              0);
  }
  int32_t Transcode(const std::string& in, const std::string& out) {
    EXPECT_TRUE(StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), in, out));
    return AwaitFinal(*m_state, jobs::JobKind::kTranscode, kRunning);
  }
  static std::string Streams(const std::string& file) {
    return ShOut(
        "ffprobe -v error -show_entries stream=codec_type,codec_name,sample_rate,channels,bit_rate"
        " -of compact=nk=0 " +
        ShellQuote("file:" + file));
  }
};

const char kRingtone[] =
    "stream|codec_name=mp3|codec_type=audio|sample_rate=44100|channels=2|bit_rate=64000\n";

TEST_F(TranscodeReal, MakesA64kStereo44100Mp3WithoutCoverArt) {
  std::string wav = m_m.dir / "song.wav", art = m_m.dir / "art.mp3", png = m_m.dir / "cover.png";
  MakeSong(wav);
  ASSERT_EQ(Sh("ffmpeg -nostdin -loglevel error -f lavfi -i color=c=red:s=64x64 -frames:v 1 " +
               ShellQuote(png) + " && ffmpeg -nostdin -loglevel error -i " + ShellQuote(wav) +
               " -i " + ShellQuote(png) +
               " -map 0 -map 1 -c:a libmp3lame -b:a 128k -c:v png -disposition:v attached_pic "
               "-id3v2_version 3 " +
               ShellQuote(art)),
            0);
  ASSERT_NE(Streams(art).find("codec_type=video"), std::string::npos);

  EXPECT_EQ(Transcode(wav, m_m.dir / "ring.mp3"), 1);
  EXPECT_EQ(Streams(m_m.dir / "ring.mp3"), kRingtone);
  EXPECT_EQ(Transcode(art, m_m.dir / "ring2.mp3"), 1);
  EXPECT_EQ(Streams(m_m.dir / "ring2.mp3"), kRingtone);  // one audio stream only

  // A WAV in the temporary folder is gone afterwards; a missing input fails.
  std::string grabbed = m_m.tmp + "/track01.wav";
  MakeSong(grabbed, 1);
  EXPECT_EQ(Transcode(grabbed, m_m.dir / "ring3.mp3"), 1);
  EXPECT_FALSE(Exists(grabbed));
  EXPECT_EQ(Transcode(m_m.dir / "missing.wav", m_m.dir / "ring4.mp3"), 2);
  EXPECT_FALSE(Exists(m_m.dir / "ring4.mp3"));
  EXPECT_EQ(Transcode(wav, m_m.dir / "no folder/ring5.mp3"), 2);
}

TEST_F(TranscodeReal, AwkwardPathsWork) {
  // Relative names are taken from the working folder, as the page gives them.
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir(m_m.Path().c_str()), 0);
  struct Case {
    std::string in, out;
  } cases[] = {{"-i song.wav", "-y ring.mp3"},
               {"Live:2020 'q' \"dq\".wav", "http:ring ü.mp3"},
               {"pipe:0.wav", "pipe:1.mp3"},
               {m_m.dir / "My Music/Émilie – été.wav", m_m.dir / "My Music/sonnerie été.mp3"}};
  ::mkdir((m_m.dir / "My Music").c_str(), 0755);
  for (const auto& c : cases) {
    MakeSong(c.in[0] == '/' ? c.in : m_m.dir / c.in, 1);
    EXPECT_EQ(Transcode(c.in, c.out), 1) << c.in;
    EXPECT_EQ(Streams(c.out[0] == '/' ? c.out : m_m.dir / c.out), kRingtone) << c.out;
  }
  ASSERT_EQ(::chdir(cwd), 0);
}

}  // namespace
}  // namespace zb::media
