#include "media/normalize.h"
#include "media/transcode.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "tool_test_support.h"

namespace zb::media {
namespace {

using namespace zb::testing;

const std::vector<int32_t> kRunning = {0, 10, 30, 80};
using Args = std::vector<std::string>;

// The job with a fake mp3gain written by the test.
class NormalizeFake : public ::testing::Test {
 protected:
  ModuleDir m_m;
  std::shared_ptr<jobs::JobState> m_state = std::make_shared<jobs::JobState>();
  std::string m_file = m_m.dir / "ring tone.mp3";

  void TearDown() override { EXPECT_TRUE(AllSettled()); }

  int32_t Normalize(const std::string& body) {
    ::unlink((m_m.res + "/calls.log").c_str());
    m_m.FakeTool("mp3gain", body);
    EXPECT_TRUE(StartNormalize(m_state, m_m.Path(), m_file));
    return AwaitFinal(*m_state, jobs::JobKind::kNormalize, kRunning);
  }
};

TEST_F(NormalizeFake, RunsInOrderWithSeparateOptionArguments) {
  // 20000 leaves room for two steps: 20000 * 2^(3/4) is over full scale.
  EXPECT_EQ(Normalize("echo working >&2\n" + FakeMp3gainAnalysis("20000.5") + "exit 0"), 100);
  EXPECT_EQ(FakeCalls(m_m.res), (std::vector<Args>{{"/s", "d", m_file},
                                                   {"/k", "/r", m_file},
                                                   {"/s", "s", "/o", "/x", m_file},
                                                   {"/g", "2", m_file}}));
  // No room at all: the raise is left out.
  EXPECT_EQ(Normalize(FakeMp3gainAnalysis("31000") + "exit 0"), 100);
  EXPECT_EQ(FakeCalls(m_m.res).size(), 3u);
}

TEST_F(NormalizeFake, AFailedStepNamesItselfAndEndsTheJob) {
  struct Case {
    const char* failingRun;  // its first two arguments
    int32_t status;
    size_t runs;
  } cases[] = {{"/sd", 201, 1}, {"/k/r", 202, 2}, {"/ss", 203, 3}, {"/g4", 203, 4}};
  const std::string analysis = FakeMp3gainAnalysis("100");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failingRun);
    std::string failing = c.failingRun;
    EXPECT_EQ(Normalize(analysis + "[ \"$1$2\" = " + failing + " ] && exit 1; exit 0"), c.status);
    EXPECT_EQ(FakeCalls(m_m.res).size(), c.runs);
    // Killed by a signal: a failure as well.
    EXPECT_EQ(Normalize(analysis + "[ \"$1$2\" = " + failing + " ] && kill -9 $$; exit 0"),
              c.status);
  }
  // An analysis without the figure: the raise could clip, so the step fails.
  EXPECT_EQ(Normalize("[ \"$4\" = /x ] && echo 'nothing to see'; exit 0"), 203);
  EXPECT_EQ(FakeCalls(m_m.res).size(), 3u);
  ::unlink((m_m.res + "/mp3gain").c_str());
  ASSERT_TRUE(StartNormalize(m_state, m_m.Path(), m_file));
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kNormalize, kRunning), 201);  // could not start
}

TEST(NormalizeRaise, StepsThatFitUnderFullScale) {
  auto album = [](const std::string& peak) {
    return "File\tMP3 gain\tdB gain\tMax Amplitude\tMax global_gain\tMin global_gain\n"
           "song.mp3\t0\t0.000000\t" +
           peak + "\t210\t115\n\"Album\"\t0\t0.000000\t" + peak + "\t210\t115\n";
  };
  EXPECT_EQ(RaiseStepsThatFit(album("0.000000")), 4);  // silence
  EXPECT_EQ(RaiseStepsThatFit(album("16383.5")), 4);   // exactly 6 dB of room
  EXPECT_EQ(RaiseStepsThatFit(album("16384")), 3);
  EXPECT_EQ(RaiseStepsThatFit(album("30622.367083")), 0);
  EXPECT_EQ(RaiseStepsThatFit(album("38440.925781")), 0);  // clips already
  EXPECT_EQ(RaiseStepsThatFit(album("21653,941406")), 2);  // a locale's decimal comma
  // Progress lines (ending in "\r") before the figures.
  EXPECT_EQ(RaiseStepsThatFit(" 99% of 4096 bytes analyzed\r\"Album\"\t0\t0\t16384\t1\t1\n"), 3);
  // A file line cannot pass for the album line, whatever the file's name.
  EXPECT_EQ(RaiseStepsThatFit("\"Album\"\t0\t0\t100\t210\t115\n" + album("30000")), 0);
  for (const char* bad : {"", "Album\t0\t0\t100\n", "\"Album\"\t0\t0\tnan\t1\t1\n",
                          "\"Album\"\t0\t0\t-5\t1\t1\n", "\"Album\"\t0\t0\t12x\t1\t1\n"}) {
    EXPECT_EQ(RaiseStepsThatFit(bad), -1) << bad;
  }
}

