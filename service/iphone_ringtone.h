// The iPhone's form of a ringtone: AAC in an MPEG-4 file (.m4r), at most
// 40 s long, made with ffmpeg.
#pragma once

#include <string>

namespace zb::service {

// Longest ringtone an iPhone takes, in seconds; a longer one is cut to it
// and fades out over its last two seconds.
constexpr double kIphoneRingtoneSeconds = 40.0;

// The length of the audio file at `path` in seconds (ffprobe), or a
// negative number when it cannot be read.
double AudioSeconds(const std::string& path);

// Makes `m4r` from the audio file `source` (ffmpeg and ffprobe from PATH,
// each run as a child with an argument list, no shell). False, and a
// sentence in `error`, when it could not.
bool MakeIphoneRingtone(const std::string& source, const std::string& m4r, std::string* error);

}  // namespace zb::service
