// Grabs a 10-minute track (45000 blocks) of a CUE/BIN image through the grab
// job, and reads the same blocks with a plain libcdio loop into a file, in
// alternating rounds; prints the median of each and their ratio.
//
//   cd_grab_bench [rounds] [work folder]
//
// The grab's trace goes to /dev/null; the results go to the original stdout.
#include <cdio/cdio.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/cd_access.h"
#include "media/cd_jobs.h"

namespace {

using zb::media::kCdBlockBytes;
using zb::media::kCdChunkBlocks;
using Clock = std::chrono::steady_clock;

constexpr int kTrackBlocks = 45000;  // 10 minutes at 75 blocks a second

// One 10-minute audio track and a short second one (a one-track disc is not
// grabbed).
std::string WriteImage(const std::string& dir) {
  std::ofstream bin(dir + "/bench.bin", std::ios::binary);
  std::vector<char> block(kCdBlockBytes);
  for (int b = 0; b < kTrackBlocks + 75; ++b) {
    for (uint32_t i = 0; i < kCdBlockBytes; ++i) block[i] = static_cast<char>(b * 7 + i * 13);
    bin.write(block.data(), block.size());
  }
  std::ofstream(dir + "/bench.cue") << "FILE \"bench.bin\" BINARY\n"
                                       "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                       "  TRACK 02 AUDIO\n    INDEX 01 10:00:00\n";
  return dir + "/bench.cue";
}

double GrabSeconds(const std::shared_ptr<zb::media::CdAccess>& cd, const std::string& out) {
  auto state = std::make_shared<zb::jobs::JobState>();
  auto t0 = Clock::now();
  if (!zb::media::StartGrab(state, cd, "0", "0", out)) return -1;
  if (!zb::jobs::WaitForJobThreadsForTesting(600000)) return -1;
  double s = std::chrono::duration<double>(Clock::now() - t0).count();
  return state->Status(zb::jobs::JobKind::kGrab) == 100 ? s : -1;
}

double PlainLoopSeconds(const std::string& cue, const std::string& out) {
  auto t0 = Clock::now();
  CdIo_t* p = cdio_open(cue.c_str(), DRIVER_UNKNOWN);
  FILE* f = p ? std::fopen(out.c_str(), "wb") : nullptr;
  if (!f) return -1;
  std::vector<uint8_t> buf(kCdChunkBlocks * kCdBlockBytes);
  lsn_t start = cdio_get_track_lsn(p, 1);
  bool ok = true;
  for (int done = 0; ok && done < kTrackBlocks;) {
    int n = std::min<int>(kCdChunkBlocks, kTrackBlocks - done);
    ok = cdio_read_audio_sectors(p, buf.data(), start + done, n) == DRIVER_OP_SUCCESS &&
         std::fwrite(buf.data(), 1, n * kCdBlockBytes, f) == n * kCdBlockBytes;
    done += n;
  }
  ok = std::fclose(f) == 0 && ok;
  cdio_destroy(p);
  return ok ? std::chrono::duration<double>(Clock::now() - t0).count() : -1;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  std::string base = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
  std::string tmpl = base + "/zb-cdbench-XXXXXX";
  if (!mkdtemp(tmpl.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  std::string dir = tmpl;
  int results = dup(1);
  int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  std::fflush(stdout);
  dup2(devnull, 1);

  std::string cue = WriteImage(dir);
  setenv("ZIMBREL_CD_IMAGES", cue.c_str(), 1);
  auto cd = zb::media::MakeDefaultCdAccess();
  std::vector<double> grab, plain;
  bool failed = false;
  for (int r = -1; r < rounds && !failed; ++r) {  // round -1 warms the page cache
    double g, l;
    if (r % 2) {
      g = GrabSeconds(cd, dir + "/grab.wav");
      l = PlainLoopSeconds(cue, dir + "/plain.raw");
    } else {
      l = PlainLoopSeconds(cue, dir + "/plain.raw");
      g = GrabSeconds(cd, dir + "/grab.wav");
    }
    failed = g < 0 || l < 0;
    if (r >= 0) {
      grab.push_back(g);
      plain.push_back(l);
    }
  }
  std::filesystem::remove_all(dir);
  if (failed) {
    dprintf(results, "cd_grab: a run failed\n");
    return 1;
  }
  double g = Median(grab), l = Median(plain);
  double mb = double(kTrackBlocks) * kCdBlockBytes / 1e6;
  dprintf(results, "%-28s %10s %10s\n", "cd_grab (10-min track)", "median ms", "MB/s");
  dprintf(results, "%-28s %10.1f %10.0f\n", "grab job", g * 1e3, mb / g);
  dprintf(results, "%-28s %10.1f %10.0f\n", "plain libcdio loop", l * 1e3, mb / l);
  dprintf(results, "%-28s %10.3f   (goal <= 1.05, %d rounds)\n", "ratio grab/plain", g / l, rounds);
  return 0;
}