TEST_F(NormalizeFake, StatusNamesTheStepUnderWay) {
  // Each run waits for its own go file.
  m_m.FakeTool("mp3gain",
               "case \"$1$2\" in /sd) n=1;; /k/r) n=2;; /ss) n=3;; *) n=4;; esac\n"
               "while [ ! -e \"$d/go$n\" ]; do echo tick; sleep 0.01; done\n" +
                   FakeMp3gainAnalysis() + "exit 0");
  m_state->Cancel();  // before the start: cleared by it
  ASSERT_TRUE(StartNormalize(m_state, m_m.Path(), m_file));
  int32_t first = m_state->Status(jobs::JobKind::kNormalize);
  EXPECT_TRUE(first == 0 || first == 10) << first;
  const int32_t expected[] = {10, 30, 80, 80};
  for (int run = 1; run <= 4; ++run) {
    SCOPED_TRACE(run);
    ASSERT_TRUE(WaitUntil([&] {
      return m_state->Status(jobs::JobKind::kNormalize) == expected[run - 1] &&
             FakeCalls(m_m.res).size() == size_t(run);
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(m_state->Status(jobs::JobKind::kNormalize), expected[run - 1]);
    EXPECT_EQ(ChildProcesses().size(), 1u);  // one run at a time
    WriteFile(m_m.res + "/go" + std::to_string(run), "");
  }
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kNormalize, kRunning), 100);
  EXPECT_EQ(FakeCalls(m_m.res).back(), (Args{"/g", "4", m_file}));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(m_state->Status(jobs::JobKind::kNormalize), 100);  // kept
}

TEST_F(NormalizeFake, CancelStopsAfterTheRunInProgress) {
  m_m.FakeTool("mp3gain", "[ \"$1\" = /k ] || exit 0\n" + std::string(kHangUntilGo));
  ASSERT_TRUE(StartNormalize(m_state, m_m.Path(), m_file));
  ASSERT_TRUE(WaitUntil([&] { return Exists(m_m.res + "/pid"); }));
  EXPECT_EQ(m_state->Status(jobs::JobKind::kNormalize), 30);
  m_state->Cancel();
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kNormalize, kRunning, 5000), 202);
  WriteFile(m_m.res + "/go", "");
  EXPECT_TRUE(AllSettled());
  EXPECT_EQ(FakeCalls(m_m.res).size(), 2u);  // step 3 never started
  EXPECT_EQ(ZombieChildren(), 0);
}

TEST_F(NormalizeFake, PathsThatLookLikeOptionsAreRespelled) {
  m_file = "-g";
  Normalize("exit 0");
  EXPECT_EQ(FakeCalls(m_m.res)[0], (Args{"/s", "d", "./-g"}));
  m_file = "/k";
  Normalize("exit 0");
  EXPECT_EQ(FakeCalls(m_m.res)[0], (Args{"/s", "d", "/./k"}));
  m_file = "/k/x.mp3";
  Normalize("exit 0");
  EXPECT_EQ(FakeCalls(m_m.res)[0], (Args{"/s", "d", "/k/x.mp3"}));
}

// The job with the real ffmpeg and mp3gain on songs made here (sox,
// espeak-ng) and taken from Debian packages. Each song is transcoded by the
// transcode job, then normalised by the job and, for comparison, by the
// fixed steps (the full track gain whatever it does to the peaks, then 6 dB).
//
// The songs run in the plain build only: under the sanitizers the job's
// code is the same as with the fakes, and only the tools' time would be
// paid again.
class NormalizeSongs : public ::testing::Test {
 protected:
  struct Measure {
    double lufs;
    double largest;  // mp3gain's largest sample, 16-bit scale
    size_t fullScale;
  };

