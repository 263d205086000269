#pragma once

#include <string>

namespace zb {

// The directory of the running program (/proc/self/exe cut before its last
// '/'), without a trailing separator.
std::string ModuleDirectory();
// The directory of the shared object that holds `address` (for libraries).
std::string ModuleDirectoryOf(const void* address);
// The resolved path of the shared object that holds `address`.
std::string ModulePathOf(const void* address);

}  // namespace zb
