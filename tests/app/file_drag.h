// Drags a file onto a point of the screen as a user does from a file
// manager: a small window offers the file (drop_source), and xdotool presses
// the mouse on it, moves to the point and lets go.
#pragma once

#include <string>

namespace zb::testing {

// Drags `uri` (a file URL) onto the screen point (x, y); false when the
// source window did not come up.
bool DragFileOnto(const std::string& uri, int x, int y);

}  // namespace zb::testing
