// Message boxes chosen by MB_ style bits (buttons, icon, default button),
// answering with the button ids 1 OK, 2 Cancel, 3 Abort, 4 Retry, 5 Ignore,
// 6 Yes, 7 No.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <string>

namespace zb {

constexpr uint32_t MB_OK = 0x0, MB_OKCANCEL = 0x1, MB_ABORTRETRYIGNORE = 0x2, MB_YESNOCANCEL = 0x3,
                   MB_YESNO = 0x4, MB_RETRYCANCEL = 0x5, MB_CANCELTRYCONTINUE = 0x6;
constexpr uint32_t MB_ICONHAND = 0x10, MB_ICONQUESTION = 0x20, MB_ICONEXCLAMATION = 0x30,
                   MB_ICONASTERISK = 0x40;
constexpr uint32_t MB_DEFBUTTON2 = 0x100, MB_DEFBUTTON3 = 0x200;
constexpr int IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7,
              IDTRYAGAIN = 10, IDCONTINUE = 11;

class ModalRuns;

// Shows a modal box owned by `owner`, as a run among `runs`, and returns the
// id of the button chosen; Esc or the title bar give Cancel when there is
// one, OK for a lone OK button, and are refused otherwise. 0 when the box
// cannot be shown, and at once once the runs are ending.
int ShowMessageBox(ModalRuns& runs, GtkWindow* owner, const std::string& text,
                   const std::string& caption, uint32_t type);

}  // namespace zb
