// The jobs as the pages start them through the core's operations: work files
// the pages name in <module dir>/res/tmp go to the user's work folder, and
// the transcode's sweeps clear that folder, never res/tmp.
#include <gtest/gtest.h>
#include <unistd.h>

#include "core/core_host.h"
#include "jobs/job_status.h"
#include "platform/work_folder.h"
#include "quiet_front_end.h"
#include "tool_test_support.h"

namespace zb {
namespace {

using namespace zb::testing;

// A fake ffmpeg that writes its last argument, the output.
constexpr char kWritesOutput[] = "for a; do out=$a; done; echo ringtone > \"$out\"";

class WorkFolderJobs : public ::testing::Test {
 protected:
  ModuleDir m_m;
  TempDir m_other;
  std::string m_work = m_other / "work";
  std::string m_song = m_other / "song.wav";
  ScopedEnv m_reg{"ZIMBREL_REGISTRY_DIR", m_other / "reg"};
  CoreHost m_host{m_m.Path(), testing::Quiet()};

  void SetUp() override {
    ::mkdir(m_work.c_str(), 0700);
    WriteFile(m_song, "RIFF");
    m_host.SetWorkFolder(WorkFolder(m_m.Path(), m_work));
  }
  void TearDown() override { EXPECT_TRUE(AllSettled()); }
  int32_t Transcode(const std::string& output) {
    EXPECT_TRUE(m_host.StartTranscode(m_song, output, "", "", "", ""));
    return AwaitFinal(*m_host.Jobs(), jobs::JobKind::kTranscode);
  }
};

TEST_F(WorkFolderJobs, PagePathsInResTmpLandInTheWorkFolderWhichTheSweepsClear) {
  m_m.FakeTool("ffmpeg", kWritesOutput);
  m_m.FakeTool("mp3gain", "exit 0");
  WriteFile(m_work + "/stale.mp3", "old ringtone");
  WriteFile(m_work + "/cd-track-1.wav", "copied track");
  WriteFile(m_m.tmp + "/someone-elses.mp3", "not ours to sweep");

  const std::string page = m_m.Path() + "/res/tmp/ringtone-1.mp3";
  ASSERT_EQ(Transcode(page), jobs::status::kTranscodeDone);
  auto calls = FakeCalls(m_m.res);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].back(), m_work + "/ringtone-1.mp3");
  EXPECT_EQ(ReadFile(m_work + "/ringtone-1.mp3"), "ringtone\n");
  EXPECT_FALSE(Exists(m_m.tmp + "/ringtone-1.mp3"));
  EXPECT_FALSE(Exists(m_work + "/stale.mp3"));
  EXPECT_FALSE(Exists(m_work + "/cd-track-1.wav"));
  EXPECT_TRUE(Exists(m_m.tmp + "/someone-elses.mp3"));

  // The next members the page calls with the same name reach the same file.
  // (The fake mp3gain measures nothing, so the job ends early: only the
  // file it was given matters here.)
  ASSERT_TRUE(m_host.StartNormalize(page));
  AwaitFinal(*m_host.Jobs(), jobs::JobKind::kNormalize, {0, 10, 30, 80});
  calls = FakeCalls(m_m.res);
  ASSERT_GT(calls.size(), 1u);
  for (size_t i = 1; i < calls.size(); ++i) EXPECT_EQ(calls[i].back(), m_work + "/ringtone-1.mp3");

  // A song the user chose elsewhere is read where it is.
  EXPECT_EQ(Transcode(m_other / "elsewhere.mp3"), jobs::status::kTranscodeDone);
  EXPECT_EQ(FakeCalls(m_m.res).back().back(), m_other / "elsewhere.mp3");
}

TEST_F(WorkFolderJobs, AWorkFolderClearedSinceTheStartIsMadeAgain) {
  m_m.FakeTool("ffmpeg", kWritesOutput);
  ASSERT_EQ(::rmdir(m_work.c_str()), 0);
  ASSERT_EQ(Transcode(m_m.Path() + "/res/tmp/r.mp3"), jobs::status::kTranscodeDone);
  EXPECT_TRUE(Exists(m_work + "/r.mp3"));
}

TEST_F(WorkFolderJobs, AWorkFolderThatCannotBeMadeIsReportedAndFfmpegNeverRuns) {
  m_m.FakeTool("ffmpeg", kWritesOutput);
  WriteFile(m_other / "file", "a file where the folder's parent should be");
  m_host.SetWorkFolder(WorkFolder(m_m.Path(), m_other / "file/work"));
  EXPECT_EQ(Transcode(m_m.Path() + "/res/tmp/r.mp3"), jobs::status::kTranscodeCannotWrite);
  EXPECT_FALSE(Exists(m_m.res + "/calls.log"));
  EXPECT_FALSE(Exists(m_m.tmp + "/r.mp3"));
  // An output elsewhere is ffmpeg's to judge: a failure is the song's.
  m_m.FakeTool("ffmpeg", "exit 1");
  EXPECT_EQ(Transcode(m_other / "r.mp3"), jobs::status::kTranscodeFailed);
}

// Only a name below res/tmp maps, and never out of the work folder; a name
// holding a NUL (which a tool would get cut short) starts no job at all.
TEST_F(WorkFolderJobs, OnlyPlainNamesBelowResTmpMapAndANameWithANulStartsNothing) {
  m_m.FakeTool("ffmpeg", "exit 0");
  m_m.FakeTool("mp3gain", "exit 0");
  const std::string tmp = m_m.Path() + "/res/tmp/";
  const std::vector<std::pair<std::string, std::string>> names = {
      {tmp + "sub/r.mp3", m_work + "/sub/r.mp3"},
      {tmp + "../escaped.mp3", tmp + "../escaped.mp3"},
      {tmp + "a/../../escaped.mp3", tmp + "a/../../escaped.mp3"},
      {tmp + "./r.mp3", tmp + "./r.mp3"},
      {tmp + "..", tmp + ".."},
      {m_m.Path() + "/res/tmpfile.mp3", m_m.Path() + "/res/tmpfile.mp3"},
      {"/etc/r.mp3", "/etc/r.mp3"},
      {"res/tmp/r.mp3", "res/tmp/r.mp3"},
  };
  for (const auto& [page, tool] : names) {
    ASSERT_TRUE(m_host.StartNormalize(page)) << page;
    AwaitFinal(*m_host.Jobs(), jobs::JobKind::kNormalize, {0, 10, 30, 80});
    EXPECT_EQ(FakeCalls(m_m.res).back().back(), tool) << page;
  }
  const size_t calls = FakeCalls(m_m.res).size();

  const std::string nul = std::string(1, '\0');
  EXPECT_FALSE(m_host.StartNormalize(tmp + "r.mp3" + nul + "/../../x"));
  EXPECT_FALSE(m_host.StartTranscode(m_song + nul + "x", tmp + "r.mp3", "", "", "", ""));
  EXPECT_FALSE(m_host.StartTranscode(m_song, tmp + "r.mp3" + nul, "", "", "", ""));
  EXPECT_FALSE(m_host.StartAnalysis(m_song, tmp + nul + "p.wav"));
  EXPECT_FALSE(m_host.StartUpload(tmp + "r.mp3" + nul, "session"));
  EXPECT_FALSE(m_host.StartGrab("0", "1", tmp + "t.wav" + nul));
  EXPECT_EQ(FakeCalls(m_m.res).size(), calls);
}

}  // namespace
}  // namespace zb
