// What the program tells standard error: one line, "zimbrel: <text>", for a
// user who started it from a terminal or reads the session's journal. The
// program's own failures inside are carried as results (platform/outcome.h);
// this is only for what nobody else will tell the user.
#pragma once

#include <string>
#include <string_view>

namespace zb {

// "zimbrel: <text>\n".
std::string NoticeLine(std::string_view text);
// Writes NoticeLine(text) to standard error in one write, so lines from
// several threads or processes never interleave.
void Notice(std::string_view text);

}  // namespace zb
