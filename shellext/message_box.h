// A message box on GTK 4: the text, the caption as the title, the buttons of
// the MB_ style. It runs a nested main loop until the user answers and
// returns the button's id (IDOK ...).
//
// GTK 4 is not linked: the box uses the GTK 4 of the host process (the file
// manager) or loads it when the process has none. In a process that has
// GTK 3, or where no display can be opened, the text goes to standard error
// instead and the answer is IDOK.
#pragma once

#include "shellext/shell_extension.h"

namespace zb {

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ICONERROR = 0x10;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type);

}  // namespace zb
