// The song analysis: the waveform, the loudness per second and the loudest
// stretch, on sound built so that the answers are known, and the job through
// the scripting object as page script starts, polls, reads and cancels it.
#include "media/song_analysis.h"

#include <gtest/gtest.h>

#include <regex>

#include "bridge/external_dispatch.h"
#include "page_host.h"
#include "tool_test_support.h"

namespace zb {
namespace {

using namespace zb::testing;
using media::SongAnalysis;

// `seconds` of a square wave of amplitude `amp` at kRate.
void Add(media::SongAnalyzer& a, double seconds, int amp) {
  for (int i = 0; i < static_cast<int>(seconds * SongAnalysis::kRate); ++i)
    a.AddSample(static_cast<int16_t>(i % 2 ? amp : -amp));
}

TEST(SongAnalyzer, PeaksRmsAndLengthOfKnownSound) {
  media::SongAnalyzer a;
  Add(a, 2.0, 16384);
  Add(a, 0.55, 32767);
  SongAnalysis r = a.Finish();
  EXPECT_EQ(r.lengthMs, 2550);
  ASSERT_EQ(r.peaks.size(), 26u);  // ten a second, the last one short
  EXPECT_EQ(r.peaks[0], 128);
  EXPECT_EQ(r.peaks[19], 128);
  EXPECT_EQ(r.peaks[20], 255);
  EXPECT_EQ(r.peaks[25], 255);
  ASSERT_EQ(r.rms.size(), 3u);
  EXPECT_NEAR(r.rms[0], 0.5, 1e-6);
  EXPECT_NEAR(r.rms[2], 1.0, 1e-4);

  // Bytes split anywhere give the same samples as whole ones.
  media::SongAnalyzer bytes;
  const char le[] = {0x00, 0x40, 0x00, static_cast<char>(0xC0)};  // 16384, -16384
  for (int i = 0; i < 4000; ++i) {
    bytes.AddBytes(le, 1);
    bytes.AddBytes(le + 1, 3);
  }
  SongAnalysis b = bytes.Finish();
  EXPECT_EQ(b.lengthMs, 1000);
  EXPECT_NEAR(b.rms[0], 0.5, 1e-6);
}

TEST(SongAnalyzer, LoudestStretchIsTheWindowWithTheMostEnergy) {
  SongAnalysis a;
  a.lengthMs = 100000;
  a.rms.assign(100, 0.1);
  for (int i = 61; i < 80; ++i) a.rms[i] = 0.8;       // 19 loud seconds from 61 s
  EXPECT_EQ(media::LoudestStartMs(a, 15000), 61000);  // the first of equal windows
  EXPECT_EQ(media::LoudestStartMs(a, 30000), 50000);  // the earliest holding it all
  a.rms[98] = a.rms[99] = 1.0;                        // a loud end: a window never runs past it
  a.rms.assign(100, 0.1);
  a.rms[99] = 1.0;
  EXPECT_EQ(media::LoudestStartMs(a, 40000), 60000);
  a.lengthMs = 99500;  // the window would run past the end: not taken
  EXPECT_EQ(media::LoudestStartMs(a, 40000), 0);
  a.rms[70] = 0.5;  // a crescendo of tiny steps is followed to its top
  for (int i = 0; i < 100; ++i) a.rms[i] = 0.1 + i * 0.001;
  EXPECT_EQ(media::LoudestStartMs(a, 20000), 79000);
  a.lengthMs = 30000;  // no longer than the window: used whole
  EXPECT_EQ(media::LoudestStartMs(a, 30000), 0);
  a.lengthMs = 12000;
  EXPECT_EQ(media::LoudestStartMs(a, 30000), 0);
  SongAnalysis quiet;  // all silent: the start
  quiet.lengthMs = 90000;
  quiet.rms.assign(90, 0.0);
  EXPECT_EQ(media::LoudestStartMs(quiet, 30000), 0);
}

TEST(SongAnalyzer, ReportedDurationIsRead) {
  EXPECT_EQ(media::ReportedDurationMs("Input #0, wav\n  Duration: 00:03:00.05, bitrate: 1411 kb/s"),
            180050);
  EXPECT_EQ(media::ReportedDurationMs("  Duration: 01:00:01.50, start"), 3601500);
  EXPECT_EQ(media::ReportedDurationMs("  Duration: N/A, bitrate: N/A"), -1);
  EXPECT_EQ(media::ReportedDurationMs("nothing"), -1);
}

class AnalysisThroughExternal : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(AllSettled()); }
  bool Start(const std::string& input) {
    VARIANT r = CallMember(*m_disp, u"ZBL_AnalyzeMedia", DISPATCH_METHOD,
                           {StrArg(input), StrArg(m_preview)});
    return r.vt == VT_BOOL && r.boolVal == VARIANT_TRUE;
  }
  int32_t Status() {
    VARIANT r = CallMember(*m_disp, u"ZBL_anStatus", DISPATCH_PROPERTYGET);
    EXPECT_EQ(r.vt, VT_INT);
    return r.intVal;
  }
  std::string Result() {
    VARIANT r = CallMember(*m_disp, u"ZBL_anResult", DISPATCH_PROPERTYGET);
    std::string s = StringOf(r);
    VariantClear(&r);
    return s;
  }
  // Polls as a page does: the values seen, without repeats.
  std::vector<int32_t> Poll() {
    std::vector<int32_t> seen;
    WaitUntil(
        [&] {
          int32_t v = Status();
          if (seen.empty() || seen.back() != v) seen.push_back(v);
          return v >= 100;
        },
        60000);
    return seen;
  }
  static int64_t Field(const std::string& json, const std::string& name) {
    std::smatch m;
    if (!std::regex_search(json, m, std::regex("\"" + name + "\":([0-9]+)"))) return -1;
    return std::stoll(m[1]);
  }

