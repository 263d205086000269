// Starting a program that runs on by itself: the caller does not wait for it
// and never becomes its parent (an intermediate child starts it and exits at
// once, so nothing is left to reap). The program gets the caller's
// environment and current directory, standard input, output and error, and
// no other descriptor.
#pragma once

#include <string>
#include <vector>

namespace zb {

// argv[0] is the program's path (not searched in PATH). Returns 0 once the
// program has been executed, otherwise the errno of the step that failed
// (ENOENT, EACCES, ENOEXEC ... from exec; EAGAIN ... from fork; EINVAL for an
// empty argv or a zero byte in an argument).
int StartDetachedProcess(const std::vector<std::string>& argv);

}  // namespace zb
