// A message box on the host's toolkit: the text, the caption as the title, the
// buttons of the MB_ style. It runs a nested main loop until the user answers
// and returns the button's id (IDOK ...).
//
// No toolkit is linked. A host module that offers its own box (Dolphin's,
// on Qt: host_message_box.h) is used first; otherwise the box uses the GTK
// of the host process, GTK 3 (Caja, Nemo, Thunar) or GTK 4 (Nautilus),
// looked up at run time, and loads GTK 4 when the process has neither. Where
// no display can be opened the text goes to standard error instead and the
// answer is IDOK.
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
