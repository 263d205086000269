// The user's own folders, as the XDG base directory rules name them.
#pragma once

#include <string>

namespace zb {

// The home folder: $HOME when it is an absolute path, else the password
// database's entry of the user (never a shared folder such as /tmp); "" when
// neither knows one.
std::string HomeDirectory();

// An XDG base folder: the variable's value when it is an absolute path, else
// <home>/<homeRelative> ("" when there is no home folder). For example
// XdgBaseDirectory("XDG_CACHE_HOME", ".cache").
std::string XdgBaseDirectory(const char* variable, const char* homeRelative);

}  // namespace zb
