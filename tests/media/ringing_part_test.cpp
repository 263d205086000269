// The part that rings: reading the part a page asks for, ffmpeg's
// arguments for it, and real ringtones made from a song of known tones
// (440, 880 and 1320 Hz, ten seconds each), through the scripting object as
// page script calls ZBL_TranscodeMedia.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "bridge/external_dispatch.h"
#include "media/transcode.h"
#include "page_host.h"
#include "tool_test_support.h"

namespace zb {
namespace {

using namespace zb::testing;
using media::ReadTranscodePart;
using media::TranscodePart;

std::optional<TranscodePart> Part(const std::string& s, const std::string& l,
                                  const std::string& in = "", const std::string& out = "") {
  std::optional<TranscodePart> p = TranscodePart{-7, -7, -7, -7};
  EXPECT_TRUE(ReadTranscodePart(s, l, in, out, &p)) << s << "|" << l << "|" << in << "|" << out;
  return p;
}
bool Refused(const std::string& s, const std::string& l, const std::string& in = "",
             const std::string& out = "") {
  std::optional<TranscodePart> p = TranscodePart{-7, -7, -7, -7};
  bool ok = ReadTranscodePart(s, l, in, out, &p);
  return !ok && p && p->startMs == -7;  // untouched
}

TEST(TranscodePart, PagesNumbersAreReadAndBadOnesRefused) {
  EXPECT_FALSE(Part("", ""));  // no part: the whole song
  auto p = Part("10000", "10000", "500", "1500");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->startMs, 10000);
  EXPECT_EQ(p->lengthMs, 10000);
  EXPECT_EQ(p->fadeInMs, 500);
  EXPECT_EQ(p->fadeOutMs, 1500);
  p = Part("0", "30000", "700");  // the fade-out takes the fade-in
  EXPECT_EQ(p->fadeOutMs, 700);
  p = Part("0", "30000");
  EXPECT_EQ(p->fadeInMs, 0);
  EXPECT_EQ(p->fadeOutMs, 0);
  p = Part("1500.6", "2e4", "0", "90000");  // script's numbers; a fade no longer than the part
  EXPECT_EQ(p->startMs, 1501);
  EXPECT_EQ(p->lengthMs, 20000);
  EXPECT_EQ(p->fadeOutMs, 20000);
  EXPECT_EQ(Part("86400000", "86400000")->lengthMs, 86400000);  // 24 h is allowed

  for (auto [s, l] : std::vector<std::pair<std::string, std::string>>{{"-1", "1000"},
                                                                      {"0", "0"},
                                                                      {"0", "-5"},
                                                                      {"abc", "1000"},
                                                                      {"0", "10 s"},
                                                                      {"NaN", "1000"},
                                                                      {"0", "Infinity"},
                                                                      {"86400001", "1000"},
                                                                      {"0", "1e300"},
                                                                      {" 5", "1000"},
                                                                      {"0x10", "1000"},
                                                                      {"5", ""},
                                                                      {"", "5"},
                                                                      {"true", "1000"}})
    EXPECT_TRUE(Refused(s, l)) << s << "|" << l;
  EXPECT_TRUE(Refused("0", "1000", "-1"));
  EXPECT_TRUE(Refused("0", "1000", "0", "soft"));
  EXPECT_TRUE(Refused("", "", "500"));  // fades of no part
}

TEST(TranscodePart, FfmpegGetsThePartAsSeparateArguments) {
  using V = std::vector<std::string>;
  EXPECT_EQ(media::TranscodeArguments("/m/a b.wav", "/t/r.mp3", std::nullopt),
            (V{"-nostdin", "-i", "/m/a b.wav", "-vn", "-ab", "64k", "-ar", "44100", "-ac", "2",
               "-y", "/t/r.mp3"}));
  EXPECT_EQ(media::TranscodeArguments("-x.wav", "/t/r.mp3", TranscodePart{42005, 30000, 500, 1500}),
            (V{"-nostdin", "-ss", "42.005", "-t", "30.000", "-i", "file:-x.wav", "-vn", "-af",
               "afade=t=in:st=0:d=0.500,afade=t=out:st=28.500:d=1.500", "-ab", "64k", "-ar",
               "44100", "-ac", "2", "-y", "/t/r.mp3"}));
  EXPECT_EQ(media::TranscodeArguments("/a.wav", "/r.mp3", TranscodePart{0, 5000, 0, 0}),
            (V{"-nostdin", "-ss", "0.000", "-t", "5.000", "-i", "/a.wav", "-vn", "-ab", "64k",
               "-ar", "44100", "-ac", "2", "-y", "/r.mp3"}));
}

// The decoded sound of a file: mono 16-bit samples at 44100 Hz.
std::vector<int16_t> Samples(const std::string& file) {
  std::string raw = ShOut("ffmpeg -v error -nostdin -i " + ShellQuote(file) +
                          " -f s16le -ac 1 -ar 44100 - 2>/dev/null");
  std::vector<int16_t> s(raw.size() / 2);
  std::memcpy(s.data(), raw.data(), s.size() * 2);
  return s;
}
double Rms(const std::vector<int16_t>& s, size_t from, size_t count) {
  double e = 0;
  for (size_t i = from; i < from + count && i < s.size(); ++i) e += double(s[i]) * s[i];
  return std::sqrt(e / static_cast<double>(count));
}
// The frequency of a pure tone, from its rising zero crossings.
double Frequency(const std::vector<int16_t>& s, size_t from, size_t count) {
  int rises = 0;
  for (size_t i = from + 1; i < from + count && i < s.size(); ++i)
    rises += s[i - 1] < 0 && s[i] >= 0;
  return rises * 44100.0 / static_cast<double>(count);
}

class RingingPart : public ::testing::Test {
 protected:
  void SetUp() override {
    m_m.LinkTool("ffmpeg", "/usr/bin/ffmpeg");
    ASSERT_EQ(Sh("sox -n -r 44100 -c 2 " + ShellQuote(m_song) +
                 " synth 10 sine 440 : synth 10 sine 880 : synth 10 sine 1320 vol 0.5"),
              0);
  }
  void TearDown() override { EXPECT_TRUE(AllSettled()); }

