#include "bridge/page_texts.h"

namespace zb {

std::string PageText(const CdListing& listing) {
  return listing ? listing.Value() : PageText(listing.Reason());
}

std::string PageText(CdFailure failure) {
  switch (failure) {
    case CdFailure::kNoDrives:
      return "ERROR: No drives found";
    case CdFailure::kInvalidDrive:
      return "ERROR: Invalid Drive ID";
    case CdFailure::kNoHandle:
      return "ERROR: Could not get handle to CD";
    case CdFailure::kNotAudio:
      return "ERROR: Not an audio CD";
    case CdFailure::kNoDisc:
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