  ModuleDir m_m;
  std::shared_ptr<jobs::JobState> m_state = std::make_shared<jobs::JobState>();

  void SetUp() override {
    m_m.LinkTool("ffmpeg", "/usr/bin/ffmpeg");
    m_m.LinkTool("mp3gain", "/usr/bin/mp3gain");
  }
  void TearDown() override { EXPECT_TRUE(AllSettled()); }

  static std::string Q(const std::string& s) { return ShellQuote(s); }

  // Samples as ffmpeg decodes them to 16 bits.
  static std::vector<int16_t> Decoded(const std::string& mp3) {
    std::string raw = ShOut("ffmpeg -nostdin -loglevel error -i " + Q(mp3) + " -f s16le -");
    std::vector<int16_t> out(raw.size() / 2);
    std::memcpy(out.data(), raw.data(), out.size() * 2);
    return out;
  }
  static bool AtFullScale(int16_t v) { return v >= 32767 || v <= -32768; }
  static double Largest(const std::string& mp3) {
    return Mp3gainLargestSample(ShOut("mp3gain /s s /o /x " + Q(mp3) + " 2>/dev/null"));
  }
  static Measure Measured(const std::string& mp3, const std::vector<int16_t>& pcm) {
    size_t n = 0;
    for (int16_t v : pcm) n += AtFullScale(v);
    return {Loudness(mp3), Largest(mp3), n};
  }
  static std::string Db(double largest) {
    char b[32];
    std::snprintf(b, sizeof b, "%+.1f", 20 * std::log10(largest / 32767));
    return b;
  }

  // Transcodes and normalises `source`; checks the ringtone and returns its
  // row of the loudness table.
  std::string Check(const std::string& name, const std::string& source) {
    SCOPED_TRACE(name);
    std::string base = m_m.dir / name;
    std::string transcoded = base + ".mp3", ours = base + ".ours.mp3", fixed = base + ".fixed.mp3";
    EXPECT_TRUE(StartTranscode(m_state, TranscodeStatusForPages, m_m.Path(), source, transcoded));
    EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kTranscode), 1);
    EXPECT_EQ(
        Sh("cp " + Q(transcoded) + " " + Q(ours) + " && cp " + Q(transcoded) + " " + Q(fixed)), 0);
    EXPECT_TRUE(StartNormalize(m_state, m_m.Path(), ours));
    EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kNormalize, {0, 10, 30, 80}), 100);
    const std::string quiet = " </dev/null >/dev/null 2>&1";
    EXPECT_EQ(Sh("mp3gain /s d " + Q(fixed) + quiet + " && mp3gain /c /r " + Q(fixed) + quiet +
                 " && mp3gain /g 4 " + Q(fixed) + quiet),
              0);

    std::vector<int16_t> t = Decoded(transcoded), o = Decoded(ours), f = Decoded(fixed);
    Measure mt = Measured(transcoded, t), mo = Measured(ours, o), mf = Measured(fixed, f);
    // No sample at full scale where the transcoded song had none.
    EXPECT_EQ(o.size(), t.size());
    size_t added = 0;
    for (size_t i = 0; i < std::min(o.size(), t.size()); ++i)
      added += AtFullScale(o[i]) && !AtFullScale(t[i]);
    EXPECT_EQ(added, 0u) << "samples brought to full scale";
    // As loud as the fixed steps, or as loud as the peaks allow: one more
    // 1.5 dB step would take the largest sample over full scale.
    EXPECT_GT(mt.largest, 0);
    int ourSteps = static_cast<int>(std::lround(4 * std::log2(mo.largest / mt.largest)));
    int fixedSteps = static_cast<int>(std::lround(4 * std::log2(mf.largest / mt.largest)));
    EXPECT_LE(ourSteps, fixedSteps);
    if (ourSteps < fixedSteps) {
      EXPECT_GT(mo.largest * std::exp2(0.25), kFullScale)
          << "one more step would still fit: " << ourSteps << " of " << fixedSteps;
    }
    char row[512];
    std::snprintf(row, sizeof row,
                  "| %-44s | %6.1f | %6.1f %+4d | %6.1f %+4d | %5s / %5s / %5s | %5zu / %5zu / "
                  "%5zu |\n",
                  name.c_str(), mt.lufs, mf.lufs, fixedSteps, mo.lufs, ourSteps,
                  Db(mt.largest).c_str(), Db(mf.largest).c_str(), Db(mo.largest).c_str(),
                  mt.fullScale, mf.fullScale, mo.fullScale);
    return row;
  }

  static void PrintTable(const std::vector<std::string>& rows) {
    std::printf(
        "| song                                         | LUFS   | fixed, steps | ours, steps | "
        "largest sample, dBFS:  | samples at full scale:  |\n"
        "|                                              | transc.|              |             | "
        "transc. / fixed / ours | transc. / fixed / ours  |\n");
    for (const auto& r : rows) std::printf("%s", r.c_str());
    std::fflush(stdout);
  }

  // 44.1 kHz stereo WAV, made with `cmd` (run in the test's folder).
  std::string Made(const std::string& name, const std::string& cmd) {
    EXPECT_EQ(Sh("cd " + Q(m_m.Path()) + " && " + cmd), 0) << cmd;
    return m_m.dir / name;
  }
};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZB_SONGS_SKIPPED() GTEST_SKIP() << "the song set runs in the plain build"
#else
#define ZB_SONGS_SKIPPED() (void)0
#endif

