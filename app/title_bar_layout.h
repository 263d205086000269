// The title-bar buttons of the program's windows, from the desktop's own
// button layout (GTK's "gtk-decoration-layout": "left:right", comma-separated
// names). The desktop's order and sides are kept; maximise never shows (the
// windows are not resizable); the main window always has minimise and close,
// a page dialog only close.
#pragma once

#include <string>

namespace zb {

enum class TitleBarKind { kMainWindow, kPageDialog };

// `desktop` is the desktop's layout; the result is a layout for GtkHeaderBar.
// Minimise, when the desktop's layout lacks it, goes just before close; close,
// when it lacks that too, goes at the end of the right side.
std::string TitleBarLayout(const std::string& desktop, TitleBarKind kind);

}  // namespace zb
