// CD listing and grabbing as the scripting members see them.
#pragma once

#include <memory>
#include <string>

#include "jobs/job_state.h"
#include "platform/cd_listing.h"

namespace zb::media {

class CdAccess;  // the CD access layer (cd_access.h)

// The layer on libcdio: real drives, then the images in $ZIMBREL_CD_IMAGES.
std::shared_ptr<CdAccess> MakeDefaultCdAccess();

// The listing's result type is the platform's (platform/cd_listing.h), so
// that the core can hand it on without showing media types.
using zb::CdFailure;
using zb::CdListing;

// ZBL_GetDrivesInfo / ZBL_GetTracksInfo.
CdListing GetDrivesInfo(CdAccess& cd);
CdListing GetTracksInfo(CdAccess& cd, int drive);

// ZBL_GrabAudioDataFromCD: starts the grab job on `cd` (never null); false
// when no thread started.
// The grab job reads its drive and track texts with ReadDecimal
// (platform/decimal_text.h).
bool StartGrab(const std::shared_ptr<jobs::JobState>& state, std::shared_ptr<CdAccess> cd,
               const std::string& drive, const std::string& track, const std::string& output);

}  // namespace zb::media
