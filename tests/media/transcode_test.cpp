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
  ModuleDir m;
  std::shared_ptr<jobs::JobState> state = std::make_shared<jobs::JobState>();
  std::string in = m.dir / "in song.wav";
  std::string out = m.dir / "out.mp3";

  void SetUp() override { WriteFile(in, "RIFF"); }
  void TearDown() override { EXPECT_TRUE(AllSettled()); }

  int32_t Transcode(const std::string& body) {
    m.FakeTool("ffmpeg", body);
    EXPECT_TRUE(StartTranscode(state, TranscodeStatusForPages, m.path(), in, out));
    return AwaitFinal(*state, jobs::JobKind::kTranscode, kRunning);
  }
  int RecordedPid() { return std::atoi(ReadFile(m.res + "/pid").c_str()); }
};

TEST_F(TranscodeFake, ExitCodeDecidesAndTheArgumentsAreFixed) {
  EXPECT_EQ(Transcode("head -c 100000 /dev/zero; exit 0"), 1);
  auto calls = FakeCalls(m.res);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], FfmpegArgs(in, out));
  EXPECT_EQ(state->ProcessId(), 0u);

  EXPECT_EQ(Transcode("echo 'No such file' >&2; exit 1"), 2);
  EXPECT_EQ(Transcode("kill -9 $$"), 2);  // a signal is a failure
  ::unlink((m.res + "/ffmpeg").c_str());
  ASSERT_TRUE(StartTranscode(state, TranscodeStatusForPages, m.path(), in, out));
  EXPECT_EQ(AwaitFinal(*state, jobs::JobKind::kTranscode, kRunning), 2);  // could not start
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
  m.FakeTool("ffmpeg", kHangUntilGo);
  state->RequestBreak();  // before the start: cleared by it
  ASSERT_TRUE(StartTranscode(state, TranscodeStatusForPages, m.path(), in, out));
  EXPECT_EQ(state->Status(jobs::JobKind::kTranscode), 0);
  ASSERT_TRUE(WaitUntil([&] { return Exists(m.res + "/pid"); }));
  ASSERT_TRUE(WaitUntil([&] { return state->ProcessId() != 0; }));
  EXPECT_EQ(state->ProcessId(), static_cast<uint32_t>(RecordedPid()));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(state->Status(jobs::JobKind::kTranscode), 0);  // no percentage, no cancel
  WriteFile(m.res + "/go", "");
  EXPECT_EQ(AwaitFinal(*state, jobs::JobKind::kTranscode, kRunning), 1);
  EXPECT_EQ(state->ProcessId(), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(state->Status(jobs::JobKind::kTranscode), 1);

  jobs::FailThreadCreationForTesting(true);
  EXPECT_FALSE(StartTranscode(state, TranscodeStatusForPages, m.path(), in, out));
  jobs::FailThreadCreationForTesting(false);
  EXPECT_EQ(state->Status(jobs::JobKind::kTranscode), 0);
}

TEST_F(TranscodeFake, CancelEndsInTwoAtOnceAndTheChildRunsOnUnrecorded) {
  m.FakeTool("ffmpeg", kHangUntilGo + std::string("touch \"$d/finished\""));
  ASSERT_TRUE(StartTranscode(state, TranscodeStatusForPages, m.path(), in, out));
  ASSERT_TRUE(WaitUntil([&] { return state->ProcessId() != 0 && Exists(m.res + "/pid"); }));
  state->RequestBreak();
  EXPECT_EQ(AwaitFinal(*state, jobs::JobKind::kTranscode, kRunning, 5000), 2);
  EXPECT_EQ(state->ProcessId(), 0u);
  // Closing the window now must not touch the child, which is still running.
  EXPECT_FALSE(state->TerminateRecordedProcess());
  int pid = RecordedPid();
  EXPECT_TRUE(Exists("/proc/" + std::to_string(pid)));
  EXPECT_EQ(ChildrenAwaitingReap(), 1);
  WriteFile(m.res + "/go", "");
  EXPECT_TRUE(AllSettled());
  EXPECT_TRUE(Exists(m.res + "/finished"));  // it ran to its end
  EXPECT_EQ(ZombieChildren(), 0);
}

TEST_F(TranscodeFake, ClosingTheWindowEndsTheRecordedChild) {
  m.FakeTool("ffmpeg", kHangUntilGo);
  ASSERT_TRUE(StartTranscode(state, TranscodeStatusForPages, m.path(), in, out));
  ASSERT_TRUE(WaitUntil([&] { return state->ProcessId() != 0; }));
  EXPECT_TRUE(state->TerminateRecordedProcess());
  EXPECT_EQ(state->ProcessId(), 0u);
  EXPECT_EQ(AwaitFinal(*state, jobs::JobKind::kTranscode, kRunning), 2);
  EXPECT_FALSE(state->TerminateRecordedProcess());  // signalled once only
  EXPECT_TRUE(AllSettled());
  EXPECT_EQ(ZombieChildren(), 0);
}

