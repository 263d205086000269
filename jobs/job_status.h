// The status values of every job kind, as the status properties give them to
// page script. Each is named once, in the list below: the jobs write them,
// and the pages read them by name from res/status.js, which the build
// generates from the list (jobs/status_js.cpp).
//
// Every kind starts at 0 ("running") and ends at one final value.
#pragma once

#include <cstdint>
#include <string_view>

namespace zb::jobs::status {

// Every kind's status when its job starts.
constexpr int32_t kRunning = 0;

// Each status value once: X(kind, name, value). The list makes the constant
// k<kind><name> below and the pages' name ZB.status.<kind>.<NAME> in
// res/status.js (the kind in lower case, the name in upper case with an
// underscore between its words; jobs/status_js.cpp), kinds and values in
// this order.
//
// ZBL_xhStatus: the scripted HTTP request; Done: the response text (or its
//   error text) is ready.
// ZBL_tsStatus: the transcode; CannotWrite: the work folder is missing or
//   read-only.
// ZBL_upStatus: the upload; Refused: the service refused the file before
//   taking it, as it has no room for it (413, 507).
// ZBL_ripStatus: the CD grab; each failure has its own value.
// ZBL_anStatus: the song analysis (waveform, length, loudness, preview);
//   Failed also when cancelled; CannotWrite as for the transcode.
// ZBL_norStatus: the normalisation's three mp3gain steps: removing stored
//   gain information, adjusting the track gain, raising the gain. While a
//   step runs the status is its mark; a failed (or cancelled) step ends the
//   job with its failure value.
//
// The upload, the grab and the song analysis give the percentage done (1 to
// 99) on the way (the analysis when the song's length is known).
#define ZB_JOB_STATUSES(X)        \
  X(Http, Running, kRunning)      \
  X(Http, Done, 1)                \
  X(Transcode, Running, kRunning) \
  X(Transcode, Done, 1)           \
  X(Transcode, Failed, 2)         \
  X(Transcode, CannotWrite, 3)    \
  X(Upload, Done, 100)            \
  X(Upload, Failed, 101)          \
  X(Upload, Refused, 102)         \
  X(Grab, Done, 100)              \
  X(Grab, BadDrive, 201)          \
  X(Grab, NoHandle, 202)          \
  X(Grab, NoDisc, 203)            \
  X(Grab, BadTrack, 204)          \
  X(Grab, OneTrackDisc, 205)      \
  X(Grab, DataTrack, 206)         \
  X(Grab, NoMemory, 207)          \
  X(Grab, CannotWrite, 208)       \
  X(Grab, ReadFailed, 209)        \
  X(Grab, Cancelled, 210)         \
  X(Analysis, Running, kRunning)  \
  X(Analysis, Done, 100)          \
  X(Analysis, Failed, 101)        \
  X(Analysis, CannotWrite, 102)   \
  X(Normalize, Started, kRunning) \
  X(Normalize, Removing, 10)      \
  X(Normalize, Adjusting, 30)     \
  X(Normalize, Raising, 80)       \
  X(Normalize, Done, 100)         \
  X(Normalize, RemoveFailed, 201) \
  X(Normalize, AdjustFailed, 202) \
  X(Normalize, RaiseFailed, 203)

#define ZB_JOB_STATUS_CONSTANT(kind, name, value) constexpr int32_t k##kind##name = value;
ZB_JOB_STATUSES(ZB_JOB_STATUS_CONSTANT)
#undef ZB_JOB_STATUS_CONSTANT

// The list as data, for res/status.js: the kind's and the value's names as
// written in the list.
struct NamedStatus {
  std::string_view kind;
  std::string_view name;
  int32_t value;
};
#define ZB_JOB_STATUS_ENTRY(kind, name, value) NamedStatus{#kind, #name, value},
inline constexpr NamedStatus kNamedStatuses[] = {ZB_JOB_STATUSES(ZB_JOB_STATUS_ENTRY)};
#undef ZB_JOB_STATUS_ENTRY

}  // namespace zb::jobs::status
