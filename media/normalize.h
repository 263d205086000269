// Normalisation through mp3gain (<module dir>/res/mp3gain) on a job thread.
#pragma once

#include <memory>
#include <string>

#include "jobs/job_state.h"

namespace zb::media {

// ZBL_NormalizeAudio: starts the normalise job; false when no thread started.
// Three mp3gain runs on the file, in place: "/s d" (status 10 while it runs,
// 201 if it fails), "/k /r" (30, 202), "/g 4" (80, 203); 100 when all three
// exited with 0. A cancel stops the job after the run in progress (the run's
// drain stops at once; mp3gain runs on and is reaped when it ends) and
// publishes the failure code of the step cancelled: the step whose run was
// stopped, or the next step when the cancel came between two runs. After the
// last run has ended, the job publishes 100 whatever the flag says. An
// mp3gain left running is ended when the next normalisation starts, or when
// the program ends; one ended half way leaves no <name>.TMP behind.
bool StartNormalize(const std::shared_ptr<jobs::JobState>& state, const std::string& moduleDir,
                    const std::string& file);

}  // namespace zb::media