  static VARIANT Num(int32_t n) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
  }
  static VARIANT Dbl(double d) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = d;
    return v;
  }
  // ZBL_TranscodeMedia(song, ring, part...): whether it started.
  bool Transcode(std::vector<VARIANT> part) {
    std::vector<VARIANT> args = {StrArg(m_song), StrArg(m_ring)};
    args.insert(args.end(), part.begin(), part.end());
    VARIANT r = CallMember(*m_disp, u"ZBL_TranscodeMedia", DISPATCH_METHOD, std::move(args));
    EXPECT_EQ(r.vt, VT_BOOL);
    return r.boolVal == VARIANT_TRUE;
  }
  int32_t Final() { return AwaitFinal(*m_host->Jobs(), jobs::JobKind::kTranscode); }

  ModuleDir m_m;
  ScopedEnv m_registryDir{"ZIMBREL_REGISTRY_DIR", m_m.dir / "registry"};
  std::string m_song = m_m.dir / "three tones.wav";
  std::string m_ring = m_m.tmp + "/ringtone.mp3";
  std::unique_ptr<CoreHost> m_host = std::make_unique<CoreHost>(m_m.Path(), testing::Quiet());
  std::unique_ptr<CExternalDispatch> m_disp =
      std::make_unique<CExternalDispatch>([this]() -> CoreHost* { return m_host.get(); });
};

TEST_F(RingingPart, APartLastsItsLengthSoundsWhereItStartsAndFades) {
  ASSERT_TRUE(Transcode({Num(10000), Num(10000), Num(500), Num(1500)}));
  ASSERT_EQ(Final(), 1);
  auto s = Samples(m_ring);
  EXPECT_NEAR(s.size() / 44100.0, 10.0, 0.026);                 // within one MP3 frame
  EXPECT_NEAR(Frequency(s, 44100 * 2, 44100 * 6), 880.0, 3.0);  // the second tone
  double middle = Rms(s, 44100 * 4, 44100 * 2);
  EXPECT_GT(middle, 3000);
  EXPECT_LT(Rms(s, 0, 2205), middle * 0.3);                // the first 50 ms
  EXPECT_LT(Rms(s, s.size() - 2205, 2205), middle * 0.3);  // the last 50 ms
  // The fade-out is longer than the fade-in: 1 s before the end it is still
  // quieter than 0.4 s after the start.
  EXPECT_LT(Rms(s, s.size() - 44100, 2205), Rms(s, 17640, 2205));

  // Without fades the part starts and ends at full strength.
  ASSERT_TRUE(Transcode({Num(20000), Dbl(5000)}));
  ASSERT_EQ(Final(), 1);
  s = Samples(m_ring);
  EXPECT_NEAR(s.size() / 44100.0, 5.0, 0.026);
  EXPECT_NEAR(Frequency(s, 0, s.size()), 1320.0, 4.0);
  EXPECT_GT(Rms(s, 0, 2205), Rms(s, 44100 * 2, 44100) * 0.8);
  EXPECT_GT(Rms(s, s.size() - 2205, 2205), Rms(s, 44100 * 2, 44100) * 0.8);
}

