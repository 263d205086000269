#include "media/normalize.h"

#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/job_status.h"
#include "media/tool_runner.h"

namespace zb::media {
namespace {

namespace st = jobs::status;

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

class Job {
 public:
  Job(jobs::JobTicket& t, const std::string& moduleDir, const std::string& file)
      : m_t(t), m_program(moduleDir + "/res/mp3gain"), m_path(Mp3gainPath(file)) {}

  void Run() {
    // Step 1: delete the gain information stored in the file.
    if (!Step(st::kNormalizeRemoving, st::kNormalizeRemoveFailed, {"/s", "d"})) return;
    // Step 2: apply the track gain, lowered as far as it must be so that the
    // file does not clip ("/k"; mp3gain then does not ask on standard input,
    // which would read as "no" and change nothing).
    if (!Step(st::kNormalizeAdjusting, st::kNormalizeAdjustFailed, {"/k", "/r"})) return;
    // Step 3: raise by up to four steps of 1.5 dB, as many as stay under
    // full scale. The analysis neither reads nor writes the file's tag.
    if (!Step(st::kNormalizeRaising, st::kNormalizeRaiseFailed, {"/s", "s", "/o", "/x"})) return;
    int steps = RaiseStepsThatFit(m_analysis);
    if (steps < 0) {  // no figure: raising could clip
      m_t.SetStatus(st::kNormalizeRaiseFailed);
      return;
    }
    if (steps > 0 &&
        !Step(st::kNormalizeRaising, st::kNormalizeRaiseFailed, {"/g", std::to_string(steps)}))
      return;
    m_t.SetStatus(st::kNormalizeDone);
  }

 private:
  // One mp3gain run while the status shows `running`; on failure or cancel
  // the status becomes `failed` and false is returned. A cancel seen before
  // a run counts as that run's step cancelled.
  bool Step(int32_t running, int32_t failed, std::vector<std::string> options) {
    if (m_started && m_t.Cancelled()) {
      m_t.SetStatus(failed);
      return false;
    }
    m_started = true;
    m_t.SetStatus(running);
    ToolRun run;
    run.program = m_program;
    run.args = std::move(options);
    run.args.push_back(m_path);
    run.cancelled = [this] { return m_t.Cancelled(); };
    run.kind = static_cast<int>(jobs::JobKind::kNormalize);
    run.generation = m_t.Generation();
    run.leftovers = Mp3gainLeftovers(m_path);
    m_analysis.clear();
    // The figures come last: keep the end of the output.
    run.output = [this](std::string_view piece) {
      m_analysis.append(piece);
      if (m_analysis.size() > 2 * kKeepOutput) m_analysis.erase(0, m_analysis.size() - kKeepOutput);
    };
    ToolResult result = RunTool(run);
    if (!result.Ok()) {  // includes a run stopped by a cancel
      NoticeToolFailure(run.program, result);
      m_t.SetStatus(failed);
      return false;
    }
    return true;
  }

  static constexpr size_t kKeepOutput = 64 * 1024;
  jobs::JobTicket& m_t;
  const std::string m_program;
  const std::string m_path;
  std::string m_analysis;  // the end of the output of the last run
  bool m_started = false;
};

}  // namespace

// The "Album" line of mp3gain's tab-separated analysis of one file:
//   "Album"<TAB>mp3 gain<TAB>dB gain<TAB>Max Amplitude<TAB>...
// With one file it repeats the file's own figures and, unlike the file's
// line, cannot be confused by a file name holding a tab or a line break.
double Mp3gainLargestSample(std::string_view out) {
  constexpr std::string_view kAlbum = "\"Album\"\t";
  double found = -1;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t end = out.find_first_of("\r\n", pos);  // progress lines end in "\r"
    if (end == std::string_view::npos) end = out.size();
    std::string_view line = out.substr(pos, end - pos);
    pos = end + 1;
    if (line.substr(0, kAlbum.size()) != kAlbum) continue;
    std::string_view field = line.substr(kAlbum.size());
    for (int skip = 0; skip < 2; ++skip) {
      size_t tab = field.find('\t');
      field = tab == std::string_view::npos ? std::string_view() : field.substr(tab + 1);
    }
    field = field.substr(0, field.find('\t'));
    // Whatever mark the tool's locale puts between the whole and the part.
    std::string number(field);
    for (char& c : number)
      if (c == ',') c = '.';
    double v = 0;
    auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), v);
    if (ec == std::errc() && ptr == number.data() + number.size() && v >= 0 && std::isfinite(v))
      found = v;
  }
  return found;
}

int RaiseStepsThatFit(std::string_view analysis) {
  double peak = Mp3gainLargestSample(analysis);
  if (peak < 0) return -1;
  int steps = 0;
  while (steps < kRaiseSteps && peak * std::exp2((steps + 1) / 4.0) <= kFullScale) ++steps;
  return steps;
}

bool StartNormalize(const std::shared_ptr<jobs::JobState>& state, const std::string& moduleDir,
                    const std::string& file) {
  return jobs::StartJob(state, jobs::JobKind::kNormalize, [moduleDir, file](jobs::JobTicket& t) {
    // One mp3gain at a time on a file: one that an earlier job left running
    // is ended first.
    EndEarlierChildren(static_cast<int>(jobs::JobKind::kNormalize), t.Generation());
    Job(t, moduleDir, file).Run();
  });
}

}  // namespace zb::media
