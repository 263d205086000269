// The message box a file-manager module offers to the handlers it hosts, for
// a host whose toolkit a handler cannot drive by itself (Dolphin: Qt). The
// module exports it as a C function under this name; a handler finds it among
// the libraries loaded in the process (their own dlopen handles, so a module
// loaded with RTLD_LOCAL still offers it) and falls back to the process's GTK
// when no library has it.
#pragma once

namespace zb::host {

// Shows `text` (UTF-8) in a box titled `caption` with the buttons of the MB_
// style `type` (MB_OK, MB_OKCANCEL; MB_ICONERROR adds the error icon), owned
// by no window; runs the toolkit's nested loop until the user answers and
// returns the button's id (IDOK 1, IDCANCEL 2). Call it on the host's main
// thread.
using HostMessageBoxFn = int (*)(const char* text, const char* caption, unsigned type);

inline constexpr char kHostMessageBoxSymbol[] = "zimbrel_host_message_box";

// The handler's side: the service of a loaded library, or null when none
// offers one. Looks at the loaded libraries each time (the box is rare).
HostMessageBoxFn FindHostMessageBox();

}  // namespace zb::host
