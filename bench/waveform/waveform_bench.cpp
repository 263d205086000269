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

#include "jobs/job_state.h"
#include "jobs/job_status.h"
#include "media/song_analysis.h"

namespace {

using Clock = std::chrono::steady_clock;

bool RunDirect(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  pid_t pid;
  int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  int st = 0;
  return rc == 0 && waitpid(pid, &st, 0) == pid && WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

double Since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

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
        if (r > 0) job.push_back(Since(t0));
      } else {
        auto t0 = Clock::now();
        if (!RunDirect({BENCH_FFMPEG, "-nostdin", "-i", song, "-f", "null", "-"})) return 1;
        if (r > 0) bare.push_back(Since(t0));
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
