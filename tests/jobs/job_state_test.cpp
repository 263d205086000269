#include "jobs/job_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace zb::jobs {
namespace {

TEST(JobState, StartResetsFieldsClearsCancelAndRunsDetached) {
  auto state = std::make_shared<JobState>();
  state->Cancel();
  std::atomic<bool> release{false};
  ASSERT_TRUE(StartJob(state, JobKind::kUpload, [&](JobTicket& t) {
    while (!release.load()) std::this_thread::yield();
    t.SetStatus(100);
  }));
  EXPECT_FALSE(state->CancelRequested());         // a start clears a cancel
  EXPECT_EQ(state->Status(JobKind::kUpload), 0);  // 0 at once after a start
  release = true;
  ASSERT_TRUE(WaitForJobThreadsForTesting(5000));
  EXPECT_EQ(state->Status(JobKind::kUpload), 100);  // kept until the next start
}

TEST(JobState, StaleJobNeverOverwritesANewerOne) {
  auto state = std::make_shared<JobState>();
  std::atomic<bool> release{false};
  ASSERT_TRUE(StartJob(state, JobKind::kHttp, [&](JobTicket& t) {
    while (!release.load()) std::this_thread::yield();
    t.SetResponse("stale");
    t.SetStatus(1);
    EXPECT_FALSE(t.Current());
  }));
  ASSERT_TRUE(StartJob(state, JobKind::kHttp, [](JobTicket& t) {
    t.SetResponse("fresh");
    t.SetStatus(1);
  }));
  release = true;
  ASSERT_TRUE(WaitForJobThreadsForTesting(5000));
  EXPECT_EQ(state->Response().Value(), "fresh");
  EXPECT_EQ(state->Status(JobKind::kHttp), 1);
}

TEST(JobState, FailedThreadCreationReturnsFalseWithStatusZero) {
  auto state = std::make_shared<JobState>();
  ASSERT_TRUE(StartJob(state, JobKind::kGrab, [](JobTicket& t) { t.SetStatus(210); }));
  ASSERT_TRUE(WaitForJobThreadsForTesting(5000));
  FailThreadCreationForTesting(true);
  EXPECT_FALSE(StartJob(state, JobKind::kGrab, [](JobTicket& t) { t.SetStatus(100); }));
  FailThreadCreationForTesting(false);
  EXPECT_EQ(state->Status(JobKind::kGrab), 0);
}

TEST(JobState, JobOutlivesTheWindowThatStartedIt) {
  std::atomic<bool> release{false};
  {
    auto state = std::make_shared<JobState>();
    ASSERT_TRUE(StartJob(state, JobKind::kNormalize, [&](JobTicket& t) {
      while (!release.load()) std::this_thread::yield();
      t.SetStatus(100);  // the window's reference is gone by now
    }));
  }
  release = true;
  EXPECT_TRUE(WaitForJobThreadsForTesting(5000));
}

}  // namespace
}  // namespace zb::jobs
