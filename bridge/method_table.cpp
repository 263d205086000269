#include "bridge/method_table.h"

#include "core/core_host.h"

namespace zb {

namespace {
constexpr MemberKind M = MemberKind::kMethod;
constexpr MemberKind P = MemberKind::kProperty;
constexpr MemberKind MorP = MemberKind::kEither;
constexpr ArgType Str = ArgType::kString;
constexpr ArgType Int = ArgType::kInteger;
constexpr ResultType None = ResultType::kNone;
constexpr ResultType Bool = ResultType::kBool;
constexpr ResultType VtInt = ResultType::kInteger;
constexpr ResultType Bstr = ResultType::kString;
using H = CoreHost;
}  // namespace

// clang-format off
// Each entry: the member's name, its kind, its arguments in script order, its
// result, the core's operation, and (above it) what the member is for.
const std::array<Member, kMemberCount> kMethodTable = {{
    // ZBL_IsZBL: whether the page runs inside the program
    {"ZBL_IsZBL",               MorP, {},              Bool,  Operation<&H::IsProgramHost>()},
    // ZBL_CloseWindow: closes the innermost window (the program, when that is the main one)
    {"ZBL_CloseWindow",         M,    {},              None,  Operation<&H::CloseActiveWindow>()},
    // ZBL_ShowModalDialog: a page in a modal dialog (title, page, argument, left, top,
    // width, height); gives the value the dialog hands back
    {"ZBL_ShowModalDialog",     M,    {Str, Str, Str, Int, Int, Int, Int},
                                                       Bstr,  Operation<&H::ShowPageDialog>()},
    // ZBL_GetZBName: the user's name
    {"ZBL_GetZBName",           M,    {},              Bstr,  Operation<&H::GetUserName>()},
    // ZBL_SetZBName: stores the user's name
    {"ZBL_SetZBName",           M,    {Str},           None,  Operation<&H::SetUserName>()},
    // ZBL_GetZBPhone: the phone number ringtones go to
    {"ZBL_GetZBPhone",          M,    {},              Bstr,  Operation<&H::GetPhoneNumber>()},
    // ZBL_SetZBPhone: stores the phone number
    {"ZBL_SetZBPhone",          M,    {Str},           None,  Operation<&H::SetPhoneNumber>()},
    // ZBL_GetZBNetwork: the phone's network
    {"ZBL_GetZBNetwork",        M,    {},              Bstr,  Operation<&H::GetPhoneNetwork>()},
    // ZBL_SetZBNetwork: stores the phone's network
    {"ZBL_SetZBNetwork",        M,    {Str},           None,  Operation<&H::SetPhoneNetwork>()},
    // ZBL_GetZBAid: the affiliate id ("2", stored, when empty)
    {"ZBL_GetZBAid",            M,    {},              Bstr,  Operation<&H::GetAffiliateId>()},
    // ZBL_SetZBAid: stores the affiliate id
    {"ZBL_SetZBAid",            M,    {Str},           None,  Operation<&H::SetAffiliateId>()},
    // ZBL_GetZBNVCheck: "1" once a ringtone reached the number ("0", stored, when empty)
    {"ZBL_GetZBNVCheck",        M,    {},              Bstr,  Operation<&H::GetNumberDelivered>()},
    // ZBL_SetZBNVCheck: stores whether a ringtone reached the number
    {"ZBL_SetZBNVCheck",        M,    {Str},           None,  Operation<&H::SetNumberDelivered>()},
    // ZBL_GetVersion: the program's version code
    {"ZBL_GetVersion",          M,    {},              Bstr,  Operation<&H::GetVersionCode>()},
    // ZBL_GetDialogArgument: the argument the page's dialog was opened with
    {"ZBL_GetDialogArgument",   M,    {},              Bstr,  Operation<&H::GetDialogArgument>()},
    // ZBL_SetDialogRetValue: the value the page's dialog gives back
    {"ZBL_SetDialogRetValue",   M,    {Str},           None,  Operation<&H::SetDialogResult>()},
    // ZBL_ShowAboutBox: the About page in a dialog
    {"ZBL_ShowAboutBox",        M,    {},              None,  Operation<&H::ShowAboutBox>()},
    // ZBL_ShowContact: the FAQ and contact page in a dialog
    {"ZBL_ShowContact",         M,    {},              None,  Operation<&H::ShowContact>()},
    // ZBL_ShowCompatibility: the phone compatibility page in a dialog
    {"ZBL_ShowCompatibility",   M,    {},              None,  Operation<&H::ShowCompatibility>()},
    // ZBL_ShowUsage: the how-to page in a dialog
    {"ZBL_ShowUsage",           M,    {},              None,  Operation<&H::ShowUsage>()},
    // ZBL_NavigateURL: the service's page for a place name, in the default browser
    {"ZBL_NavigateURL",         M,    {Str},           None,  Operation<&H::OpenRedirect>()},
    // ZBL_MessageBox: a message box of a type: the button chosen
    {"ZBL_MessageBox",          M,    {Str, Int},      VtInt, Operation<&H::MessageBox>()},
    // ZBL_MakeHttpRequest: starts a GET of a service address
    {"ZBL_MakeHttpRequest",     M,    {Str},           Bool,  Operation<&H::StartHttpRequest>()},
    // ZBL_xhStatus: where that request is
    {"ZBL_xhStatus",            P,    {},              VtInt, Operation<&H::HttpRequestStatus>()},
    // ZBL_xhResponse: its answer, or its failure text
    {"ZBL_xhResponse",          P,    {},              Bstr,  Operation<&H::HttpResponse>()},
    // ZBL_TranscodeMedia: starts turning a song, or the part of it from a start for a
    // length with fades in and out (milliseconds, may be left out), into the ringtone MP3
    {"ZBL_TranscodeMedia",      M,    {Str, Str, Str, Str, Str, Str},
                                                       Bool,  Operation<&H::StartTranscode>(), 2},
    // ZBL_tsStatus: where that transcode is
    {"ZBL_tsStatus",            P,    {},              VtInt, Operation<&H::TranscodeStatus>()},
    // ZBL_SelectMediaFile: the song the user chooses, or ""
    {"ZBL_SelectMediaFile",     M,    {},              Bstr,  Operation<&H::SelectMediaFile>()},
    // ZBL_UploadFile: starts sending the ringtone (path, session id)
    {"ZBL_UploadFile",          M,    {Str, Str},      Bool,  Operation<&H::StartUpload>()},
    // ZBL_upStatus: where that upload is
    {"ZBL_upStatus",            P,    {},              VtInt, Operation<&H::UploadStatus>()},
    // ZBL_GrabAudioDataFromCD: starts copying a CD track to WAV (drive, track, output)
    {"ZBL_GrabAudioDataFromCD", M,    {Str, Str, Str}, Bool,  Operation<&H::StartGrab>()},
    // ZBL_ripStatus: where that copy is
    {"ZBL_ripStatus",           P,    {},              VtInt, Operation<&H::GrabStatus>()},
    // ZBL_clFileName: the song named on the command line, once
    {"ZBL_clFileName",          P,    {},              Bstr,  Operation<&H::TakeCommandLineFile>()},
    // ZBL_GetDrivesInfo: the CD drives, as a listing text
    {"ZBL_GetDrivesInfo",       M,    {},              Bstr,  Operation<&H::ListCdDrives>()},
    // ZBL_GetTracksInfo: the tracks of the disc in a drive, as a listing text
    {"ZBL_GetTracksInfo",       M,    {Int},           Bstr,  Operation<&H::ListCdTracks>()},
    // ZBL_BreakAsyncOperation: asks the running job to stop
    {"ZBL_BreakAsyncOperation", M,    {},              Bool,  Operation<&H::CancelJob>()},
    // ZBL_NormalizeAudio: starts evening out the ringtone's loudness
    {"ZBL_NormalizeAudio",      M,    {Str},           Bool,  Operation<&H::StartNormalize>()},
    // ZBL_norStatus: where that normalisation is
    {"ZBL_norStatus",           P,    {},              VtInt, Operation<&H::NormalizeStatus>()},
    // ZBL_AnalyzeMedia: starts reading a song's length, waveform and loudest parts, and
    // writing a preview of it to play (song, preview WAV); the page draws the part from it
    {"ZBL_AnalyzeMedia",        M,    {Str, Str},      Bool,  Operation<&H::StartAnalysis>()},
    // ZBL_anStatus: where that analysis is (a percentage on the way)
    {"ZBL_anStatus",            P,    {},              VtInt, Operation<&H::AnalysisStatus>()},
    // ZBL_anResult: the analysis, as JSON: length, peaks, RMS per second, loudest starts
    {"ZBL_anResult",            P,    {},              Bstr,  Operation<&H::AnalysisResult>()},
}};
// clang-format on

DISPID LookupMember(std::string_view name) {
  for (int i = 0; i < kMemberCount; ++i)
    if (kMethodTable[i].name == name) return i + 1;
  return DISPID_UNKNOWN;
}

}  // namespace zb
