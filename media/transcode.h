// Transcoding through ffmpeg (<module dir>/res/ffmpeg) on a job thread.
#pragma once

#include <memory>
#include <string>

#include "media/job_state.h"

namespace zb::media {

// ZBL_TranscodeMedia: starts the transcode job; false when no thread started.
bool StartTranscode(const std::shared_ptr<JobState>& state, const std::string& moduleDir,
                    const std::string& input, const std::string& output);

}  // namespace zb::media