  ModuleDir m_m;
  ScopedEnv m_registryDir{"ZIMBREL_REGISTRY_DIR", m_m.dir / "registry"};
  std::string m_preview = m_m.tmp + "/preview.wav";
  std::unique_ptr<CoreHost> m_host = std::make_unique<CoreHost>(m_m.Path(), testing::Quiet());
  std::unique_ptr<CExternalDispatch> m_disp =
      std::make_unique<CExternalDispatch>([this]() -> CoreHost* { return m_host.get(); });
};

// A quiet song of 100 s with one loud stretch of 20 s from 47 s: the loudest
// 15 s and 20 s lie inside it, the loudest 30 s and 40 s hold all of it.
TEST_F(AnalysisThroughExternal, QuietSongWithOneLoudStretch) {
  m_m.LinkTool("ffmpeg", "/usr/bin/ffmpeg");
  // A WAV: every second of a stretch is then the same to the sample, so
  // equal windows are equal and the earliest is the answer.
  std::string song = m_m.dir / "quiet then loud.wav";
  ASSERT_EQ(Sh("cd " + ShellQuote(m_m.Path()) +
               " && sox -n -r 44100 -c 2 q1.wav synth 47 sine 300 vol 0.05"
               " && sox -n -r 44100 -c 2 l.wav synth 20 sine 500 vol 0.8"
               " && sox -n -r 44100 -c 2 q2.wav synth 33 sine 300 vol 0.05"
               " && sox q1.wav l.wav q2.wav " +
               ShellQuote(song)),
            0);
  ASSERT_TRUE(Start(song));
  std::vector<int32_t> seen = Poll();
  ASSERT_EQ(seen.back(), 100);
  for (size_t i = 1; i + 1 < seen.size(); ++i) {
    EXPECT_GT(seen[i], seen[i - 1]);  // a growing percentage on the way
    EXPECT_LT(seen[i], 100);
  }
  std::string json = Result();
  EXPECT_EQ(Field(json, "lengthMs"), 100000);
  EXPECT_EQ(Field(json, "peaksPerSecond"), 10);
  EXPECT_EQ(Field(json, "15000"), 47000);
  EXPECT_EQ(Field(json, "20000"), 47000);
  EXPECT_EQ(Field(json, "30000"), 37000);  // the earliest window holding the stretch
  EXPECT_EQ(Field(json, "40000"), 27000);
  // The preview plays the song: a WAV of its length.
  std::string facts = ShOut(
      "ffprobe -v error -show_entries stream=codec_name,sample_rate:format="
      "duration -of csv=p=0 " +
      ShellQuote(m_preview));
  EXPECT_NE(facts.find("pcm_s16le,22050"), std::string::npos) << facts;
  EXPECT_NE(facts.find("100.0"), std::string::npos) << facts;

  // A song shorter than every stretch is used whole.
  std::string shortSong = m_m.dir / "short.wav";
  ASSERT_EQ(Sh("sox -n -r 44100 -c 1 " + ShellQuote(shortSong) + " synth 12 sine 440"), 0);
  ASSERT_TRUE(Start(shortSong));
  EXPECT_EQ(Poll().back(), 100);
  json = Result();
  EXPECT_NEAR(Field(json, "lengthMs"), 12000, 2);
  EXPECT_EQ(Field(json, "15000"), 0);
  EXPECT_EQ(Field(json, "40000"), 0);
}

TEST_F(AnalysisThroughExternal, FailuresLeaveNoPreviewAndCancelEndsFfmpeg) {
  m_m.LinkTool("ffmpeg", "/usr/bin/ffmpeg");
  std::string text = m_m.dir / "notes.wav";
  WriteFile(text, "not a song at all");
  ASSERT_TRUE(Start(text));
  EXPECT_EQ(Poll().back(), 101);
  EXPECT_EQ(Result(), "");
  EXPECT_FALSE(Exists(m_preview));
  ASSERT_TRUE(Start(m_preview));  // the preview would be the song
  EXPECT_EQ(Poll().back(), 101);

  // An ffmpeg that never ends is ended by a cancel, at once.
  ::unlink((m_m.res + "/ffmpeg").c_str());
  m_m.FakeTool("ffmpeg", std::string(kHangUntilGo) + "exit 0");
  ASSERT_TRUE(Start(m_m.dir / "song.wav"));
  ASSERT_TRUE(WaitUntil([&] { return Exists(m_m.res + "/pid"); }));
  int pid = std::atoi(ReadFile(m_m.res + "/pid").c_str());
  CallMember(*m_disp, u"ZBL_BreakAsyncOperation", DISPATCH_METHOD);
  EXPECT_EQ(Poll().back(), 101);
  EXPECT_TRUE(WaitUntil([&] { return ::kill(pid, 0) != 0; }));
  EXPECT_EQ(media::ChildrenAwaitingReap(), 0);
}

}  // namespace
}  // namespace zb
