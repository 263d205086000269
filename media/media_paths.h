// Paths as the media jobs hand them to ffmpeg and judge them.
#pragma once

#include <string>

namespace zb::media {

// ffmpeg reads a leading "-" as an option and "word:" before any "/" as a
// protocol; such relative paths get the "file:" prefix.
std::string FfmpegPath(const std::string& p);

// True when both paths name one existing file (ffmpeg does not notice that
// its output is its input: it would truncate the song and still exit 0).
bool SameFile(const std::string& a, const std::string& b);

// The folder that holds `path` ("." for a bare name).
std::string ParentOf(const std::string& path);

// True when `path` names an entry of the folder `dir` (both resolved).
bool InFolder(const std::string& path, const std::string& dir);

}  // namespace zb::media
