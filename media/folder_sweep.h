// Sweeping the work folder (res/tmp): the transcode job deletes the MP3s in
// it before ffmpeg starts and the WAVs after it has ended.
#pragma once

#include <string>
#include <string_view>

namespace zb::media {

// Deletes every entry of the folder `folder` whose name ends in `extension`
// (compared without regard to case: "A.MP3" goes with ".mp3"). The folder
// itself is never followed when it is a symbolic link (nothing is deleted
// then), and each entry is deleted relative to the folder once opened, so a
// folder swapped for a link while the sweep runs is not followed either.
// An entry that is a link goes as a link; folders and entries that cannot be
// deleted stay; a missing folder is no error.
void SweepFolder(const std::string& folder, std::string_view extension);

}  // namespace zb::media