TEST_F(NormalizeSongs, SongsMadeHereAreLoudWithoutNewFullScaleSamples) {
  ZB_SONGS_SKIPPED();
  const std::string sentence =
      "'This ringtone is a little sentence that goes on long enough to be measured for its "
      "loudness, twice over.'";
  std::vector<std::string> rows;
  std::string speech = Made("speech.wav", "espeak-ng -w s.wav " + sentence +
                                              " && sox s.wav -r 44100 -c 2 speech.wav vol 0.9");
  rows.push_back(Check("speech (espeak-ng)", speech));
  std::string quietSpeech = Made("quiet-speech.wav", "sox speech.wav quiet-speech.wav vol 0.06");
  rows.push_back(Check("quiet speech (espeak-ng, -24 dB)", quietSpeech));
  // A quiet tone with a loud burst: the track gain asked for would clip.
  std::string peaky = Made("peaky.wav",
                           "sox -n -r 44100 -c 2 q.wav synth 6 sine 440 vol 0.02"
                           " && sox -n -r 44100 -c 2 c.wav synth 0.1 square 440 vol 0.5"
                           " && sox q.wav c.wav q.wav peaky.wav");
  rows.push_back(Check("quiet tone, loud burst (sox)", peaky));
  // A soft plucked melody over a soft chord.
  std::string notes;
  for (const char* n :
       {"E4", "E4", "F4", "G4", "G4", "F4", "E4", "D4", "C4", "C4", "D4", "E4", "E4", "D4", "D4"})
    notes += std::string(notes.empty() ? "" : " : ") + "synth 0.5 pluck " + n;
  std::string melody = Made("melody.wav", "sox -n -r 44100 -c 2 m.wav " + notes +
                                              " && sox -n -r 44100 -c 2 h.wav synth 7.5 sine C3 "
                                              "sine E3 sine G3 vol 0.05 fade 1 7.5 2"
                                              " && sox -m m.wav h.wav melody.wav vol 0.12");
  rows.push_back(Check("quiet plucked melody (sox)", melody));
  // Clipped already at the source: a square wave over full scale.
  std::string loud = Made("loud.wav",
                          "sox -n -r 44100 -c 2 l.wav synth 0.3 square 220 gain -1"
                          " && sox q.wav l.wav q.wav loud.wav");
  rows.push_back(Check("quiet tone, clipped burst (sox)", loud));
  PrintTable(rows);
}

