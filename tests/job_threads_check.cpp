// Linked into every test binary whose tests start jobs (label "jobs"): a job
// thread still running when the tests end is a test that did not wait for
// its job. It would race the process's exit (and the sanitizers report it),
// so the tests' end waits for it and fails with a clear reason instead.
#include <gtest/gtest.h>

#include "jobs/job_state.h"

namespace {

class JobThreadsEnd : public ::testing::Environment {
 public:
  void TearDown() override {
    if (zb::jobs::RunningJobThreads() == 0) return;
    const bool ended = zb::jobs::WaitForJobThreadsForTesting(30000);
    ADD_FAILURE() << "a job thread outlived the test that started it"
                  << (ended ? " (it ended within 30 s)" : " and was still running after 30 s");
  }
};

const auto* const kRegistered = ::testing::AddGlobalTestEnvironment(new JobThreadsEnd);

}  // namespace
