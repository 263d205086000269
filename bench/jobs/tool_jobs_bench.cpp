// Runs the whole transcode job and the whole normalise job on a 3-minute song,
// and the same ffmpeg and mp3gain command lines directly (spawned, output to
// /dev/null, waited for), in alternating rounds; prints the median of each and
// their ratio.
//
//   tool_jobs_bench [rounds] [work folder]
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_tools.h"
#include "media/normalize.h"
#include "media/transcode.h"

namespace {

using zb::bench::Clock;
using Argv = std::vector<std::string>;

using zb::bench::Median;
using zb::bench::RunDirect;
using zb::bench::Seconds;

bool Copy(const std::string& from, const std::string& to) {
  std::error_code ec;
  return std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing,
                                    ec);
}

struct Bench {
  std::string dir, module, song, ring;

  // The transcode's end as the pages' status: 1 done, 2 not.
  static int32_t StatusOf(const zb::media::TranscodeEnd& end) { return end ? 1 : 2; }

  double TranscodeJob() {
    auto state = std::make_shared<zb::jobs::JobState>();
    auto t0 = Clock::now();
    if (!zb::media::StartTranscode(state, StatusOf, module, song, dir + "/job.mp3")) return -1;
    if (!zb::jobs::WaitForJobThreadsForTesting(600000)) return -1;
    double s = Seconds(t0);
    return state->Status(zb::jobs::JobKind::kTranscode) == 1 ? s : -1;
  }
  double TranscodeDirect() {
    auto t0 = Clock::now();
    bool ok = RunDirect({module + "/res/ffmpeg", "-nostdin", "-i", song, "-vn", "-ab", "64k", "-ar",
                         "44100", "-ac", "2", "-y", dir + "/direct.mp3"});
    return ok ? Seconds(t0) : -1;
  }
  double NormalizeJob() {
    std::string f = dir + "/norm-job.mp3";
    if (!Copy(ring, f)) return -1;
    auto state = std::make_shared<zb::jobs::JobState>();
    auto t0 = Clock::now();
    if (!zb::media::StartNormalize(state, module, f)) return -1;
    if (!zb::jobs::WaitForJobThreadsForTesting(600000)) return -1;
    double s = Seconds(t0);
    return state->Status(zb::jobs::JobKind::kNormalize) == 100 ? s : -1;
  }
  double NormalizeDirect() {
    std::string f = dir + "/norm-direct.mp3", tool = module + "/res/mp3gain";
    if (!Copy(ring, f)) return -1;
    auto t0 = Clock::now();
    // The job's runs: remove, track gain, find the largest sample, raise by
    // the steps that fit (none: no run).
    std::string analysis = dir + "/analysis.txt";
    bool ok = RunDirect({tool, "/s", "d", f}) && RunDirect({tool, "/k", "/r", f}) &&
              RunDirect({tool, "/s", "s", "/o", "/x", f}, analysis);
    int steps = -1;
    if (ok) {
      std::ifstream in(analysis);
      steps = zb::media::RaiseStepsThatFit(
          std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    }
    ok = ok && steps >= 0 && (steps == 0 || RunDirect({tool, "/g", std::to_string(steps), f}));
    return ok ? Seconds(t0) : -1;
  }
  // A transcode whose ffmpeg waits for an input that does not come (a FIFO
  // nobody writes, as a hung network mount): from the cancel to the final
  // status. The ffmpeg left waiting is then let go.
  double SilentCancel() {
    std::string fifo = dir + "/silent.wav";
    unlink(fifo.c_str());
    if (mkfifo(fifo.c_str(), 0600) != 0) return -1;
    auto state = std::make_shared<zb::jobs::JobState>();
    if (!zb::media::StartTranscode(state, StatusOf, module, fifo, dir + "/silent.mp3")) return -1;
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (state->ProcessId() == 0 && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // it waits, silent
    auto t0 = Clock::now();
    state->Cancel();
    while (state->Status(zb::jobs::JobKind::kTranscode) == 0 && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    double s = Seconds(t0);
    int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) close(fd);
    zb::jobs::WaitForJobThreadsForTesting(10000);
    return state->Status(zb::jobs::JobKind::kTranscode) == 2 ? s : -1;
  }
};

// Alternating rounds (round -1 warms caches); medians; false when a run failed.
bool Measure(int rounds, double (Bench::*job)(), double (Bench::*direct)(), Bench& b,
             double* jobMedian, double* directMedian) {
  std::vector<double> js, ds;
  for (int r = -1; r < rounds; ++r) {
    double j, d;
    if (r % 2) {
      j = (b.*job)();
      d = (b.*direct)();
    } else {
      d = (b.*direct)();
      j = (b.*job)();
    }
    if (j < 0 || d < 0) return false;
    if (r >= 0) {
      js.push_back(j);
      ds.push_back(d);
    }
  }
  *jobMedian = Median(js);
  *directMedian = Median(ds);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::string base = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
  std::string tmpl = base + "/zb-jobsbench-XXXXXX";
  if (!mkdtemp(tmpl.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  Bench b;
  b.dir = tmpl;
  b.module = b.dir + "/module";
  b.song = b.dir + "/song.wav";
  b.ring = b.dir + "/ring.mp3";
  std::filesystem::create_directories(b.module + "/res/tmp");
  std::filesystem::create_symlink(BENCH_FFMPEG, b.module + "/res/ffmpeg");
  std::filesystem::create_symlink(BENCH_MP3GAIN, b.module + "/res/mp3gain");

  // A 3-minute stereo song at 44100 Hz, as a grabbed CD track would be, and
  // its ringtone for the normalisation.
  bool ok = RunDirect({BENCH_SOX, "-n", "-r", "44100", "-c", "2", "-b", "16", b.song, "synth",
                       "180", "sine", "200-800", "sine", "300-450", "tremolo", "3", "60"}) &&
            RunDirect({BENCH_FFMPEG, "-nostdin", "-i", b.song, "-ab", "64k", b.ring});
  double tj = 0, td = 0, nj = 0, nd = 0;
  ok = ok && Measure(rounds, &Bench::TranscodeJob, &Bench::TranscodeDirect, b, &tj, &td) &&
       Measure(rounds, &Bench::NormalizeJob, &Bench::NormalizeDirect, b, &nj, &nd);
  std::vector<double> cancels;
  for (int r = 0; ok && r < 5; ++r) {
    double c = b.SilentCancel();
    ok = c >= 0;
    cancels.push_back(c);
  }
  std::filesystem::remove_all(b.dir);
  if (!ok) {
    std::printf("tool_jobs: a run failed\n");
    return 1;
  }
  std::printf("%-32s %10s\n", "tool jobs (3-minute song)", "median ms");
  std::printf("%-32s %10.1f\n", "transcode job", tj * 1e3);
  std::printf("%-32s %10.1f\n", "ffmpeg run directly", td * 1e3);
  std::printf("%-32s %10.3f   (goal <= 1.03, %d rounds)\n", "ratio transcode job/direct", tj / td,
              rounds);
  std::printf("%-32s %10.1f\n", "normalise job", nj * 1e3);
  std::printf("%-32s %10.1f\n", "its mp3gain runs directly", nd * 1e3);
  std::printf("%-32s %10.1f   (goal <= 100, 5 runs)\n", "cancel of a silent ffmpeg",
              Median(cancels) * 1e3);
  std::printf("%-32s %10.3f   (goal <= 1.03, %d rounds)\n", "ratio normalise job/direct", nj / nd,
              rounds);
  return 0;
}
