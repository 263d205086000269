#include "bridge/method_table.h"

namespace zb {

const std::array<MemberInfo, kMemberCount> kMethodTable = {{
    {"ZBL_IsZBL", MemberKind::kBoth},
    {"ZBL_CloseWindow", MemberKind::kMethod},
    {"ZBL_ShowModalDialog", MemberKind::kMethod},
    {"ZBL_GetZBName", MemberKind::kMethod},
    {"ZBL_SetZBName", MemberKind::kMethod},
    {"ZBL_GetZBPhone", MemberKind::kMethod},
    {"ZBL_SetZBPhone", MemberKind::kMethod},
    {"ZBL_GetZBNetwork", MemberKind::kMethod},
    {"ZBL_SetZBNetwork", MemberKind::kMethod},
    {"ZBL_GetZBAid", MemberKind::kMethod},
    {"ZBL_SetZBAid", MemberKind::kMethod},
    {"ZBL_GetZBNVCheck", MemberKind::kMethod},
    {"ZBL_SetZBNVCheck", MemberKind::kMethod},
    {"ZBL_GetVersion", MemberKind::kMethod},
    {"ZBL_GetDialogArgument", MemberKind::kMethod},
    {"ZBL_SetDialogRetValue", MemberKind::kMethod},
    {"ZBL_ShowAboutBox", MemberKind::kMethod},
    {"ZBL_ShowContact", MemberKind::kMethod},
    {"ZBL_ShowCompatibility", MemberKind::kMethod},
    {"ZBL_ShowUsage", MemberKind::kMethod},
    {"ZBL_NavigateURL", MemberKind::kMethod},
    {"ZBL_MessageBox", MemberKind::kMethod},
    {"ZBL_MakeHttpRequest", MemberKind::kMethod},
    {"ZBL_xhStatus", MemberKind::kProperty},
    {"ZBL_xhResponse", MemberKind::kProperty},
    {"ZBL_TranscodeMedia", MemberKind::kMethod},
    {"ZBL_tsStatus", MemberKind::kProperty},
    {"ZBL_SelectMediaFile", MemberKind::kMethod},
    {"ZBL_UploadFile", MemberKind::kMethod},
    {"ZBL_upStatus", MemberKind::kProperty},
    {"ZBL_GrabAudioDataFromCD", MemberKind::kMethod},
    {"ZBL_ripStatus", MemberKind::kProperty},
    {"ZBL_clFileName", MemberKind::kProperty},
    {"ZBL_GetDrivesInfo", MemberKind::kMethod},
    {"ZBL_GetTracksInfo", MemberKind::kMethod},
    {"ZBL_BreakAsyncOperation", MemberKind::kMethod},
    {"ZBL_NormalizeAudio", MemberKind::kMethod},
    {"ZBL_norStatus", MemberKind::kProperty},
}};

DISPID LookupMember(std::string_view name) {
  for (int i = 0; i < kMemberCount; ++i)
    if (kMethodTable[i].name == name) return i + 1;
  return DISPID_UNKNOWN;
}

}  // namespace zb
