// The drive list and the track list that page script reads before a grab.
// Nothing is kept between calls: each asks the access layer afresh and closes
// the handle it opened on every path.
#include <climits>
#include <cstring>
#include <string>

#include "media/cd_access.h"
#include "media/cd_jobs.h"

namespace zb::media {

CdListing GetDrivesInfo(CdAccess& cd) {
  CDDriveList list{};
  cd.GetCDList(&list);
  int count = CdDriveCount(list);
  if (count < 1) return Fail(CdFailure::kNoDrives);
  std::string out;
  for (int i = 0; i < count; ++i) {
    const char* name = list.entries[i].productName;
    out.append(name, strnlen(name, sizeof(list.entries[i].productName)));
    if (i != count - 1) out += ":::";
  }
  return out;
}

CdListing GetTracksInfo(CdAccess& cd, int drive) {
  CDDriveList list{};
  cd.GetCDList(&list);
  if (drive < 0 || drive >= CdDriveCount(list)) return Fail(CdFailure::kInvalidDrive);

  CDHandleRequest request = CdRequestFor(list.entries[drive]);
  CDHandle h = cd.GetCDHandle(&request);
  if (!h) return Fail(CdFailure::kNoHandle);
  CdHandleCloser closer(cd, h);

  cd.ModifyCDParms(h, kCdParmLbaAddressing, 0);
  CDContents toc{};
  if (cd.ReadTOC(h, &toc) != 1 || !CdTocFits(toc)) return Fail(CdFailure::kNoDisc);
  if (toc.firstTrack == toc.lastTrack) return Fail(CdFailure::kNotAudio);

  // One item per track of the disc, whatever number it begins with. An
  // audio track with no blocks to read (its table runs past the lead-out)
  // is shown as a track that cannot be grabbed.
  std::string out;
  const int count = CdTrackCount(toc);
  for (int i = 0; i < count; ++i) {
    CdSpan span = CdTrackSpan(toc, i);
    if ((toc.tracks[i].adrControl & kCdControlData) || span.blocks == 0 ||
        span.blocks > uint32_t{INT32_MAX}) {
      out += "DATA";
    } else {
      out += std::to_string(span.blocks);
    }
    if (i != count - 1) out += ":::";
  }
  return out;
}

}  // namespace zb::media
