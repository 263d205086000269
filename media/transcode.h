// Transcoding through ffmpeg (<module dir>/res/ffmpeg) on a job thread.
#pragma once

#include <memory>
#include <string>

#include "jobs/job_state.h"

namespace zb::media {

// ZBL_TranscodeMedia: starts the transcode job; false when no thread started.
// The job deletes every *.mp3 in the work folder `workDir` (by default
// <module dir>/res/tmp), runs
//   res/ffmpeg -nostdin -i <input> -vn -ab 64k -ar 44100 -ac 2 -y <output>
// with the ffmpeg process id recorded in the state while it runs, deletes
// every *.wav in the work folder, and then publishes 1 (exit code 0), 3 (the
// output lies in the work folder, which is missing or cannot be written:
// ffmpeg is not run) or 2 (anything else: no start, a non-zero exit, a
// signal, a cancel, an exit code 0 after ffmpeg reported that the end of its
// output could not be written ("Error writing trailer...", "Error closing
// file..." at the start of a line), or an output that is the input file,
// which is refused before ffmpeg starts).
// A cancel ends the job at once with 2; ffmpeg then runs on, unrecorded, and
// is reaped when it ends, or ended when the next transcode starts (before
// its sweep) or the program ends. An ffmpeg ended half way leaves no output
// behind in the work folder.
bool StartTranscode(const std::shared_ptr<jobs::JobState>& state, const std::string& moduleDir,
                    const std::string& input, const std::string& output,
                    const std::string& workDir = {});

}  // namespace zb::media
