// The CD access layer: six operations on byte-exact records, as the listing
// and the grab job use them. The records are laid out byte for byte (no
// padding); integers wider than a byte are in the machine's byte order except
// the big-endian track addresses of the table of contents.
//
// Contract for implementations:
// - GetCDList fills a zeroed list with at most eight drives; its return value
//   means nothing to callers.
// - GetCDHandle returns 0 when the request names no drive it can open.
// - ModifyCDParms(h, kCdParmLbaAddressing, 0) makes ReadTOC give logical block
//   addresses; without it the addresses are minute/second/frame.
// - ReadTOC and ReadCDAudioLBA return 1 on success, anything else otherwise.
// - Different handles may be used on different threads at the same time; one
//   handle is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

namespace zb::media {

#pragma pack(push, 1)

struct CDDriveEntry {
  uint8_t hostAdapter;
  uint8_t target;
  uint8_t lun;
  uint8_t layerPrivate[75];
  char productName[43];  // zero-terminated, at most 42 bytes of text
};

struct CDDriveList {
  uint8_t reserved;  // left 0
  uint8_t count;     // drives found, 0 to 8
  CDDriveEntry entries[8];
};

struct CDHandleRequest {
  uint8_t size;     // 12
  uint8_t version;  // 1
  uint8_t hostAdapter;
  uint8_t target;
  uint8_t lun;
  uint8_t readMethod;  // 0: the layer's choice
  uint8_t reserved[6];
};

// One descriptor of the READ TOC track format.
struct CDTrackDescriptor {
  uint8_t reserved1;
  uint8_t adrControl;  // address type in the high nibble, control bits low
  uint8_t trackNumber;
  uint8_t reserved2;
  uint8_t address[4];  // most significant byte first
};

struct CDContents {
  uint8_t dataLength[2];  // big-endian, not counting these two bytes
  uint8_t firstTrack;
  uint8_t lastTrack;
  CDTrackDescriptor tracks[100];  // the disc's tracks in order, then the lead-out
};

constexpr uint32_t kCdBlockBytes = 2352;
constexpr uint32_t kCdChunkBlocks = 26;
constexpr uint32_t kCdAudioDataBytes = kCdChunkBlocks * kCdBlockBytes;  // 61152

struct CDAudioBuffer {
  int32_t startBlock;    // first block to read (logical block number)
  uint32_t numBlocks;    // blocks to read
  uint32_t capacity;     // bytes usable in data, at most kCdAudioDataBytes
  uint32_t delivered;    // bytes delivered, set by the layer
  uint32_t layerStatus;  // the layer's own, not read by callers
  uint32_t startOffset;  // where in data the delivered bytes begin, set by the layer
  uint8_t data[kCdAudioDataBytes];
};

#pragma pack(pop)

static_assert(sizeof(CDDriveEntry) == 121);
static_assert(sizeof(CDDriveList) == 970);
static_assert(sizeof(CDHandleRequest) == 12);
static_assert(sizeof(CDTrackDescriptor) == 8);
static_assert(sizeof(CDContents) == 804);
static_assert(sizeof(CDAudioBuffer) == 61176);
static_assert(offsetof(CDDriveEntry, productName) == 78);
static_assert(offsetof(CDAudioBuffer, data) == 24);

// Control bits of a track descriptor.
constexpr uint8_t kCdControlPreEmphasis = 1;
constexpr uint8_t kCdControlCopyPermitted = 2;
constexpr uint8_t kCdControlData = 4;
constexpr uint8_t kCdControlFourChannels = 8;

// ModifyCDParms parameter: logical block addressing for ReadTOC.
constexpr int kCdParmLbaAddressing = 36;

// Drive handle; 0 means none.
using CDHandle = uintptr_t;

class CdAccess {
 public:
  virtual ~CdAccess() = default;

  virtual int GetCDList(CDDriveList* list) = 0;
  virtual CDHandle GetCDHandle(const CDHandleRequest* request) = 0;
  virtual int ModifyCDParms(CDHandle h, int parm, uint32_t value) = 0;
  virtual int ReadTOC(CDHandle h, CDContents* toc) = 0;
  virtual int ReadCDAudioLBA(CDHandle h, CDAudioBuffer* buffer) = 0;
  virtual void CloseCDHandle(CDHandle h) = 0;

  // The grab job's read buffer, zero-filled; null when there is no memory.
  virtual std::unique_ptr<CDAudioBuffer> AllocAudioBuffer() {
    return std::unique_ptr<CDAudioBuffer>(new (std::nothrow) CDAudioBuffer{});
  }
};

// A track address: the four bytes combined, most significant first.
inline uint32_t CdAddress(const CDTrackDescriptor& d) {
  return (uint32_t{d.address[0]} << 24) | (uint32_t{d.address[1]} << 16) |
         (uint32_t{d.address[2]} << 8) | uint32_t{d.address[3]};
}

// A table of contents the listing and the grab can use: track numbers from
// 1 to 99, the first not above the last, so that the descriptors of every
// track and the lead-out after them lie inside the record. Anything else
// counts as an unreadable table.
inline bool CdTocFits(const CDContents& toc) {
  return toc.firstTrack >= 1 && toc.firstTrack <= toc.lastTrack && toc.lastTrack <= 99;
}

// The number of tracks of a fitting table: a disc may begin with any track
// number (4, or 50), and its descriptors 0 to count - 1 are its tracks,
// descriptor count its lead-out.
inline int CdTrackCount(const CDContents& toc) {
  return toc.lastTrack - toc.firstTrack + 1;
}

// The blocks of track `i` (from 0, below CdTrackCount): from its start to the
// nearest start above it, of another track or of the lead-out. So a table
// that runs backwards still gives each track the blocks up to the next one
// on the disc, never a negative length; a track that starts at or beyond
// the lead-out has no blocks.
struct CdSpan {
  uint32_t start;
  uint32_t blocks;
};
inline CdSpan CdTrackSpan(const CDContents& toc, int i) {
  const int count = CdTrackCount(toc);
  const uint32_t start = CdAddress(toc.tracks[i]);
  uint32_t end = CdAddress(toc.tracks[count]);
  if (start >= end) return {start, 0};
  for (int j = 0; j < count; ++j) {
    uint32_t a = CdAddress(toc.tracks[j]);
    if (a > start && a < end) end = a;
  }
  return {start, end - start};
}

// Number of valid entries in a filled list (a layer's count above 8 is cut).
inline int CdDriveCount(const CDDriveList& list) {
  return list.count > 8 ? 8 : list.count;
}

// A request for entry `e`: size 12, version 1, the drive's address.
inline CDHandleRequest CdRequestFor(const CDDriveEntry& e) {
  CDHandleRequest r{};
  r.size = sizeof(CDHandleRequest);
  r.version = 1;
  r.hostAdapter = e.hostAdapter;
  r.target = e.target;
  r.lun = e.lun;
  return r;
}

// A product name as the drive list shows it: no ":::" inside and no ':' at
// either end (so that names joined by ":::" split back unambiguously), at
// most 42 bytes, cut at a UTF-8 character boundary.
std::string CdListableName(std::string name);

// Closes a handle when it goes out of scope.
class CdHandleCloser {
 public:
  CdHandleCloser(CdAccess& cd, CDHandle h) : m_cd(cd), m_h(h) {}
  ~CdHandleCloser() {
    if (m_h) m_cd.CloseCDHandle(m_h);
  }
  CdHandleCloser(const CdHandleCloser&) = delete;
  CdHandleCloser& operator=(const CdHandleCloser&) = delete;

 private:
  CdAccess& m_cd;
  CDHandle m_h;
};

}  // namespace zb::media
