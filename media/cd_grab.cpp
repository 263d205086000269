// The grab job: one audio track of a CD, read in chunks of 26 blocks, into a
// WAV file. The status rises through the percentage read to 100, or ends in
// one of the failure codes 201..210. The file, the drive handle and the
// buffer are released before the final status is written, so a page that
// sees the final value finds the file complete and closed.
#include <stdlib.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "jobs/job_status.h"
#include "media/cd_access.h"
#include "media/cd_jobs.h"
#include "platform/decimal_text.h"

namespace zb::media {
namespace {

using namespace jobs::status;  // the grab's results: kGrabDone, kGrabBadDrive ...

constexpr int kReadAttempts = 3;
constexpr int kTraceEvery = 5;
constexpr size_t kWavHeaderBytes = 44;

void PutLE32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void PutLE16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

// 44-byte header of 16-bit stereo PCM at 44100 Hz with `dataBytes` of data.
void MakeWavHeader(unsigned char* h, uint32_t dataBytes) {
  std::memcpy(h, "RIFF", 4);
  PutLE32(h + 4, dataBytes + 36);
  std::memcpy(h + 8, "WAVE", 4);
  std::memcpy(h + 12, "fmt ", 4);
  PutLE32(h + 16, 16);
  PutLE16(h + 20, 1);
  PutLE16(h + 22, 2);
  PutLE32(h + 24, 44100);
  PutLE32(h + 28, 176400);
  PutLE16(h + 32, 4);
  PutLE16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  PutLE32(h + 40, dataBytes);
}

bool WriteAll(FILE* f, const void* p, size_t n) {
  return std::fwrite(p, 1, n, f) == n;
}

bool WriteHeader(FILE* f, uint32_t dataBytes) {
  unsigned char h[kWavHeaderBytes];
  MakeWavHeader(h, dataBytes);
  return std::fseek(f, 0, SEEK_SET) == 0 && WriteAll(f, h, sizeof h);
}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

// One read of `count` blocks from `block`, up to three attempts. A delivery
// that would reach past the data area counts as a failed attempt.
bool ReadChunk(CdAccess& cd, CDHandle h, CDAudioBuffer& buf, int32_t block, uint32_t count) {
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    buf.startBlock = block;
    buf.numBlocks = count;
    buf.delivered = 0;
    buf.startOffset = 0;
    if (cd.ReadCDAudioLBA(h, &buf) != 1) continue;
    if (uint64_t{buf.startOffset} + buf.delivered <= sizeof(buf.data)) return true;
  }
  return false;
}

int32_t Grab(CdAccess& cd, int drive, int track, const std::string& output,
             jobs::JobTicket& ticket) {
  CDDriveList list{};
  cd.GetCDList(&list);
  if (drive < 0 || drive >= CdDriveCount(list)) return kGrabBadDrive;

  CDHandleRequest request = CdRequestFor(list.entries[drive]);
  CDHandle h = cd.GetCDHandle(&request);
  if (!h) return kGrabNoHandle;
  CdHandleCloser closer(cd, h);

  cd.ModifyCDParms(h, kCdParmLbaAddressing, 0);
  CDContents toc{};
  if (cd.ReadTOC(h, &toc) != 1 || !CdTocFits(toc)) return kGrabNoDisc;
  if (track < 0 || track >= CdTrackCount(toc)) return kGrabBadTrack;
  if (toc.firstTrack == toc.lastTrack) return kGrabOneTrackDisc;
  if (toc.tracks[track].adrControl & kCdControlData) return kGrabDataTrack;

  // A track with nothing to read fails as an unreadable one, before any file
  // is made: never 100 with an empty WAV.
  const CdSpan span = CdTrackSpan(toc, track);
  if (span.blocks == 0 || span.blocks > uint32_t{INT32_MAX}) return kGrabReadFailed;
  const uint32_t start = span.start;
  const auto total = static_cast<int32_t>(span.blocks);

  std::unique_ptr<CDAudioBuffer> buf = cd.AllocAudioBuffer();
  if (!buf) return kGrabNoMemory;
  buf->capacity = kCdAudioDataBytes;

  // Close-on-exec, so that a tool started by another job never inherits it.
  std::unique_ptr<FILE, FileCloser> file(std::fopen(output.c_str(), "w+be"));
  if (!file) return kGrabCannotWrite;
  if (!WriteHeader(file.get(), 0)) return kGrabCannotWrite;

  auto block = static_cast<int32_t>(start);
  int32_t remaining = total;
  int32_t done = 0;
  uint32_t written = 0;
  uint32_t chunk = kCdChunkBlocks;
  for (int pass = 0; remaining > 0; ++pass) {
    if (pass % kTraceEvery == 0) {
      std::printf("%d: %d\n", block, remaining);
      std::fflush(stdout);
    }
    if (static_cast<uint32_t>(remaining) < chunk) chunk = static_cast<uint32_t>(remaining);
    if (!ReadChunk(cd, h, *buf, block, chunk)) return kGrabReadFailed;
    if (!WriteAll(file.get(), buf->data + buf->startOffset, buf->delivered))
      return kGrabCannotWrite;
    written += buf->delivered;
    block += static_cast<int32_t>(chunk);
    done += static_cast<int32_t>(chunk);
    remaining -= static_cast<int32_t>(chunk);
    if (remaining > 0) ticket.SetStatus(static_cast<int32_t>(int64_t{done} * 100 / total));
    if (ticket.Cancelled()) return kGrabCancelled;
  }

  if (!WriteHeader(file.get(), written)) return kGrabCannotWrite;
  if (std::fclose(file.release()) != 0) return kGrabCannotWrite;
  return kGrabDone;
}

}  // namespace

bool StartGrab(const std::shared_ptr<jobs::JobState>& state, std::shared_ptr<CdAccess> cd,
               const std::string& drive, const std::string& track, const std::string& output) {
  return jobs::StartJob(state, jobs::JobKind::kGrab,
                        [cd = std::move(cd), drive, track, output](jobs::JobTicket& ticket) {
                          int d = ReadDecimal(drive);
                          int t = ReadDecimal(track);
                          ticket.SetStatus(jobs::status::kRunning);
                          int32_t result = Grab(*cd, d, t, output, ticket);
                          ticket.SetStatus(result);
                        });
}

}  // namespace zb::media
