#include "bridge/method_table.h"

#include "bridge/core_host.h"

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
const std::array<Member, kMemberCount> kMethodTable = {{
//  member                     kind  arguments (script order)      result operation
    {"ZBL_IsZBL",               MorP, {},                           Bool,  Operation<&H::IsZBL>()},
    {"ZBL_CloseWindow",         M,    {},                           None,  Operation<&H::CloseActiveWindow>()},
    {"ZBL_ShowModalDialog",     M,    {Str, Str, Str, Int, Int, Int, Int},
                                                                    Bstr,  Operation<&H::ShowPageDialog>()},
    {"ZBL_GetZBName",           M,    {},                           Bstr,  Operation<&H::GetZBName>()},
    {"ZBL_SetZBName",           M,    {Str},                        None,  Operation<&H::SetZBName>()},
    {"ZBL_GetZBPhone",          M,    {},                           Bstr,  Operation<&H::GetZBPhone>()},
    {"ZBL_SetZBPhone",          M,    {Str},                        None,  Operation<&H::SetZBPhone>()},
    {"ZBL_GetZBNetwork",        M,    {},                           Bstr,  Operation<&H::GetZBNetwork>()},
    {"ZBL_SetZBNetwork",        M,    {Str},                        None,  Operation<&H::SetZBNetwork>()},
    {"ZBL_GetZBAid",            M,    {},                           Bstr,  Operation<&H::GetZBAid>()},
    {"ZBL_SetZBAid",            M,    {Str},                        None,  Operation<&H::SetZBAid>()},
    {"ZBL_GetZBNVCheck",        M,    {},                           Bstr,  Operation<&H::GetZBNVCheck>()},
    {"ZBL_SetZBNVCheck",        M,    {Str},                        None,  Operation<&H::SetZBNVCheck>()},
    {"ZBL_GetVersion",          M,    {},                           Bstr,  Operation<&H::GetVersion>()},
    {"ZBL_GetDialogArgument",   M,    {},                           Bstr,  Operation<&H::GetDialogArgument>()},
    {"ZBL_SetDialogRetValue",   M,    {Str},                        None,  Operation<&H::SetDialogRetValue>()},
    {"ZBL_ShowAboutBox",        M,    {},                           None,  Operation<&H::ShowAboutBox>()},
    {"ZBL_ShowContact",         M,    {},                           None,  Operation<&H::ShowContact>()},
    {"ZBL_ShowCompatibility",   M,    {},                           None,  Operation<&H::ShowCompatibility>()},
    {"ZBL_ShowUsage",           M,    {},                           None,  Operation<&H::ShowUsage>()},
    {"ZBL_NavigateURL",         M,    {Str},                        None,  Operation<&H::OpenRedirect>()},
    {"ZBL_MessageBox",          M,    {Str, Int},                   VtInt, Operation<&H::MessageBox>()},
    {"ZBL_MakeHttpRequest",     M,    {Str},                        Bool,  Operation<&H::MakeHttpRequest>()},
    {"ZBL_xhStatus",            P,    {},                           VtInt, Operation<&H::xhStatus>()},
    {"ZBL_xhResponse",          P,    {},                           Bstr,  Operation<&H::xhResponse>()},
    {"ZBL_TranscodeMedia",      M,    {Str, Str},                   Bool,  Operation<&H::TranscodeMedia>()},
    {"ZBL_tsStatus",            P,    {},                           VtInt, Operation<&H::tsStatus>()},
    {"ZBL_SelectMediaFile",     M,    {},                           Bstr,  Operation<&H::SelectMediaFile>()},
    {"ZBL_UploadFile",          M,    {Str, Str},                   Bool,  Operation<&H::UploadFile>()},
    {"ZBL_upStatus",            P,    {},                           VtInt, Operation<&H::upStatus>()},
    {"ZBL_GrabAudioDataFromCD", M,    {Str, Str, Str},              Bool,  Operation<&H::GrabAudioDataFromCD>()},
    {"ZBL_ripStatus",           P,    {},                           VtInt, Operation<&H::ripStatus>()},
    {"ZBL_clFileName",          P,    {},                           Bstr,  Operation<&H::clFileName>()},
    {"ZBL_GetDrivesInfo",       M,    {},                           Bstr,  Operation<&H::GetDrivesInfo>()},
    {"ZBL_GetTracksInfo",       M,    {Int},                        Bstr,  Operation<&H::GetTracksInfo>()},
    {"ZBL_BreakAsyncOperation", M,    {},                           Bool,  Operation<&H::BreakAsyncOperation>()},
    {"ZBL_NormalizeAudio",      M,    {Str},                        Bool,  Operation<&H::NormalizeAudio>()},
    {"ZBL_norStatus",           P,    {},                           VtInt, Operation<&H::norStatus>()},
}};
// clang-format on

DISPID LookupMember(std::string_view name) {
  for (int i = 0; i < kMemberCount; ++i)
    if (kMethodTable[i].name == name) return i + 1;
  return DISPID_UNKNOWN;
}

}  // namespace zb
