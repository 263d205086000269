#include "bridge/method_table.h"

#include "core/core_host.h"

namespace zb {

namespace {
constexpr MemberKind kM = MemberKind::kMethod;
constexpr MemberKind kP = MemberKind::kProperty;
constexpr MemberKind kMorP = MemberKind::kEither;
constexpr ArgType kStr = ArgType::kString;
constexpr ArgType kInt = ArgType::kInteger;
constexpr ResultType kNone = ResultType::kNone;
constexpr ResultType kBool = ResultType::kBool;
constexpr ResultType kVtInt = ResultType::kInteger;
constexpr ResultType kBstr = ResultType::kString;
using H = CoreHost;
}  // namespace

// clang-format off
// Each entry: the member's name, its kind, its arguments in script order, its
// result, the core's operation, and (above it) what the member is for.
const std::array<Member, kMemberCount> kMethodTable = {{
    // ZBL_IsZBL: whether the page runs inside the program
    {"ZBL_IsZBL",              kMorP, {},             kBool,  Operation<&H::IsProgramHost>()},
    // ZBL_CloseWindow: closes the innermost window (the program, when that is the main one)
    {"ZBL_CloseWindow",        kM,    {},             kNone,  Operation<&H::CloseActiveWindow>()},
    // ZBL_ShowModalDialog: a page in a modal dialog (title, page, argument, left, top,
    // width, height); gives the value the dialog hands back
    {"ZBL_ShowModalDialog",    kM,    {kStr, kStr, kStr, kInt, kInt, kInt, kInt},
                                                      kBstr,  Operation<&H::ShowPageDialog>()},
    // ZBL_GetZBName: the user's name
    {"ZBL_GetZBName",          kM,    {},             kBstr,  Operation<&H::GetUserName>()},
    // ZBL_SetZBName: stores the user's name
    {"ZBL_SetZBName",          kM,    {kStr},         kNone,  Operation<&H::SetUserName>()},
    // ZBL_GetZBPhone: the phone number ringtones go to
    {"ZBL_GetZBPhone",         kM,    {},             kBstr,  Operation<&H::GetPhoneNumber>()},
    // ZBL_SetZBPhone: stores the phone number
    {"ZBL_SetZBPhone",         kM,    {kStr},         kNone,  Operation<&H::SetPhoneNumber>()},
    // ZBL_GetZBNetwork: the phone's network
    {"ZBL_GetZBNetwork",       kM,    {},             kBstr,  Operation<&H::GetPhoneNetwork>()},
    // ZBL_SetZBNetwork: stores the phone's network
    {"ZBL_SetZBNetwork",       kM,    {kStr},         kNone,  Operation<&H::SetPhoneNetwork>()},
    // ZBL_GetZBAid: the affiliate id ("2", stored, when empty)
    {"ZBL_GetZBAid",           kM,    {},             kBstr,  Operation<&H::GetAffiliateId>()},
    // ZBL_SetZBAid: stores the affiliate id
    {"ZBL_SetZBAid",           kM,    {kStr},         kNone,  Operation<&H::SetAffiliateId>()},
    // ZBL_GetZBNVCheck: "1" once a ringtone reached the number ("0", stored, when empty)
    {"ZBL_GetZBNVCheck",       kM,    {},             kBstr,  Operation<&H::GetNumberDelivered>()},
    // ZBL_SetZBNVCheck: stores whether a ringtone reached the number
    {"ZBL_SetZBNVCheck",       kM,    {kStr},         kNone,  Operation<&H::SetNumberDelivered>()},
    // ZBL_GetVersion: the program's version code
    {"ZBL_GetVersion",         kM,    {},             kBstr,  Operation<&H::GetVersionCode>()},
    // ZBL_GetDialogArgument: the argument the page's dialog was opened with
    {"ZBL_GetDialogArgument",  kM,    {},             kBstr,  Operation<&H::GetDialogArgument>()},
    // ZBL_SetDialogRetValue: the value the page's dialog gives back
    {"ZBL_SetDialogRetValue",  kM,    {kStr},         kNone,  Operation<&H::SetDialogResult>()},
    // ZBL_ShowAboutBox: the About page in a dialog
    {"ZBL_ShowAboutBox",       kM,    {},             kNone,  Operation<&H::ShowAboutBox>()},
    // ZBL_ShowContact: the FAQ and contact page in a dialog
    {"ZBL_ShowContact",        kM,    {},             kNone,  Operation<&H::ShowContact>()},
    // ZBL_ShowCompatibility: the phone compatibility page in a dialog
    {"ZBL_ShowCompatibility",  kM,    {},             kNone,  Operation<&H::ShowCompatibility>()},
    // ZBL_ShowUsage: the how-to page in a dialog
    {"ZBL_ShowUsage",          kM,    {},             kNone,  Operation<&H::ShowUsage>()},
    // ZBL_NavigateURL: the service's page for a place name, in the default browser
    {"ZBL_NavigateURL",        kM,    {kStr},         kNone,  Operation<&H::OpenRedirect>()},
    // ZBL_MessageBox: a message box of a type: the button chosen
    {"ZBL_MessageBox",         kM,    {kStr, kInt},   kVtInt, Operation<&H::MessageBox>()},
    // ZBL_MakeHttpRequest: starts a GET of a service address
    {"ZBL_MakeHttpRequest",    kM,    {kStr},         kBool,  Operation<&H::StartHttpRequest>()},
    // ZBL_xhStatus: where that request is
    {"ZBL_xhStatus",           kP,    {},             kVtInt, Operation<&H::HttpRequestStatus>()},
    // ZBL_xhResponse: its answer, or its failure text
    {"ZBL_xhResponse",         kP,    {},             kBstr,  Operation<&H::HttpResponse>()},
    // ZBL_TranscodeMedia: starts turning a song, or the part of it from a start for a
    // length with fades in and out (milliseconds, may be left out), into the ringtone MP3
    {"ZBL_TranscodeMedia",     kM,    {kStr, kStr, kStr, kStr, kStr, kStr},
                                                      kBool,  Operation<&H::StartTranscode>(), 2},
    // ZBL_tsStatus: where that transcode is
    {"ZBL_tsStatus",           kP,    {},             kVtInt, Operation<&H::TranscodeStatus>()},
    // ZBL_SelectMediaFile: the song the user chooses, or ""
    {"ZBL_SelectMediaFile",    kM,    {},             kBstr,  Operation<&H::SelectMediaFile>()},
    // ZBL_UploadFile: starts sending the ringtone (path, session id)
    {"ZBL_UploadFile",         kM,    {kStr, kStr},   kBool,  Operation<&H::StartUpload>()},
    // ZBL_upStatus: where that upload is
    {"ZBL_upStatus",           kP,    {},             kVtInt, Operation<&H::UploadStatus>()},
    // ZBL_GrabAudioDataFromCD: starts copying a CD track to WAV (drive, track, output)
    {"ZBL_GrabAudioDataFromCD", kM,    {kStr, kStr, kStr}, kBool,  Operation<&H::StartGrab>()},
    // ZBL_ripStatus: where that copy is
    {"ZBL_ripStatus",          kP,    {},             kVtInt, Operation<&H::GrabStatus>()},
    // ZBL_clFileName: the song named on the command line, once
    {"ZBL_clFileName",         kP,    {},             kBstr,  Operation<&H::TakeCommandLineFile>()},
    // ZBL_GetDrivesInfo: the CD drives, as a listing text
    {"ZBL_GetDrivesInfo",      kM,    {},             kBstr,  Operation<&H::ListCdDrives>()},
    // ZBL_GetTracksInfo: the tracks of the disc in a drive, as a listing text
    {"ZBL_GetTracksInfo",      kM,    {kInt},         kBstr,  Operation<&H::ListCdTracks>()},
    // ZBL_BreakAsyncOperation: asks the running job to stop
    {"ZBL_BreakAsyncOperation", kM,    {},             kBool,  Operation<&H::CancelJob>()},
    // ZBL_NormalizeAudio: starts evening out the ringtone's loudness
    {"ZBL_NormalizeAudio",     kM,    {kStr},         kBool,  Operation<&H::StartNormalize>()},
    // ZBL_norStatus: where that normalisation is
    {"ZBL_norStatus",          kP,    {},             kVtInt, Operation<&H::NormalizeStatus>()},
    // ZBL_AnalyzeMedia: starts reading a song's length, waveform and loudest parts, and
    // writing a preview of it to play (song, preview WAV); the page draws the part from it
    {"ZBL_AnalyzeMedia",       kM,    {kStr, kStr},   kBool,  Operation<&H::StartAnalysis>()},
    // ZBL_anStatus: where that analysis is (a percentage on the way)
    {"ZBL_anStatus",           kP,    {},             kVtInt, Operation<&H::AnalysisStatus>()},
    // ZBL_anResult: the analysis, as JSON: length, peaks, RMS per second, loudest starts
    {"ZBL_anResult",           kP,    {},             kBstr,  Operation<&H::AnalysisResult>()},
}};
// clang-format on

DISPID LookupMember(std::string_view name) {
  for (int i = 0; i < kMemberCount; ++i)
    if (kMethodTable[i].name == name) return i + 1;
  return DISPID_UNKNOWN;
}

}  // namespace zb
