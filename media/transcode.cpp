#include "media/transcode.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/job_status.h"
#include "media/folder_sweep.h"
#include "media/tool_runner.h"

namespace zb::media {
namespace {

// ffmpeg reads a leading "-" as an option and "word:" before any "/" as a
// protocol; such relative paths get the "file:" prefix.
std::string FfmpegPath(const std::string& p) {
  if (p.empty() || p[0] == '/') return p;
  size_t colon = p.find(':');
  bool protocolLike = colon != std::string::npos && p.find('/') > colon;
  if (p[0] == '-' || protocolLike) return "file:" + p;
  return p;
}

// ffmpeg does not notice that its output is its input: it would truncate
// the song and still exit 0.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The folder that holds `path` ("." for a bare name).
std::string ParentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string parent(path, 0, slash == std::string::npos ? 0 : std::max<size_t>(slash, 1));
  return parent.empty() ? "." : parent;
}

// True when `path` names an entry of the folder `dir` (both resolved).
bool InFolder(const std::string& path, const std::string& dir) {
  char a[PATH_MAX], b[PATH_MAX];
  return realpath(ParentOf(path).c_str(), a) && realpath(dir.c_str(), b) && strcmp(a, b) == 0;
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
        line_.clear();
      } else if (line_.size() < kKeep) {
        line_ += c;
      }
    }
  }
  bool failed() {
    Judge();  // a last line without an end
    return failed_;
  }

 private:
  static constexpr size_t kKeep = 64;  // only the start of a line matters
  void Judge() {
    for (std::string_view m : {"Error writing trailer", "Error closing file"})
      if (std::string_view(line_).substr(0, m.size()) == m) failed_ = true;
  }
  std::string line_;
  bool failed_ = false;
};

void RunTranscode(jobs::JobTicket& t, const std::string& moduleDir, const std::string& tmp,
                  const std::string& input, const std::string& output) {
  t.SetStatus(jobs::status::kRunning);
  // Two encoders never run at once: a transcoder that an earlier job left
  // running (cancelled, or replaced by this start) is ended first.
  EndEarlierChildren(static_cast<int>(jobs::JobKind::kTranscode), t.generation());
  SweepFolder(tmp, ".mp3");

  int32_t status = jobs::status::kTranscodeFailed;
  if (ParentOf(output) == tmp && ::access(tmp.c_str(), W_OK | X_OK) != 0) {
    // A work folder that cannot be made or written: the page tells the user
    // so, rather than blame the song.
    status = jobs::status::kTranscodeCannotWrite;
  } else if (!SameFile(input, output)) {
    ToolRun run;
    run.program = moduleDir + "/res/ffmpeg";
    run.args = {"-nostdin", "-i", FfmpegPath(input), "-vn", "-ab", "64k", "-ar", "44100", "-ac",
                "2",        "-y", FfmpegPath(output)};
    run.cancelled = [&t] { return t.Cancelled(); };
    run.started = [&t](pid_t pid) { t.SetProcessId(static_cast<uint32_t>(pid)); };
    run.ending = [&t](pid_t pid) { t.ClearProcessId(static_cast<uint32_t>(pid)); };
    run.kind = static_cast<int>(jobs::JobKind::kTranscode);
    run.generation = t.generation();
    // A transcoder ended half way leaves no ringtone behind in the work folder.
    if (InFolder(output, tmp)) run.leftovers = {output};
    OutputWriteFailureWatch watch;
    run.output = [&watch](std::string_view piece) { watch(piece); };
    // After a cancel the child runs on and is reaped when it ends; the job
    // fails at once.
    if (RunTool(run).ok() && !watch.failed()) status = jobs::status::kTranscodeDone;
  }

  SweepFolder(tmp, ".wav");
  t.SetStatus(status);
}

}  // namespace

bool StartTranscode(const std::shared_ptr<jobs::JobState>& state, const std::string& moduleDir,
                    const std::string& input, const std::string& output,
                    const std::string& workDir) {
  std::string tmp = workDir.empty() ? moduleDir + "/res/tmp" : workDir;
  return jobs::StartJob(state, jobs::JobKind::kTranscode,
                        [moduleDir, tmp, input, output](jobs::JobTicket& t) {
                          RunTranscode(t, moduleDir, tmp, input, output);
                        });
}

}  // namespace zb::media
