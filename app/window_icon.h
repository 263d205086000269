// The icon of the program's windows: the phone pictogram of the desktop icon.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <string>

namespace zb {

// The icon from the program's folder `moduleDir` (res/images/zimbrel-48.png),
// or drawn when that cannot be read. The caller owns the one reference.
GdkPixbuf* NewWindowIcon(const std::string& moduleDir);

}  // namespace zb