// Where a tone gives way to a higher one: the first of five rising zero
// crossings in a row that are less than `period` samples apart.
double HigherToneAt(const std::vector<int16_t>& s, int period) {
  long last = -1, firstShort = -1;
  int shortRun = 0;
  for (size_t i = 1; i < s.size(); ++i) {
    if (!(s[i - 1] < 0 && s[i] >= 0)) continue;
    if (last >= 0 && static_cast<long>(i) - last < period) {
      if (shortRun++ == 0) firstShort = last;
      if (shortRun == 5) return firstShort / 44100.0;
    } else {
      shortRun = 0;
    }
    last = static_cast<long>(i);
  }
  return -1;
}

// The part starts where the song is at its start, to the millisecond, from
// a WAV and from an MP3 (which ffmpeg seeks by its frames).
TEST_F(RingingPart, APartStartsWhereTheSongIsAtItsStart) {
  std::string mp3 = m_m.dir / "three tones.mp3";
  ASSERT_EQ(
      Sh("ffmpeg -v error -nostdin -i " + ShellQuote(m_song) + " -ab 128k " + ShellQuote(mp3)), 0);
  for (const std::string& from : {m_song, mp3}) {
    VARIANT r = CallMember(*m_disp, u"ZBL_TranscodeMedia", DISPATCH_METHOD,
                           {StrArg(from), StrArg(m_ring), Num(9500), Num(1000)});
    ASSERT_EQ(r.boolVal, VARIANT_TRUE);
    ASSERT_EQ(Final(), 1) << from;
    auto s = Samples(m_ring);
    EXPECT_NEAR(s.size() / 44100.0, 1.0, 0.026) << from;
    // 440 Hz (a period of 100 samples) for half a second, then 880 Hz (50).
    EXPECT_NEAR(HigherToneAt(s, 75), 0.5, 0.026) << from;
  }
}

TEST_F(RingingPart, TwoArgumentsMakeTheWholeSong) {
  ASSERT_TRUE(Transcode({}));
  ASSERT_EQ(Final(), 1);
  auto s = Samples(m_ring);
  EXPECT_NEAR(s.size() / 44100.0, 30.0, 0.026);
  EXPECT_NEAR(Frequency(s, 44100, 44100 * 8), 440.0, 3.0);
  EXPECT_NEAR(Frequency(s, 44100 * 21, 44100 * 8), 1320.0, 4.0);
}

TEST_F(RingingPart, APartPastTheEndFailsAndLeavesNoFile) {
  for (int32_t start : {30000, 60000}) {
    ASSERT_TRUE(Transcode({Num(start), Num(10000)}));
    EXPECT_EQ(Final(), 2) << start;
    EXPECT_FALSE(Exists(m_ring)) << start;
  }
  // A part that begins inside the song and runs past its end is what is left.
  ASSERT_TRUE(Transcode({Num(25000), Num(10000)}));
  ASSERT_EQ(Final(), 1);
  EXPECT_NEAR(Samples(m_ring).size() / 44100.0, 5.0, 0.026);
}

TEST_F(RingingPart, BadPartsAreRefusedWithoutAJob) {
  ASSERT_TRUE(Transcode({Num(0), Num(5000)}));
  ASSERT_EQ(Final(), 1);
  std::vector<std::vector<VARIANT>> bad = {{Num(-1), Num(5000)},
                                           {Num(0), Num(0)},
                                           {StrArg("soon"), Num(5000)},
                                           {Num(0), Dbl(NAN)},
                                           {Num(0), Dbl(1e12)},
                                           {Num(0), Num(5000), Num(-200)},
                                           {Num(5000)},
                                           {Num(0), Num(5000), Num(0), StrArg("x")}};
  for (auto& part : bad) EXPECT_FALSE(Transcode(part));
  // No job ran: the ringtone of the last good call and its status stay.
  EXPECT_EQ(m_host->Jobs()->Status(jobs::JobKind::kTranscode), 1);
  EXPECT_TRUE(Exists(m_ring));
}

}  // namespace
}  // namespace zb
