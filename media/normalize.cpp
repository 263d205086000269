#include "media/normalize.h"

#include <sys/stat.h>

#include <iterator>

#include "jobs/job_status.h"
#include "media/tool_runner.h"

namespace zb::media {
namespace {

struct Step {
  const char* option;
  const char* value;
  int32_t running;
  int32_t failed;
};

// "/k" lets the track gain be applied lowered to what does not clip, instead
// of asking on standard input (which reads as "no" and changes nothing).
namespace st = jobs::status;
constexpr Step kSteps[] = {
    // delete stored gain information
    {"/s", "d", st::kNormalizeRemovingGain, st::kNormalizeRemoveGainFailed},
    // apply track gain
    {"/k", "/r", st::kNormalizeApplyingTrackGain, st::kNormalizeTrackGainFailed},
    // raise by 4 steps of 1.5 dB
    {"/g", "4", st::kNormalizeRaisingGain, st::kNormalizeRaiseGainFailed},
};

// mp3gain takes any two-character argument that starts with "/" or "-" for an
// option and has no end-of-options marker: give such paths another spelling.
std::string Mp3gainPath(const std::string& p) {
  if (!p.empty() && p[0] == '-') return "./" + p;
  if (p.size() == 2 && p[0] == '/') return "/." + p;
  return p;
}

// mp3gain writes the changed file to the path with its last three
// characters replaced by "TMP" ("song.mp3" -> "song.TMP") and renames it over
// the file; a run ended half way leaves it behind. None when that would be
// the file itself.
std::vector<std::string> Mp3gainLeftovers(const std::string& path) {
  if (path.size() < 3) return {};
  std::string tmp = path.substr(0, path.size() - 3) + "TMP";
  struct stat a, b;
  if (tmp == path || (::stat(tmp.c_str(), &a) == 0 && ::stat(path.c_str(), &b) == 0 &&
                      a.st_dev == b.st_dev && a.st_ino == b.st_ino))
    return {};
  return {tmp};
}

void RunNormalize(jobs::JobTicket& t, const std::string& moduleDir, const std::string& file) {
  // One mp3gain at a time on a file: one that an earlier job left running is
  // ended first.
  EndEarlierChildren(static_cast<int>(jobs::JobKind::kNormalize), t.generation());
  const std::string path = Mp3gainPath(file);
  for (size_t i = 0; i < std::size(kSteps); ++i) {
    const Step& s = kSteps[i];
    // A cancel seen after a run ends the job before the next run: that step
    // counts as the one cancelled.
    if (i > 0 && t.Cancelled()) {
      t.SetStatus(s.failed);
      return;
    }
    t.SetStatus(s.running);
    ToolRun run;
    run.program = moduleDir + "/res/mp3gain";
    run.args = {s.option, s.value, path};
    run.cancelled = [&t] { return t.Cancelled(); };
    run.kind = static_cast<int>(jobs::JobKind::kNormalize);
    run.generation = t.generation();
    run.leftovers = Mp3gainLeftovers(path);
    if (!RunTool(run).Succeeded()) {  // includes a run stopped by a cancel
      t.SetStatus(s.failed);
      return;
    }
  }
  t.SetStatus(st::kNormalizeDone);
}

}  // namespace

bool StartNormalize(const std::shared_ptr<jobs::JobState>& state, const std::string& moduleDir,
                    const std::string& file) {
  return jobs::StartJob(state, jobs::JobKind::kNormalize, [moduleDir, file](jobs::JobTicket& t) {
    RunNormalize(t, moduleDir, file);
  });
}

}  // namespace zb::media
