// A page's ringtone flow through the scripting object: transcode a song,
// normalise the result, cancel, as page script does through window.external.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "bridge/external_dispatch.h"
#include "core/core_host.h"
#include "page_host.h"
#include "platform/utf.h"
#include "tool_test_support.h"

namespace zb {
namespace {

using namespace zb::testing;

class ToolJobsThroughExternal : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(AllSettled()); }

  // Calls a member by name with script-order arguments, as the web view does.
  VARIANT Call(const std::u16string& name, WORD flags, std::vector<VARIANT> args = {}) {
    return CallMember(*m_disp, name, flags, std::move(args));
  }
  static VARIANT Str(const std::string& s) { return StrArg(s); }
  bool Start(const std::u16string& name, std::vector<VARIANT> args) {
    VARIANT r = Call(name, DISPATCH_METHOD, std::move(args));
    EXPECT_EQ(r.vt, VT_BOOL);
    return r.vt == VT_BOOL && r.boolVal == VARIANT_TRUE;
  }
  int32_t Status(const std::u16string& name) {
    VARIANT r = Call(name, DISPATCH_PROPERTYGET);
    EXPECT_EQ(r.vt, VT_INT);
    return r.intVal;
  }
  // Polls as a page does; returns the values seen, in order, without repeats.
  std::vector<int32_t> Poll(const std::u16string& name, std::vector<int32_t> running) {
    std::vector<int32_t> seen;
    WaitUntil(
        [&] {
          int32_t v = Status(name);
          if (seen.empty() || seen.back() != v) seen.push_back(v);
          for (int32_t r : running)
            if (v == r) return false;
          return true;
        },
        60000);
    return seen;
  }

  ModuleDir m_m;
  ScopedEnv m_registryDir{"ZIMBREL_REGISTRY_DIR", m_m.dir / "registry"};
  std::unique_ptr<CoreHost> m_host = std::make_unique<CoreHost>(m_m.Path(), testing::Quiet());
  std::unique_ptr<CExternalDispatch> m_disp =
      std::make_unique<CExternalDispatch>([this]() -> CoreHost* { return m_host.get(); });
};

TEST_F(ToolJobsThroughExternal, SongBecomesANormalisedRingtone) {
  m_m.LinkTool("ffmpeg", "/usr/bin/ffmpeg");
  m_m.LinkTool("mp3gain", "/usr/bin/mp3gain");
  std::string song = m_m.dir / "My Song.wav", ring = m_m.tmp + "/ringtone.mp3";
  ASSERT_EQ(Sh("espeak-ng -w " + ShellQuote(song) + " 'Your phone is ringing, pick it up.'"), 0);

  ASSERT_TRUE(Start(u"ZBL_TranscodeMedia", {Str(song), Str(ring)}));
  std::vector<int32_t> ts = Poll(u"ZBL_tsStatus", {0});
  EXPECT_EQ(ts.back(), 1);
  EXPECT_LE(ts.size(), 2u);  // 0, then the final value: nothing in between

  ASSERT_TRUE(Start(u"ZBL_NormalizeAudio", {Str(ring)}));
  std::vector<int32_t> nor = Poll(u"ZBL_norStatus", {0, 10, 30, 80});
  EXPECT_EQ(nor.back(), 100);
  EXPECT_TRUE(std::is_sorted(nor.begin(), nor.end()));
  EXPECT_EQ(
      ShOut("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + ShellQuote(ring)),
      "mp3\n");
  EXPECT_EQ(ShOut("ls " + ShellQuote(m_m.tmp)), "ringtone.mp3\n");  // no mp3gain leftovers
  EXPECT_TRUE(Exists(song));
  EXPECT_EQ(Status(u"ZBL_tsStatus"), 1);  // kept until the next transcode
}

TEST_F(ToolJobsThroughExternal, BreakAsyncOperationCancelsAndTheNextStartClearsIt) {
  m_m.FakeTool("ffmpeg", kHangUntilGo);
  m_m.FakeTool("mp3gain", "echo done\n" + FakeMp3gainAnalysis() + "exit 0");
  ASSERT_TRUE(Start(u"ZBL_TranscodeMedia", {Str(m_m.dir / "a.wav"), Str(m_m.dir / "a.mp3")}));
  EXPECT_EQ(Status(u"ZBL_tsStatus"), 0);
  ASSERT_TRUE(WaitUntil([&] { return m_host->Jobs()->ProcessId() != 0; }));
  VARIANT r = Call(u"ZBL_BreakAsyncOperation", DISPATCH_METHOD);
  EXPECT_EQ(r.boolVal, VARIANT_TRUE);
  EXPECT_EQ(Poll(u"ZBL_tsStatus", {0}).back(), 2);
  EXPECT_EQ(m_host->Jobs()->ProcessId(), 0u);

  // A cancel given with no job running is cleared by the next start.
  Call(u"ZBL_BreakAsyncOperation", DISPATCH_METHOD);
  ASSERT_TRUE(Start(u"ZBL_NormalizeAudio", {Str(m_m.dir / "a.mp3")}));
  EXPECT_EQ(Poll(u"ZBL_norStatus", {0, 10, 30, 80}).back(), 100);
  WriteFile(m_m.res + "/go", "");
}

TEST_F(ToolJobsThroughExternal, JobsRunOnAfterTheWindowHasGone) {
  m_m.FakeTool("ffmpeg", kHangUntilGo);
  m_m.FakeTool("mp3gain", kHangUntilGo);
  ASSERT_TRUE(Start(u"ZBL_TranscodeMedia", {Str(m_m.dir / "a.wav"), Str(m_m.dir / "a.mp3")}));
  ASSERT_TRUE(Start(u"ZBL_NormalizeAudio", {Str(m_m.dir / "b.mp3")}));
  ASSERT_TRUE(WaitUntil([&] { return ChildProcesses().size() == 2; }));
  std::weak_ptr<const jobs::JobState> state = m_host->Jobs();
  m_disp.reset();
  m_host.reset();
  EXPECT_FALSE(state.expired());  // the running jobs hold it
  WriteFile(m_m.res + "/go", "");
  EXPECT_TRUE(AllSettled());
  EXPECT_TRUE(state.expired());
}

TEST_F(ToolJobsThroughExternal, ProgramExitsCleanlyWithJobsRunning) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  m_m.FakeTool("ffmpeg", kHangUntilGo);
  m_m.FakeTool("mp3gain", kHangUntilGo);
  // The program closes its window and returns from main while both jobs
  // still wait for their tools; any crash or sanitizer report fails the exit.
  EXPECT_EXIT(
      {
        Start(u"ZBL_TranscodeMedia", {Str(m_m.dir / "a.wav"), Str(m_m.dir / "a.mp3")});
        Start(u"ZBL_NormalizeAudio", {Str(m_m.dir / "b.mp3")});
        WaitUntil([&] { return ChildProcesses().size() == 2; });
        m_disp.reset();
        m_host.reset();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  WriteFile(m_m.res + "/go", "");  // ends the tools the exited program left
}

}  // namespace
}  // namespace zb
