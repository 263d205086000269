// The ringtone upload to the service, on libcurl, on a job thread.
#pragma once

#include <memory>
#include <string>

#include "jobs/job_state.h"

namespace zb::net {

// ZBL_UploadFile: starts the upload job; false when no thread started.
bool StartUpload(const std::shared_ptr<jobs::JobState>& state, const std::string& file,
                 const std::string& sessionId);

}  // namespace zb::net
