// The program's commands: the entries of the pages' context menu and F1.
// The main window runs them (CZimbrelDlg::OnCommand).
#pragma once

namespace zb {

constexpr int ID_GOTO_HOMEPAGE = 32771;
constexpr int ID_FAQ_CONTACT = 32772;
constexpr int ID_APP_ABOUT = 32773;
constexpr int ID_COMPATIBILITY = 32775;
constexpr int ID_USAGE = 32776;
constexpr int ID_HELP = 57670;

// The application's name, the caption of its message boxes.
inline const char* AppName() {
  return "Zimbrel";
}

}  // namespace zb
