// The jobs as the pages start them through the main window's operations:
// work files the pages name in <module dir>/res/tmp go to the user's work
// folder, and the transcode's sweeps clear that folder, never res/tmp.
#include <gtest/gtest.h>
#include <unistd.h>

#include "jobs/job_status.h"
#include "page_host.h"
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
  PageHost m_host{m_m.Path()};

  void SetUp() override {
    ::mkdir(m_work.c_str(), 0700);
    WriteFile(m_song, "RIFF");
    m_host.setWorkFolder(WorkFolder(m_m.Path(), m_work));
  }
  void TearDown() override { EXPECT_TRUE(AllSettled()); }
  int32_t Transcode(const std::string& output) {
    EXPECT_TRUE(m_host.StartTranscode(m_song, output, "", "", "", ""));
    return AwaitFinal(*m_host.jobs(), jobs::JobKind::kTranscode);
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
  AwaitFinal(*m_host.jobs(), jobs::JobKind::kNormalize, {0, 10, 30, 80});
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
  m_host.setWorkFolder(WorkFolder(m_m.Path(), m_other / "file/work"));
  EXPECT_EQ(Transcode(m_m.Path() + "/res/tmp/r.mp3"), jobs::status::kTranscodeCannotWrite);
  EXPECT_FALSE(Exists(m_m.res + "/calls.log"));
  EXPECT_FALSE(Exists(m_m.tmp + "/r.mp3"));
  // An output elsewhere is ffmpeg's to judge: a failure is the song's.
  m_m.FakeTool("ffmpeg", "exit 1");
  EXPECT_EQ(Transcode(m_other / "r.mp3"), jobs::status::kTranscodeFailed);
}

}  // namespace
}  // namespace zb