TEST_F(TranscodeFake, SweepsDeleteMp3sBeforeAndWavsAfterAndNothingElse) {
  for (const char* f : {"a.mp3", "B.MP3", "c.Mp3", "d.wav", "E.WAV", "keep.txt", "keep.mp3.bak",
                        "keep.wave", "mp3"}) {
    WriteFile(m.tmp + "/" + f, "x");
  }
  ::mkdir((m.tmp + "/folder.mp3").c_str(), 0755);
  WriteFile(m.dir / "outside.mp3", "x");
  // The fake lists the folder while it runs, then leaves an MP3 and a WAV.
  std::string body =
      "LC_ALL=C ls \"$d/tmp\" > \"$d/during\"\n"
      "echo x > \"$d/tmp/made.mp3\"; echo x > \"$d/tmp/made.wav\"\n";
  EXPECT_EQ(Transcode(body + "exit 0"), 1);
  EXPECT_EQ(ReadFile(m.res + "/during"),
            "E.WAV\nd.wav\nfolder.mp3\nkeep.mp3.bak\nkeep.txt\nkeep.wave\nmp3\n");
  EXPECT_EQ(ShOut("LC_ALL=C ls " + ShellQuote(m.tmp)),
            "folder.mp3\nkeep.mp3.bak\nkeep.txt\nkeep.wave\nmade.mp3\nmp3\n");
  EXPECT_TRUE(Exists(m.dir / "outside.mp3"));

  // A failed run sweeps as well; the input itself goes when it is a WAV there.
  in = m.tmp + "/grabbed.wav";
  WriteFile(in, "x");
  EXPECT_EQ(Transcode(body + "exit 1"), 2);
  EXPECT_FALSE(Exists(in));
  EXPECT_FALSE(Exists(m.tmp + "/made.wav"));
}

// A work folder that is a link (to the user's music, say) is not followed:
// nothing behind it is swept. Links inside the folder go as links.
TEST_F(TranscodeFake, SweepsNeverFollowALinkedFolder) {
  std::string music = m.dir / "Music";
  ::mkdir(music.c_str(), 0755);
  WriteFile(music + "/song.mp3", "x");
  WriteFile(music + "/take.wav", "x");
  ASSERT_EQ(::rmdir(m.tmp.c_str()), 0);
  ASSERT_EQ(::symlink(music.c_str(), m.tmp.c_str()), 0);
  EXPECT_EQ(Transcode("exit 0"), 1);
  EXPECT_TRUE(Exists(music + "/song.mp3"));
  EXPECT_TRUE(Exists(music + "/take.wav"));

  ASSERT_EQ(::unlink(m.tmp.c_str()), 0);
  ASSERT_EQ(::mkdir(m.tmp.c_str(), 0755), 0);
  ASSERT_EQ(::symlink((music + "/song.mp3").c_str(), (m.tmp + "/link.mp3").c_str()), 0);
  SweepFolder(m.tmp, ".mp3");
  EXPECT_FALSE(Exists(m.tmp + "/link.mp3"));
  EXPECT_EQ(ReadFile(music + "/song.mp3"), "x");
  SweepFolder(m.dir / "no such folder", ".mp3");  // nothing to do, no error
}

TEST_F(TranscodeFake, MissingTempFolderStillTranscodes) {
  ::rmdir(m.tmp.c_str());
  EXPECT_EQ(Transcode("exit 0"), 1);
  EXPECT_FALSE(Exists(m.tmp));  // never created
}

TEST_F(TranscodeFake, OutputThatIsTheInputIsRefusedBeforeFfmpeg) {
  WriteFile(in, "the song");
  std::string link = m.dir / "link.wav";
  ASSERT_EQ(::symlink(in.c_str(), link.c_str()), 0);
  m.FakeTool("ffmpeg", "exit 0");
  for (std::string same : {in, m.dir / "./in song.wav", link}) {
    out = same;
    ASSERT_TRUE(StartTranscode(state, TranscodeStatusForPages, m.path(), in, out));
    EXPECT_EQ(AwaitFinal(*state, jobs::JobKind::kTranscode, kRunning), 2) << same;
  }
  EXPECT_TRUE(FakeCalls(m.res).empty());
  EXPECT_EQ(ReadFile(in), "the song");
}

