// The texts the pages get where an operation failed. Inside the program a
// failure travels as a reason (platform/outcome.h); it becomes the words the
// pages know, byte for byte, only here, as a member hands its result over.
#pragma once

#include <string>

// The results as the core's operations answer them.
#include "core/core_host.h"

namespace zb {

// ZBL_GetDrivesInfo / ZBL_GetTracksInfo: the listing, or "ERROR: ...".
std::string PageText(const CdListing& listing);
std::string PageText(CdFailure failure);

// ZBL_xhResponse: the answer's text, or "ERROR:XMLHTTP:...".
std::string PageText(const jobs::HttpResponse& response);

}  // namespace zb
