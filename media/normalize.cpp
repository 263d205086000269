#include "media/normalize.h"

#include <iterator>

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
constexpr Step kSteps[] = {
    {"/s", "d", 10, 201},   // delete stored gain information
    {"/k", "/r", 30, 202},  // apply track gain
    {"/g", "4", 80, 203},   // raise by 4 steps of 1.5 dB
};

// mp3gain takes any two-character argument that starts with "/" or "-" for an
// option and has no end-of-options marker: give such paths another spelling.
std::string Mp3gainPath(const std::string& p) {
  if (!p.empty() && p[0] == '-') return "./" + p;
  if (p.size() == 2 && p[0] == '/') return "/." + p;
  return p;
}

void RunNormalize(JobTicket& t, const std::string& moduleDir, const std::string& file) {
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
    if (!RunTool(run).Succeeded()) {  // includes a run stopped by a cancel
      t.SetStatus(s.failed);
      return;
    }
  }
  t.SetStatus(100);
}

}  // namespace

bool StartNormalize(const std::shared_ptr<JobState>& state, const std::string& moduleDir,
                    const std::string& file) {
  return StartJob(state, JobKind::kNormalize,
                  [moduleDir, file](JobTicket& t) { RunNormalize(t, moduleDir, file); });
}

}  // namespace zb::media
