// The song analysis behind the part that rings: ffmpeg decodes the song to
// raw PCM on a pipe (mono, kRate Hz), from which the job computes the song's
// length, its waveform (the peaks) and its loudness per second (the RMS),
// and writes, in the same run, a preview of the song (WAV, mono, 22050 Hz)
// that a page can play from the work folder at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jobs/job_state.h"

namespace zb::media {

struct SongAnalysis {
  static constexpr int kRate = 8000;          // samples a second that are analysed
  static constexpr int kPeaksPerSecond = 10;  // waveform columns a second
  int64_t lengthMs = 0;                       // of the decoded sound
  std::vector<uint8_t> peaks;                 // largest |sample| per column, 0..255
  std::vector<double> rms;                    // per second (the last may be short), 0..1
};

// Collects 16-bit samples at SongAnalysis::kRate into a SongAnalysis.
class SongAnalyzer {
 public:
  // Takes raw little-endian 16-bit bytes in pieces of any size (a sample
  // split between two pieces is joined).
  void AddBytes(const char* data, size_t size);
  void AddSample(int16_t s);
  int64_t Samples() const { return m_samples; }
  SongAnalysis Finish();

 private:
  SongAnalysis m_a;
  int64_t m_samples = 0;
  int m_peak = 0, m_peakCount = 0;
  double m_energy = 0;
  int m_energyCount = 0;
  bool m_haveLow = false;
  unsigned char m_low = 0;
};

// Where the loudest stretch of `windowMs` starts: the window of whole
// seconds with the largest energy (the sum of the squared RMS values), the
// earliest of those within 0.1 % of each other. 0 when the song is no longer than the window (it is
// used whole).
int64_t LoudestStartMs(const SongAnalysis& a, int64_t windowMs);

// The stretch lengths the page offers, in milliseconds.
inline constexpr int64_t kPartPresetsMs[] = {15000, 20000, 30000, 40000};

// The result text a page reads (ZBL_anResult), JSON:
// {"lengthMs":N,"peaksPerSecond":10,"peaks":[0..255,...],"rms":[0..1000,...],
//  "loudest":{"15000":ms,"20000":ms,"30000":ms,"40000":ms}}
std::string AnalysisJson(const SongAnalysis& a);

// The song's length as ffmpeg reports it ("  Duration: 00:03:00.05, ..."),
// in milliseconds; -1 when the text holds none.
int64_t ReportedDurationMs(const std::string& ffmpegText);

// ZBL_AnalyzeMedia: starts the analysis of `input`, writing the preview to
// `preview`; false when no thread started. The job decodes the song
// while a second ffmpeg reports its length (for the percentage); it publishes
// the percentage done (1 to 99) while it decodes, then the result text and
// 100, or 102 when the preview lies in the work folder and that is missing
// or cannot be written (ffmpeg is not run), or 101 when the song cannot be read, the preview cannot
// be written (or is the song), or on a cancel. A cancel ends ffmpeg at once and leaves no preview
// behind in the work folder `workDir`. The job ends an analysis that an earlier start left running;
// it sweeps nothing.
bool StartAnalysis(const std::shared_ptr<jobs::JobState>& state, const std::string& moduleDir,
                   const std::string& input, const std::string& preview,
                   const std::string& workDir);

}  // namespace zb::media
