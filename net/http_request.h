// Scripted HTTP GET requests on libcurl, on a job thread.
#pragma once

#include <memory>
#include <string>

#include "jobs/job_state.h"

namespace zb::net {

// ZBL_MakeHttpRequest: starts the request job; false when no thread started.
// A URL that begins with "/" is resolved against http://<service host>/ and,
// for a service on a Unix socket, sent on that socket (redirects are then
// not followed); other URLs go where they say.
bool StartHttpRequest(const std::shared_ptr<jobs::JobState>& state, const std::string& url);

}  // namespace zb::net
