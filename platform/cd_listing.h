// What a listing of the CD drives, or of the tracks of the disc in one of
// them, gives: the listing text, or why there is none. Made by the CD access
// (media/cd_jobs.h), handed on by the core, worded for the pages by the
// bridge (bridge/page_texts.h).
#pragma once

#include <string>

#include "platform/outcome.h"

namespace zb {

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

}  // namespace zb
