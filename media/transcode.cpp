#include "media/transcode.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "media/folder_sweep.h"
#include "media/media_paths.h"
#include "media/tool_runner.h"

namespace zb::media {
namespace {

// Seconds for ffmpeg, to the millisecond: 12345 -> "12.345".
std::string Seconds(int64_t ms) {
  char buf[32];
  snprintf(buf, sizeof buf, "%lld.%03lld", static_cast<long long>(ms / 1000),
           static_cast<long long>(ms % 1000));
  return buf;
}

// A number of milliseconds as script writes it: "" is none (-1); false for
// anything but a finite number from 0 to kMaxPartMs.
bool ReadMs(const std::string& text, int64_t* ms) {
  if (text.empty()) {
    *ms = -1;
    return true;
  }
  double d = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(d)) return false;
  if (d < 0 || d > static_cast<double>(kMaxPartMs)) return false;
  *ms = std::llround(d);
  return true;
}

// ffmpeg 5.1 exits with 0 when only the last writes of its output fail (the
// final buffer, the trailer, the close: a disk that fills up near the end of
// the file), leaving a cut file; it reports each such failure on a line of
// its own. This looks for those lines in the output, whose lines end in "\n"
// or "\r" (the progress line).
class OutputWriteFailureWatch {
 public:
  void operator()(std::string_view piece) {
    for (char c : piece) {
      if (c == '\n' || c == '\r') {
        Judge();
        m_line.clear();
      } else if (m_line.size() < kKeep) {
        m_line += c;
      }
    }
  }
  bool Failed() {
    Judge();  // a last line without an end
    return m_failed;
  }
  // ffmpeg also exits with 0 when it wrote no sound at all (a start past the
  // song's end): it says so on a line of its own.
  bool Empty() {
    Judge();
    return m_empty;
  }

 private:
  static constexpr size_t kKeep = 64;  // only the start of a line matters
  static bool Starts(std::string_view line, std::string_view m) {
    return line.substr(0, m.size()) == m;
  }
  void Judge() {
    for (std::string_view m : {"Error writing trailer", "Error closing file"})
      if (Starts(m_line, m)) m_failed = true;
    if (Starts(m_line, "Output file is empty")) m_empty = true;
  }
  std::string m_line;
  bool m_failed = false;
  bool m_empty = false;
};

TranscodeEnd RunTranscode(jobs::JobTicket& t, const std::string& moduleDir, const std::string& tmp,
                          const std::string& input, const std::string& output,
                          const std::optional<TranscodePart>& part) {
  // Two encoders never run at once: a transcoder that an earlier job left
  // running (cancelled, or replaced by this start) is ended first.
  EndEarlierChildren(static_cast<int>(jobs::JobKind::kTranscode), t.Generation());
  SweepFolder(tmp, ".mp3");

  TranscodeEnd end = Fail(TranscodeFailure::kFailed);
  if (ParentOf(output) == tmp && ::access(tmp.c_str(), W_OK | X_OK) != 0) {
    // A work folder that cannot be made or written: the user is told so,
    // rather than blamed for the song.
    end = Fail(TranscodeFailure::kCannotWrite);
  } else if (!SameFile(input, output)) {
    ToolRun run;
    run.program = moduleDir + "/res/ffmpeg";
    run.args = TranscodeArguments(input, output, part);
    run.cancelled = [&t] { return t.Cancelled(); };
    run.started = [&t](pid_t pid) { t.SetProcessId(static_cast<uint32_t>(pid)); };
    // Whether the window took the child's id to end it (or the job is stale):
    // then its end is the program's doing, not the tool's failure.
    bool taken = false;
    run.ending = [&t, &taken](pid_t pid) { taken = !t.ClearProcessId(static_cast<uint32_t>(pid)); };
    run.kind = static_cast<int>(jobs::JobKind::kTranscode);
    run.generation = t.Generation();
    // A transcoder ended half way leaves no ringtone behind in the work folder.
    if (InFolder(output, tmp)) run.leftovers = {output};
    OutputWriteFailureWatch watch;
    run.output = [&watch](std::string_view piece) { watch(piece); };
    // After a cancel the child runs on and is reaped when it ends; the job
    // fails at once.
    ToolResult result = RunTool(run);
    if (!taken) NoticeToolFailure(run.program, result);
    if (result.Ok() && watch.Empty()) {
      // No sound: not a ringtone, and nothing to leave behind.
      ::unlink(output.c_str());
    } else if (result.Ok() && !watch.Failed()) {
      end = Done{};
    }
  }

  SweepFolder(tmp, ".wav");
  return end;
}

}  // namespace

bool ReadTranscodePart(const std::string& startMs, const std::string& lengthMs,
                       const std::string& fadeInMs, const std::string& fadeOutMs,
                       std::optional<TranscodePart>* part) {
  int64_t start, length, in, out;
  if (!ReadMs(startMs, &start) || !ReadMs(lengthMs, &length) || !ReadMs(fadeInMs, &in) ||
      !ReadMs(fadeOutMs, &out))
    return false;
  if (start < 0 && length < 0) {
    if (in >= 0 || out >= 0) return false;  // fades of no part
    part->reset();
    return true;
  }
  if (start < 0 || length <= 0) return false;
  TranscodePart p;
  p.startMs = start;
  p.lengthMs = length;
  p.fadeInMs = std::min(std::max<int64_t>(in, 0), length);
  p.fadeOutMs = std::min(out >= 0 ? out : p.fadeInMs, length);
  *part = p;
  return true;
}

std::vector<std::string> TranscodeArguments(const std::string& input, const std::string& output,
                                            const std::optional<TranscodePart>& part) {
  if (!part) {
    return {"-nostdin", "-i", FfmpegPath(input), "-vn", "-ab", "64k", "-ar", "44100", "-ac",
            "2",        "-y", FfmpegPath(output)};
  }
  // -ss and -t before -i: ffmpeg seeks in the input and stamps the part's
  // first sample 0, which the fades count from.
  std::vector<std::string> args = {
      "-nostdin",        "-ss", Seconds(part->startMs), "-t", Seconds(part->lengthMs), "-i",
      FfmpegPath(input), "-vn"};
  std::string fades;
  if (part->fadeInMs > 0) fades = "afade=t=in:st=0:d=" + Seconds(part->fadeInMs);
  if (part->fadeOutMs > 0) {
    if (!fades.empty()) fades += ",";
    fades += "afade=t=out:st=" + Seconds(part->lengthMs - part->fadeOutMs) +
             ":d=" + Seconds(part->fadeOutMs);
  }
  if (!fades.empty()) {
    args.push_back("-af");
    args.push_back(fades);
  }
  for (const char* a : {"-ab", "64k", "-ar", "44100", "-ac", "2", "-y"}) args.push_back(a);
  args.push_back(FfmpegPath(output));
  return args;
}

bool StartTranscode(const std::shared_ptr<jobs::JobState>& state, TranscodeStatusOf statusOf,
                    const std::string& moduleDir, const std::string& input,
                    const std::string& output, const std::string& workDir,
                    const std::optional<TranscodePart>& part) {
  std::string tmp = workDir.empty() ? moduleDir + "/res/tmp" : workDir;
  return jobs::StartJob(
      state, jobs::JobKind::kTranscode,
      [statusOf, moduleDir, tmp, input, output, part](jobs::JobTicket& t) {
        t.SetStatus(statusOf(RunTranscode(t, moduleDir, tmp, input, output, part)));
      });
}

}  // namespace zb::media
