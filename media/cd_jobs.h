// CD listing and grabbing as the scripting members see them.
#pragma once

#include <memory>
#include <string>

#include "jobs/job_state.h"
#include "platform/outcome.h"

namespace zb::media {

class CdAccess;  // the CD access layer (cd_access.h)

// The layer on libcdio: real drives, then the images in $ZIMBREL_CD_IMAGES.
std::shared_ptr<CdAccess> MakeDefaultCdAccess();

// Why a listing could not be made (no detail).
enum class CdFailure {
  kNoDrives,      // no drive and no image
  kInvalidDrive,  // the number names no drive
  kNoHandle,      // the drive could not be opened
  kNoDisc,        // no table of contents could be read: no disc, or a wrong one
  kNotAudio,      // a disc of one track: not an audio CD
};
// The drive names, or each track's length in blocks ("DATA" for a track that
// cannot be grabbed), joined by ":::".
using CdListing = Outcome<CdFailure, std::string>;

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