// Songs from Debian packages (installed by scripts/install-deps.sh): 12
// seconds of each, or the whole sound when shorter.
TEST_F(NormalizeSongs, SongsFromDebianPackagesAreLoudWithoutNewFullScaleSamples) {
  ZB_SONGS_SKIPPED();
  const std::string sounds = "/usr/share/sounds/freedesktop/stereo/audio-channel-";
  const std::string asc = "/usr/share/games/asc/music/";
  const std::string xm = "/usr/share/games/frozen-bubble/snd/frozen-mainzik-2p.xm";
  for (const std::string& f :
       {sounds + "front-left.oga", asc + "frontiers.mp3", asc + "machine_wars.mp3", xm})
    ASSERT_TRUE(Exists(f)) << f << " is missing: see scripts/install-deps.sh";
  auto cut = [&](const std::string& from, double at, const std::string& name,
                 const std::string& filter = "") {
    return Made(name, "ffmpeg -nostdin -loglevel error -ss " + std::to_string(at) + " -t 12 -i " +
                          Q(from) + (filter.empty() ? "" : " -af " + filter) + " " + name);
  };
  std::vector<std::string> rows;
  // Speech: the channel announcements one after another.
  std::string list, merge;
  const char* channels[] = {"front-left", "front-right", "front-center",
                            "rear-left",  "rear-right",  "side-left"};
  for (const char* c : channels) list += " " + Q(sounds + c + ".oga");
  rows.push_back(Check("speech (sound-theme-freedesktop)",
                       Made("announcements.wav", "sox" + list + " announcements.wav")));
  // 5.1: each announcement in its own channel, one after another (the
  // test signal on the LFE channel).
  double at = 0;
  for (const char* c :
       {"front-left", "front-right", "front-center", "test-signal", "rear-left", "rear-right"}) {
    std::string src = std::string(c) == "test-signal"
                          ? "/usr/share/sounds/freedesktop/stereo/audio-test-signal.oga"
                          : sounds + c + ".oga";
    merge += " \"|sox " + src + " -r 48000 -p pad " + std::to_string(at) + "\"";
    at += 1.6;
  }
  std::string surround =
      Made("surround.flac", "sox -M" + merge +
                                " six.wav && ffmpeg -nostdin -loglevel error -i six.wav -af "
                                "channelmap=channel_layout=5.1 surround.flac");
  EXPECT_EQ(
      ShOut("ffprobe -v error -show_entries stream=channel_layout -of csv=p=0 " + Q(surround)),
      "5.1\n");
  rows.push_back(Check("5.1 announcements (sound-theme-freedesktop)", surround));
  rows.push_back(Check("orchestral (asc-music)", cut(asc + "frontiers.mp3", 100, "orch.wav")));
  rows.push_back(Check("quiet orchestral (asc-music, -20 dB)",
                       cut(asc + "frontiers.mp3", 0, "quiet-orch.wav", "volume=-20dB")));
  rows.push_back(
      Check("loud electronic (asc-music)", cut(asc + "machine_wars.mp3", 60, "electronic.wav")));
  rows.push_back(Check("loud tracker pop (fb-music-high)", cut(xm, 30, "pop.wav")));
  PrintTable(rows);
}

TEST_F(NormalizeSongs, NonMp3AndMissingFilesFailInStepTwo) {
  std::string text = m_m.dir / "notes.mp3";
  WriteFile(text, "not an mp3 at all\n");
  EXPECT_TRUE(StartNormalize(m_state, m_m.Path(), text));
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kNormalize, kRunning), 202);
  EXPECT_EQ(ReadFile(text), "not an mp3 at all\n");
  EXPECT_TRUE(StartNormalize(m_state, m_m.Path(), m_m.dir / "missing.mp3"));
  EXPECT_EQ(AwaitFinal(*m_state, jobs::JobKind::kNormalize, kRunning), 202);
}

// A relative name with a leading "-", from the file's own folder.
TEST_F(NormalizeSongs, ARelativeNameThatLooksLikeAnOption) {
  Made("-tone.mp3",
       "sox -n -r 44100 -c 2 t.wav synth 3 sine 440 vol 0.1"
       " && ffmpeg -nostdin -loglevel error -i t.wav -ab 64k ./-tone.mp3");
  double before = Loudness(m_m.dir / "-tone.mp3");
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir(m_m.Path().c_str()), 0);
  EXPECT_TRUE(StartNormalize(m_state, m_m.Path(), "-tone.mp3"));
  int32_t status = AwaitFinal(*m_state, jobs::JobKind::kNormalize, kRunning);
  ASSERT_EQ(::chdir(cwd), 0);
  EXPECT_EQ(status, 100);
  EXPECT_GT(Loudness(m_m.dir / "-tone.mp3") - before, 3.0);
}

}  // namespace
}  // namespace zb::media