TEST_F(TranscodeFake, OptionAndProtocolLikePathsAreMadeUnambiguous) {
  m.FakeTool("ffmpeg", "exit 0");
  struct Case {
    std::string given, passed;
  } cases[] = {{"-y.wav", "file:-y.wav"},         {"http:x.mp3", "file:http:x.mp3"},
               {"pipe:1.mp3", "file:pipe:1.mp3"}, {"Live 2020:a/b.wav", "file:Live 2020:a/b.wav"},
               {"dir/a:b.wav", "dir/a:b.wav"},    {"/abs/-x:y.wav", "/abs/-x:y.wav"},
               {"plain é.wav", "plain é.wav"}};
  for (const auto& c : cases) {
    ::unlink((m.res + "/calls.log").c_str());
    ASSERT_TRUE(
        StartTranscode(state, TranscodeStatusForPages, m.path(), c.given, c.given + ".mp3"));
    EXPECT_EQ(AwaitFinal(*state, jobs::JobKind::kTranscode, kRunning), 1);
    auto calls = FakeCalls(m.res);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], FfmpegArgs(c.passed, c.passed + ".mp3")) << c.given;
  }
}

// The job with the real ffmpeg on audio made by sox.
class TranscodeReal : public ::testing::Test {
 protected:
  ModuleDir m;
  std::shared_ptr<jobs::JobState> state = std::make_shared<jobs::JobState>();

  void SetUp() override { m.LinkTool("ffmpeg", "/usr/bin/ffmpeg"); }
  void TearDown() override { EXPECT_TRUE(AllSettled()); }

  // Mono 22050 Hz speech-like tones: every output property must be converted.
  void MakeSong(const std::string& path, double seconds = 3) {
    ASSERT_EQ(Sh("sox -n -r 22050 -c 1 " + ShellQuote(path) + " synth " + std::to_string(seconds) +
                 " sine 300:900 vol 0.5"),
              0);
  }
  int32_t Transcode(const std::string& in, const std::string& out) {
    EXPECT_TRUE(StartTranscode(state, TranscodeStatusForPages, m.path(), in, out));
    return AwaitFinal(*state, jobs::JobKind::kTranscode, kRunning);
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
  std::string wav = m.dir / "song.wav", art = m.dir / "art.mp3", png = m.dir / "cover.png";
  MakeSong(wav);
  ASSERT_EQ(Sh("ffmpeg -nostdin -loglevel error -f lavfi -i color=c=red:s=64x64 -frames:v 1 " +
               ShellQuote(png) + " && ffmpeg -nostdin -loglevel error -i " + ShellQuote(wav) +
               " -i " + ShellQuote(png) +
               " -map 0 -map 1 -c:a libmp3lame -b:a 128k -c:v png -disposition:v attached_pic "
               "-id3v2_version 3 " +
               ShellQuote(art)),
            0);
  ASSERT_NE(Streams(art).find("codec_type=video"), std::string::npos);

  EXPECT_EQ(Transcode(wav, m.dir / "ring.mp3"), 1);
  EXPECT_EQ(Streams(m.dir / "ring.mp3"), kRingtone);
  EXPECT_EQ(Transcode(art, m.dir / "ring2.mp3"), 1);
  EXPECT_EQ(Streams(m.dir / "ring2.mp3"), kRingtone);  // one audio stream only

  // A WAV in the temporary folder is gone afterwards; a missing input fails.
  std::string grabbed = m.tmp + "/track01.wav";
  MakeSong(grabbed, 1);
  EXPECT_EQ(Transcode(grabbed, m.dir / "ring3.mp3"), 1);
  EXPECT_FALSE(Exists(grabbed));
  EXPECT_EQ(Transcode(m.dir / "missing.wav", m.dir / "ring4.mp3"), 2);
  EXPECT_FALSE(Exists(m.dir / "ring4.mp3"));
  EXPECT_EQ(Transcode(wav, m.dir / "no folder/ring5.mp3"), 2);
}

TEST_F(TranscodeReal, AwkwardPathsWork) {
  // Relative names are taken from the working folder, as the page gives them.
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir(m.path().c_str()), 0);
  struct Case {
    std::string in, out;
  } cases[] = {{"-i song.wav", "-y ring.mp3"},
               {"Live:2020 'q' \"dq\".wav", "http:ring ü.mp3"},
               {"pipe:0.wav", "pipe:1.mp3"},
               {m.dir / "My Music/Émilie – été.wav", m.dir / "My Music/sonnerie été.mp3"}};
  ::mkdir((m.dir / "My Music").c_str(), 0755);
  for (const auto& c : cases) {
    MakeSong(c.in[0] == '/' ? c.in : m.dir / c.in, 1);
    EXPECT_EQ(Transcode(c.in, c.out), 1) << c.in;
    EXPECT_EQ(Streams(c.out[0] == '/' ? c.out : m.dir / c.out), kRingtone) << c.out;
  }
  ASSERT_EQ(::chdir(cwd), 0);
}

}  // namespace
}  // namespace zb::media
