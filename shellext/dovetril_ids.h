// Identifiers and fixed texts of the Dovetril component.
#pragma once

#include "platform/automation.h"
#include "platform/translation.h"

namespace zb::dovetril {

// {5905D5DE-79B4-4149-AE02-9847C2A328ED}
inline constexpr CLSID CLSID_DovetrilShl = {
    0x5905D5DE, 0x79B4, 0x4149, {0xAE, 0x02, 0x98, 0x47, 0xC2, 0xA3, 0x28, 0xED}};
// {5905D5DD-79B4-4149-AE02-9847C2A328ED}
inline constexpr IID IID_IDovetrilShl = {
    0x5905D5DD, 0x79B4, 0x4149, {0xAE, 0x02, 0x98, 0x47, 0xC2, 0xA3, 0x28, 0xED}};
// {5905D5D1-79B4-4149-AE02-9847C2A328ED}
inline constexpr GUID LIBID_DOVETRILLib = {
    0x5905D5D1, 0x79B4, 0x4149, {0xAE, 0x02, 0x98, 0x47, 0xC2, 0xA3, 0x28, 0xED}};

inline constexpr char kProgId[] = "Dovetril.DovetrilShl.1";
inline constexpr char kVersionIndependentProgId[] = "Dovetril.DovetrilShl";
inline constexpr char kClassDescription[] = "DovetrilShl Class";
inline constexpr char kApprovalData[] = "DovetrilShl extension";
inline constexpr char kApprovalKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
inline constexpr char kHandlerName[] = "DovetrilShl";

// The texts a person reads, in English; the component shows them through
// Text() (translated in the "zimbrel" domain).
inline constexpr char kMenuText[] = N_("Send to Phone as Ringtone");
inline constexpr char kHelpText[] =
    N_("Use Zimbrel to personalize and send this song to your mobile phone as ringtone");
inline constexpr char kProgramFile[] = "zimbrel";
inline constexpr char kLaunchErrorText[] =
    N_("An error occured while trying to launch Zimbrel!           \n"
       "If this problem persists, please re-install the application.\n\n"
       "Click OK to continue.");
inline constexpr char kLaunchErrorCaption[] = N_("Fatal Error");

inline constexpr UINT kMenuBitmapId = 201;

}  // namespace zb::dovetril
