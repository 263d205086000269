// Normalisation through mp3gain (<module dir>/res/mp3gain) on a job thread.
#pragma once

#include <memory>
#include <string>

#include "media/job_state.h"

namespace zb::media {

// ZBL_NormalizeAudio: starts the normalise job; false when no thread started.
bool StartNormalize(const std::shared_ptr<JobState>& state, const std::string& moduleDir,
                    const std::string& file);

}  // namespace zb::media
