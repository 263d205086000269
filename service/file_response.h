// A file as an HTTP answer, streamed a chunk at a time (never held whole).
#pragma once

#include <httplib.h>

#include <string>

namespace zb::service {

// Answers with the regular file at `path` as `mime`; false (and nothing set)
// when there is no such file. `downloadName`, when given, asks the browser
// to save it under that name.
bool ServeFile(httplib::Response& res, const std::string& path, const char* mime,
               const std::string& downloadName = "");

}  // namespace zb::service
