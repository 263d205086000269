// The program's commands: the entries of the pages' context menu and F1.
// The main window runs them (CZimbrelDlg::OnCommand).
#pragma once

namespace zb {

constexpr int kCommandGoToHomepage = 32771;
constexpr int kCommandFaqContact = 32772;
constexpr int kCommandAbout = 32773;
constexpr int kCommandCompatibility = 32775;
constexpr int kCommandUsage = 32776;
constexpr int kCommandHelp = 57670;

// The application's name, the caption of its message boxes.
inline const char* AppName() {
  return "Zimbrel";
}

}  // namespace zb
