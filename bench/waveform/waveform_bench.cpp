// The song analysis job on an MP3 of `minutes` minutes (made once with
// ffmpeg's sine source), against a bare decode of the same file
// (ffmpeg -nostdin -i song -f null -), in alternating rounds; prints the
// median of each in ms, their ratio, and the goal's figure (1.3 x bare +
// 0.3 s).
//
//   waveform_bench [minutes=3] [rounds=5] [work folder]
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_tools.h"
#include "jobs/job_state.h"
#include "jobs/job_status.h"
#include "media/song_analysis.h"

namespace {

using zb::bench::Clock;

using zb::bench::Median;
using zb::bench::RunDirect;
using zb::bench::Seconds;

}  // namespace

int main(int argc, char** argv) {
  int minutes = argc > 1 ? std::atoi(argv[1]) : 3;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  std::string dir =
      argc > 3 ? argv[3] : std::filesystem::temp_directory_path() / "zb-waveform-bench";
  std::filesystem::create_directories(dir + "/res/tmp");
  std::error_code ec;
  std::filesystem::remove(dir + "/res/ffmpeg", ec);
  std::filesystem::create_symlink(BENCH_FFMPEG, dir + "/res/ffmpeg");
  std::string song = dir + "/song-" + std::to_string(minutes) + "min.mp3";
  if (!std::filesystem::exists(song)) {
    std::string len = std::to_string(minutes * 60);
    if (!RunDirect({BENCH_FFMPEG, "-nostdin", "-f", "lavfi", "-i",
                    "sine=frequency=440:duration=" + len, "-f", "lavfi", "-i",
                    "anoisesrc=a=0.1:d=" + len, "-filter_complex", "amix=inputs=2", "-ac", "2",
                    "-ab", "128k", "-y", song})) {
      std::fprintf(stderr, "could not make the song\n");
      return 1;
    }
  }
  std::vector<double> job, bare;
  for (int r = 0; r <= rounds; ++r) {
    for (int order = 0; order < 2; ++order) {
      bool jobFirst = r % 2 == 0;
      if (jobFirst == (order == 0)) {
        auto state = std::make_shared<zb::jobs::JobState>();
        auto t0 = Clock::now();
        if (!zb::media::StartAnalysis(state, dir, song, dir + "/res/tmp/preview.wav",
                                      dir + "/res/tmp") ||
            !zb::jobs::WaitForJobThreadsForTesting(600000) ||
            state->Status(zb::jobs::JobKind::kAnalysis) != zb::jobs::status::kAnalysisDone) {
          std::fprintf(stderr, "the analysis failed\n");
          return 1;
        }
        if (r > 0) job.push_back(Seconds(t0));
      } else {
        auto t0 = Clock::now();
        if (!RunDirect({BENCH_FFMPEG, "-nostdin", "-i", song, "-f", "null", "-"})) return 1;
        if (r > 0) bare.push_back(Seconds(t0));
      }
    }
  }
  double j = Median(job), b = Median(bare);
  std::printf("analysis job %.1f\n", j * 1000);
  std::printf("bare ffmpeg decode %.1f\n", b * 1000);
  std::printf("# %d-minute song: ratio %.2f; goal 1.3 x bare + 300 ms = %.1f ms\n", minutes, j / b,
              (1.3 * b + 0.3) * 1000);
  return 0;
}
