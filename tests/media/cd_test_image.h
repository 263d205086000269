// CUE/BIN images written by the CD tests, and a fault-injecting access layer
// around the real one.
//
// An image is one BIN named like its CUE. Data tracks are MODE1/2352; a
// pregap is zero blocks in the BIN marked with INDEX 00. Every audio block
// holds a pattern of its own, so a byte taken from the wrong place shows.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/cd_access.h"
#include "media/cd_jobs.h"
#include "temp_dir.h"

namespace zb::media::cdtest {

struct TestTrack {
  TestTrack(int b, bool d = false, int p = 0, std::string f = "")
      : blocks(b), data(d), pregap(p), flags(std::move(f)) {}
  int blocks;
  bool data;
  int pregap;         // zero blocks before INDEX 01 (not for the first track)
  std::string flags;  // e.g. "DCP PRE 4CH"
};

struct TestImage {
  std::string cue;
  std::string bin;
  std::vector<int32_t> starts;  // block of each track's INDEX 01
  int32_t leadOut = 0;          // blocks in the BIN
};

inline std::string Msf(int32_t block) {
  char b[16];
  std::snprintf(b, sizeof b, "%02d:%02d:%02d", block / (75 * 60), block / 75 % 60, block % 75);
  return b;
}

inline uint8_t PatternByte(int32_t block, uint32_t i) {
  return static_cast<uint8_t>(block * 7 + i * 13 + (i >> 8));
}

// Writes <dir>/<name>.cue and .bin; the tracks are numbered from `first`.
inline TestImage WriteCdImage(const std::string& dir, const std::string& name,
                              const std::vector<TestTrack>& tracks, int first = 1) {
  TestImage img;
  img.cue = dir + "/" + name + ".cue";
  img.bin = dir + "/" + name + ".bin";
  std::ofstream bin(img.bin, std::ios::binary);
  std::string cue = "FILE \"" + name + ".bin\" BINARY\n";
  std::vector<char> block(kCdBlockBytes);
  int32_t at = 0;
  for (size_t t = 0; t < tracks.size(); ++t) {
    const TestTrack& tr = tracks[t];
    char head[64];
    std::snprintf(head, sizeof head, "  TRACK %02zu %s\n", t + size_t(first),
                  tr.data ? "MODE1/2352" : "AUDIO");
    cue += head;
    if (!tr.flags.empty()) cue += "    FLAGS " + tr.flags + "\n";
    if (tr.pregap > 0) {
      cue += "    INDEX 00 " + Msf(at) + "\n";
      std::fill(block.begin(), block.end(), 0);
      for (int i = 0; i < tr.pregap; ++i, ++at) bin.write(block.data(), block.size());
    }
    cue += "    INDEX 01 " + Msf(at) + "\n";
    img.starts.push_back(at);
    for (int i = 0; i < tr.blocks; ++i, ++at) {
      for (uint32_t k = 0; k < kCdBlockBytes; ++k) block[k] = static_cast<char>(PatternByte(at, k));
      bin.write(block.data(), block.size());
    }
  }
  img.leadOut = at;
  std::ofstream(img.cue) << cue;
  return img;
}

// A BIN of `blocks` patterned audio blocks.
inline void WriteBin(const std::string& path, int32_t blocks) {
  std::ofstream bin(path, std::ios::binary);
  std::vector<char> block(kCdBlockBytes);
  for (int32_t at = 0; at < blocks; ++at) {
    for (uint32_t k = 0; k < kCdBlockBytes; ++k) block[k] = static_cast<char>(PatternByte(at, k));
    bin.write(block.data(), block.size());
  }
}

// A TOC image of audio tracks, each `blocks` blocks of the file `file` (as
// the TOC names it) from block `from`.
struct TocTrack {
  int32_t from;
  int32_t blocks;
};
inline std::string WriteTocImage(const std::string& path, const std::string& file,
                                 const std::vector<TocTrack>& tracks) {
  std::string toc = "CD_DA\n";
  for (const TocTrack& t : tracks)
    toc += "TRACK AUDIO\nFILE \"" + file + "\" " + Msf(t.from) + " " + Msf(t.blocks) + "\n";
  std::ofstream(path) << toc;
  return path;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// The BIN's bytes for `blocks` blocks from `start`.
inline std::string BinSlice(const TestImage& img, int32_t start, int32_t blocks) {
  return ReadBytes(img.bin).substr(size_t(start) * kCdBlockBytes, size_t(blocks) * kCdBlockBytes);
}

inline uint32_t LE32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 |
         uint32_t(uint8_t(s[at + 2])) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}

// Passes everything to the real layer unless told to fail; counts handles
// and records every read attempt.
class FaultCdAccess : public CdAccess {
 public:
  struct Read {
    int32_t block;
    uint32_t count;
    int32_t statusBefore;  // the job's status when the read was asked for
  };

  explicit FaultCdAccess(std::shared_ptr<CdAccess> real) : m_real(std::move(real)) {}

  // Set before a job starts, not while it runs.
  bool hideDrives = false;
  bool refuseHandle = false;
  bool noMemory = false;
  int failFirstReads = 0;  // attempts that fail before the layer reads again
  // Runs after each successful real read, with the attempt's number (from 0).
  std::function<void(CDAudioBuffer&, int)> afterRead;
  std::function<int32_t()> status;  // what statusBefore records

  int GetCDList(CDDriveList* list) override {
    if (hideDrives) return 0;
    return m_real->GetCDList(list);
  }
  CDHandle GetCDHandle(const CDHandleRequest* r) override {
    if (refuseHandle) return 0;
    CDHandle h = m_real->GetCDHandle(r);
    if (h) ++m_open;
    return h;
  }
  int ModifyCDParms(CDHandle h, int parm, uint32_t value) override {
    return m_real->ModifyCDParms(h, parm, value);
  }
  int ReadTOC(CDHandle h, CDContents* toc) override { return m_real->ReadTOC(h, toc); }
  int ReadCDAudioLBA(CDHandle h, CDAudioBuffer* b) override {
    int n;
    {
      std::lock_guard<std::mutex> lock(m_mu);
      n = static_cast<int>(m_reads.size());
      m_reads.push_back({b->startBlock, b->numBlocks, status ? status() : 0});
    }
    if (n < failFirstReads) return 0;
    int rc = m_real->ReadCDAudioLBA(h, b);
    if (rc == 1 && afterRead) afterRead(*b, n);
    return rc;
  }
  void CloseCDHandle(CDHandle h) override {
    --m_open;
    m_real->CloseCDHandle(h);
  }
  std::unique_ptr<CDAudioBuffer> AllocAudioBuffer() override {
    return noMemory ? nullptr : m_real->AllocAudioBuffer();
  }

  int OpenHandles() const { return m_open.load(); }
  std::vector<Read> Reads() {
    std::lock_guard<std::mutex> lock(m_mu);
    return m_reads;
  }

 private:
  std::shared_ptr<CdAccess> m_real;
  std::atomic<int> m_open{0};
  std::mutex m_mu;
  std::vector<Read> m_reads;
};

// Drives that libcdio finds on this machine, listed before the images.
inline int RealDriveCount() {
  ::zb::testing::ScopedEnv none("ZIMBREL_CD_IMAGES", "");
  CDDriveList list{};
  MakeDefaultCdAccess()->GetCDList(&list);
  return list.count;
}

}  // namespace zb::media::cdtest
