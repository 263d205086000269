// Transcoding through ffmpeg (<module dir>/res/ffmpeg) on a job thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
//
// With a part, ffmpeg reads only the part and fades it in and out:
//   res/ffmpeg -nostdin -ss <start s> -t <length s> -i <input> -vn
//              [-af afade=t=in:st=0:d=<in s>,afade=t=out:st=<s>:d=<out s>]
//              -ab 64k -ar 44100 -ac 2 -y <output>
// An output that holds no sound (ffmpeg exits with 0 and reports "Output
// file is empty": a part that starts at or past the song's end, an input
// without audio) is removed and fails the job with 2.
struct TranscodePart {
  int64_t startMs = 0;
  int64_t lengthMs = 0;  // > 0
  int64_t fadeInMs = 0;  // each fade at most the length
  int64_t fadeOutMs = 0;
};

// The longest start, length or fade a page may ask for: 24 hours.
constexpr int64_t kMaxPartMs = 24LL * 60 * 60 * 1000;

// Reads a part as a page gives it: start and length in milliseconds, then the
// fade-in and the fade-out, each as text ("" when not given; numbers as
// script writes them, fractions rounded). No start and no length: the whole
// song (*part empty). The fade-in defaults to none, the fade-out to the
// fade-in; a fade longer than the part is cut to the part's length. False
// (and *part untouched) for a start without a length or the other way round,
// a fade without a part, text that is no number, a negative value, a value
// over kMaxPartMs, or a length of 0.
bool ReadTranscodePart(const std::string& startMs, const std::string& lengthMs,
                       const std::string& fadeInMs, const std::string& fadeOutMs,
                       std::optional<TranscodePart>* part);

// The arguments ffmpeg gets (after its path) for `input`, `output` and an
// optional part; the paths as ffmpeg must read them.
std::vector<std::string> TranscodeArguments(const std::string& input, const std::string& output,
                                            const std::optional<TranscodePart>& part);

bool StartTranscode(const std::shared_ptr<jobs::JobState>& state, const std::string& moduleDir,
                    const std::string& input, const std::string& output,
                    const std::string& workDir = {},
                    const std::optional<TranscodePart>& part = std::nullopt);

}  // namespace zb::media
