// The status values of every job kind, as the status properties give them to
// page script. Defined here once: the jobs write them, and the pages read
// them by name from res/status.js, which the build generates from this list
// (jobs/status_js.cpp).
//
// Every kind starts at 0 ("running") and ends at one final value; the upload,
// the grab and the song analysis give the percentage done (1 to 99) on the way.
#pragma once

#include <cstdint>
#include <string_view>

namespace zb::jobs::status {

constexpr int32_t kRunning = 0;

// ZBL_xhStatus: the scripted HTTP request.
constexpr int32_t kHttpDone = 1;  // the response text (or its error text) is ready

// ZBL_tsStatus: the transcode.
constexpr int32_t kTranscodeDone = 1;
constexpr int32_t kTranscodeFailed = 2;
constexpr int32_t kTranscodeCannotWrite = 3;  // the work folder is missing or read-only

// ZBL_upStatus: the upload.
constexpr int32_t kUploadDone = 100;
constexpr int32_t kUploadFailed = 101;
// The service refused the file before taking it: no room for it (413, 507).
constexpr int32_t kUploadRefused = 102;

// ZBL_ripStatus: the CD grab; each failure has its own value.
constexpr int32_t kGrabDone = 100;
constexpr int32_t kGrabBadDrive = 201;
constexpr int32_t kGrabNoHandle = 202;
constexpr int32_t kGrabNoDisc = 203;
constexpr int32_t kGrabBadTrack = 204;
constexpr int32_t kGrabOneTrackDisc = 205;
constexpr int32_t kGrabDataTrack = 206;
constexpr int32_t kGrabNoMemory = 207;
constexpr int32_t kGrabCannotWrite = 208;
constexpr int32_t kGrabReadFailed = 209;
constexpr int32_t kGrabCancelled = 210;

// ZBL_norStatus: the normalisation's three mp3gain steps. While a step runs
// the status is its mark; a failed (or cancelled) step ends the job with its
// failure value.
constexpr int32_t kNormalizeRemovingGain = 10;  // removing stored gain information
constexpr int32_t kNormalizeApplyingTrackGain = 30;
constexpr int32_t kNormalizeRaisingGain = 80;
constexpr int32_t kNormalizeDone = 100;
constexpr int32_t kNormalizeRemoveGainFailed = 201;
constexpr int32_t kNormalizeTrackGainFailed = 202;
constexpr int32_t kNormalizeRaiseGainFailed = 203;

// ZBL_anStatus: the song analysis (waveform, length, loudness, preview); the
// percentage read (1 to 99) on the way when the song's length is known.
constexpr int32_t kAnalysisDone = 100;
constexpr int32_t kAnalysisFailed = 101;       // also when cancelled
constexpr int32_t kAnalysisCannotWrite = 102;  // the work folder is missing or read-only

// The names the pages use for the values above: res/status.js holds one
// frozen object per job kind (ZB.status.<kind>.<NAME>), in this order.
struct PageName {
  std::string_view kind;
  std::string_view name;
  int32_t value;
};
inline constexpr PageName kPageNames[] = {
    {"http", "RUNNING", kRunning},
    {"http", "DONE", kHttpDone},
    {"transcode", "RUNNING", kRunning},
    {"transcode", "DONE", kTranscodeDone},
    {"transcode", "FAILED", kTranscodeFailed},
    {"transcode", "CANNOT_WRITE", kTranscodeCannotWrite},
    {"upload", "DONE", kUploadDone},
    {"upload", "FAILED", kUploadFailed},
    {"upload", "REFUSED", kUploadRefused},
    {"grab", "DONE", kGrabDone},
    {"grab", "BAD_DRIVE", kGrabBadDrive},
    {"grab", "NO_HANDLE", kGrabNoHandle},
    {"grab", "NO_DISC", kGrabNoDisc},
    {"grab", "BAD_TRACK", kGrabBadTrack},
    {"grab", "ONE_TRACK_DISC", kGrabOneTrackDisc},
    {"grab", "DATA_TRACK", kGrabDataTrack},
    {"grab", "NO_MEMORY", kGrabNoMemory},
    {"grab", "CANNOT_WRITE", kGrabCannotWrite},
    {"grab", "READ_FAILED", kGrabReadFailed},
    {"grab", "CANCELLED", kGrabCancelled},
    {"analysis", "RUNNING", kRunning},
    {"analysis", "DONE", kAnalysisDone},
    {"analysis", "FAILED", kAnalysisFailed},
    {"analysis", "CANNOT_WRITE", kAnalysisCannotWrite},
    {"normalize", "STARTED", kRunning},
    {"normalize", "REMOVING", kNormalizeRemovingGain},
    {"normalize", "ADJUSTING", kNormalizeApplyingTrackGain},
    {"normalize", "RAISING", kNormalizeRaisingGain},
    {"normalize", "DONE", kNormalizeDone},
    {"normalize", "REMOVE_FAILED", kNormalizeRemoveGainFailed},
    {"normalize", "ADJUST_FAILED", kNormalizeTrackGainFailed},
    {"normalize", "RAISE_FAILED", kNormalizeRaiseGainFailed},
};

}  // namespace zb::jobs::status
