#include "bridge/page_texts.h"

namespace zb {

std::string PageText(const media::CdListing& listing) {
  return listing ? listing.Value() : PageText(listing.Reason());
}

std::string PageText(media::CdFailure failure) {
  switch (failure) {
    case media::CdFailure::kNoDrives:
      return "ERROR: No drives found";
    case media::CdFailure::kInvalidDrive:
      return "ERROR: Invalid Drive ID";
    case media::CdFailure::kNoHandle:
      return "ERROR: Could not get handle to CD";
    case media::CdFailure::kNotAudio:
      return "ERROR: Not an audio CD";
    case media::CdFailure::kNoDisc:
      break;
  }
  return "ERROR: No CD inserted";
}

std::string PageText(const jobs::HttpResponse& response) {
  if (response) return response.Value();
  switch (response.Reason()) {
    case jobs::HttpFailure::kNoHandle:
      return "ERROR:XMLHTTP:CoCreateInstance";
    case jobs::HttpFailure::kBadUrl:
      return "ERROR:XMLHTTP:Open";
    case jobs::HttpFailure::kNotSent:
      break;
  }
  return "ERROR:XMLHTTP:Send";
}

}  // namespace zb
