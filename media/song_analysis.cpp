#include "media/song_analysis.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <thread>

#include "jobs/job_status.h"
#include "media/media_paths.h"
#include "media/tool_runner.h"

namespace zb::media {

namespace {
constexpr int kPeakSpan = SongAnalysis::kRate / SongAnalysis::kPeaksPerSecond;
}  // namespace

void SongAnalyzer::AddSample(int16_t s) {
  int mag = s < 0 ? -static_cast<int>(s) : s;
  m_peak = std::max(m_peak, mag);
  if (++m_peakCount == kPeakSpan) {
    m_a.peaks.push_back(static_cast<uint8_t>(std::min(255, (m_peak * 255 + 16384) / 32768)));
    m_peak = m_peakCount = 0;
  }
  double v = s / 32768.0;
  m_energy += v * v;
  if (++m_energyCount == SongAnalysis::kRate) {
    m_a.rms.push_back(std::sqrt(m_energy / m_energyCount));
    m_energy = 0;
    m_energyCount = 0;
  }
  ++m_samples;
}

void SongAnalyzer::AddBytes(const char* data, size_t size) {
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  size_t i = 0;
  if (m_haveLow && size > 0) {
    AddSample(static_cast<int16_t>(m_low | (p[0] << 8)));
    m_haveLow = false;
    i = 1;
  }
  for (; i + 1 < size; i += 2) AddSample(static_cast<int16_t>(p[i] | (p[i + 1] << 8)));
  if (i < size) {
    m_low = p[i];
    m_haveLow = true;
  }
}

SongAnalysis SongAnalyzer::Finish() {
  if (m_peakCount > 0)
    m_a.peaks.push_back(static_cast<uint8_t>(std::min(255, (m_peak * 255 + 16384) / 32768)));
  if (m_energyCount > 0) m_a.rms.push_back(std::sqrt(m_energy / m_energyCount));
  m_peak = m_peakCount = m_energyCount = 0;
  m_energy = 0;
  m_a.lengthMs = m_samples * 1000 / SongAnalysis::kRate;
  return std::move(m_a);
}

int64_t LoudestStartMs(const SongAnalysis& a, int64_t windowMs) {
  if (a.lengthMs <= windowMs || windowMs <= 0) return 0;
  const size_t w = static_cast<size_t>((windowMs + 999) / 1000);
  // The last start whose window still ends inside the song.
  const size_t lastStart = static_cast<size_t>((a.lengthMs - windowMs) / 1000);
  double sum = 0;
  for (size_t i = 0; i < w && i < a.rms.size(); ++i) sum += a.rms[i] * a.rms[i];
  double best = sum;
  size_t bestAt = 0;
  for (size_t s = 1; s <= lastStart && s + w - 1 < a.rms.size(); ++s) {
    sum += a.rms[s + w - 1] * a.rms[s + w - 1] - a.rms[s - 1] * a.rms[s - 1];
    // A window must be louder by a margin to be taken: of windows that sound
    // the same (decoding and resampling leave tiny differences) the earliest
    // is the pick.
    if (sum > best * (1 + 1e-3) + 1e-12) {
      best = sum;
      bestAt = s;
    }
  }
  return static_cast<int64_t>(bestAt) * 1000;
}

std::string AnalysisJson(const SongAnalysis& a) {
  std::string out = "{\"lengthMs\":" + std::to_string(a.lengthMs) +
                    ",\"peaksPerSecond\":" + std::to_string(SongAnalysis::kPeaksPerSecond) +
                    ",\"peaks\":[";
  for (size_t i = 0; i < a.peaks.size(); ++i) {
    if (i) out += ',';
    out += std::to_string(a.peaks[i]);
  }
  out += "],\"rms\":[";
  for (size_t i = 0; i < a.rms.size(); ++i) {
    if (i) out += ',';
    out += std::to_string(std::lround(std::min(1.0, a.rms[i]) * 1000));
  }
  out += "],\"loudest\":{";
  bool first = true;
  for (int64_t w : kPartPresetsMs) {
    if (!first) out += ',';
    first = false;
    out += "\"" + std::to_string(w) + "\":" + std::to_string(LoudestStartMs(a, w));
  }
  out += "}}";
  return out;
}

int64_t ReportedDurationMs(const std::string& text) {
  size_t at = text.find("Duration: ");
  if (at == std::string::npos) return -1;
  int h = 0, m = 0, s = 0, cs = 0;
  if (std::sscanf(text.c_str() + at + 10, "%d:%d:%d.%d", &h, &m, &s, &cs) != 4) return -1;
  return ((h * 60LL + m) * 60 + s) * 1000 + cs * 10LL;
}

namespace {

void RunAnalysis(jobs::JobTicket& t, const std::string& moduleDir, const std::string& input,
                 const std::string& preview, const std::string& workDir) {
  t.SetStatus(jobs::status::kRunning);
  const int kind = static_cast<int>(jobs::JobKind::kAnalysis);
  EndEarlierChildren(kind, t.Generation());
  auto fail = [&t] { t.SetStatus(jobs::status::kAnalysisFailed); };
  if (SameFile(input, preview)) return fail();
  if (!workDir.empty() && ParentOf(preview) == workDir &&
      ::access(workDir.c_str(), W_OK | X_OK) != 0) {
    // The page tells the user so, rather than blame the song.
    t.SetStatus(jobs::status::kAnalysisCannotWrite);
    return;
  }

  ToolRun base;
  base.program = moduleDir + "/res/ffmpeg";
  base.cancelled = [&t] { return t.Cancelled(); };
  base.kind = kind;
  base.generation = t.Generation();
  base.endOnCancel = true;

  // The length ffmpeg reports, for the percentage only: ffmpeg without an
  // output prints the input's facts and ends with 1. Asked beside the decode,
  // so that it costs no time; the percentage shows once it has answered.
  std::atomic<int64_t> expected{-1};
  ToolRun probe = base;
  probe.args = {"-nostdin", "-hide_banner", "-i", FfmpegPath(input)};
  std::thread prober;
  try {
    prober = std::thread([&expected, probe]() mutable {
      std::string facts;
      probe.output = [&facts](std::string_view piece) {
        if (facts.size() < 64 * 1024) facts.append(piece);
      };
      (void)RunTool(probe);
      expected.store(ReportedDurationMs(facts) * SongAnalysis::kRate / 1000);
    });
  } catch (const std::system_error&) {
    // No thread: no percentage, the analysis itself goes on.
  }

  // Nothing but the samples on the output: ffmpeg is told to say nothing.
  ToolRun decode = base;
  decode.args = {"-nostdin",
                 "-v",
                 "quiet",
                 "-nostats",
                 "-i",
                 FfmpegPath(input),
                 "-vn",
                 "-map",
                 "0:a:0",
                 "-ac",
                 "1",
                 "-ar",
                 std::to_string(SongAnalysis::kRate),
                 "-f",
                 "s16le",
                 "pipe:1",
                 "-map",
                 "0:a:0",
                 "-ac",
                 "1",
                 "-ar",
                 "22050",
                 "-c:a",
                 "pcm_s16le",
                 "-y",
                 FfmpegPath(preview)};
  if (!workDir.empty() && InFolder(preview, workDir)) decode.leftovers = {preview};
  SongAnalyzer analyzer;
  int32_t shown = 0;
  decode.output = [&](std::string_view piece) {
    analyzer.AddBytes(piece.data(), piece.size());
    if (expected > 0) {
      auto pct =
          static_cast<int32_t>(std::clamp<int64_t>(analyzer.Samples() * 100 / expected, 1, 99));
      if (pct != shown) {
        shown = pct;
        t.SetStatus(pct);
      }
    }
  };
  const ToolResult result = RunTool(decode);
  NoticeToolFailure(decode.program, result);
  const bool decoded = result.Ok();
  if (prober.joinable()) prober.join();
  if (!decoded || analyzer.Samples() == 0) {
    // A preview of a failed run is of no use (the child has been reaped).
    ::unlink(preview.c_str());
    return fail();
  }
  t.SetAnalysis(AnalysisJson(analyzer.Finish()));
  t.SetStatus(jobs::status::kAnalysisDone);
}

}  // namespace

bool StartAnalysis(const std::shared_ptr<jobs::JobState>& state, const std::string& moduleDir,
                   const std::string& input, const std::string& preview,
                   const std::string& workDir) {
  return jobs::StartJob(state, jobs::JobKind::kAnalysis,
                        [moduleDir, input, preview, workDir](jobs::JobTicket& t) {
                          RunAnalysis(t, moduleDir, input, preview, workDir);
                        });
}

}  // namespace zb::media
