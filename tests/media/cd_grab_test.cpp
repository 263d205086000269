// The grab job on images that the tests write: the WAV it leaves, its chunks,
// progress and trace, and every failure code.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>

#include "cd_test_image.h"
#include "media/cd_access.h"
#include "media/cd_jobs.h"
#include "temp_dir.h"

namespace zb::media {
namespace {

using cdtest::BinSlice;
using cdtest::FaultCdAccess;
using cdtest::LE32;
using cdtest::ReadBytes;
using cdtest::RealDriveCount;
using cdtest::TestImage;
using cdtest::WriteCdImage;
using zb::testing::ScopedEnv;
using zb::testing::TempDir;

class CdGrab : public ::testing::Test {
 protected:
  void SetUp() override {
    m_real = RealDriveCount();
    // Drive real+0: data, 100-block audio, 40-block audio, then 280 blocks
    // behind a pregap of 150, which counts to the track before it.
    m_disc = WriteCdImage(m_dir.Path(), "disc", {{60, true}, {100}, {40}, {280, false, 150}});
    m_single = WriteCdImage(m_dir.Path(), "single", {{100}});
    m_images.reset();  // before the new value is set: it restores the old one
    m_images = std::make_unique<ScopedEnv>(
        "ZIMBREL_CD_IMAGES", m_disc.cue + ":" + m_single.cue + ":" + m_dir / "empty.cue");
    m_cd = std::make_shared<FaultCdAccess>(MakeDefaultCdAccess());
    m_cd->status = [s = m_state.get()] { return s->Status(jobs::JobKind::kGrab); };
  }
  void TearDown() override { EXPECT_TRUE(jobs::WaitForJobThreadsForTesting(10000)); }

  // Runs a grab to its end and returns the final status.
  int32_t Grab(const std::string& drive, const std::string& track, const std::string& out) {
    EXPECT_TRUE(StartGrab(m_state, m_cd, drive, track, out));
    EXPECT_TRUE(jobs::WaitForJobThreadsForTesting(30000));
    EXPECT_EQ(m_cd->OpenHandles(), 0) << "a drive handle was left open";
    return m_state->Status(jobs::JobKind::kGrab);
  }
  std::string D(int image) { return std::to_string(m_real + image); }

  TempDir m_dir;
  int m_real = 0;
  TestImage m_disc, m_single;
  std::unique_ptr<ScopedEnv> m_images;
  std::shared_ptr<jobs::JobState> m_state = std::make_shared<jobs::JobState>();
  std::shared_ptr<FaultCdAccess> m_cd;
};

TEST_F(CdGrab, WavHoldsTheTrackBytesBehindAnExactHeader) {
  std::string out = m_dir / "t.wav";
  ASSERT_EQ(Grab(D(0), "1", out), 100);
  std::string wav = ReadBytes(out);
  const uint32_t data = 100 * kCdBlockBytes;
  ASSERT_EQ(wav.size(), 44 + data);
  std::string fmt(
      "RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xAC\0\0\x10\xB1\x02\0\x04\0\x10\0data", 40);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(LE32(wav, 4), data + 36);
  EXPECT_EQ(wav.substr(8, 32), fmt.substr(8, 32));
  EXPECT_EQ(LE32(wav, 40), data);
  EXPECT_TRUE(wav.substr(44) == BinSlice(m_disc, m_disc.starts[1], 100));

  // Four chunks of 26, 26, 26 and 22 blocks; progress 26, 52, 78, then 100.
  auto reads = m_cd->Reads();
  ASSERT_EQ(reads.size(), 4u);
  const uint32_t counts[] = {26, 26, 26, 22};
  const int32_t before[] = {0, 26, 52, 78};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(reads[i].block, m_disc.starts[1] + 26 * int32_t(i));
    EXPECT_EQ(reads[i].count, counts[i]);
    EXPECT_EQ(reads[i].statusBefore, before[i]);
  }
}

TEST_F(CdGrab, TraceEveryFifthPassAndFractionalIndexes) {
  // 280 blocks, 11 chunks: traces before passes 0, 5 and 10.
  std::string out = m_dir / "t.wav";
  int32_t start = m_disc.starts[3];
  int32_t total = m_disc.leadOut - start;
  ASSERT_EQ(total, 280);
  ::testing::internal::CaptureStdout();
  int32_t rc = Grab(" +" + D(0) + ".9", "3.7", out);
  std::string trace = ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(rc, 100);
  auto line = [](int32_t b, int32_t r) {
    return std::to_string(b) + ": " + std::to_string(r) + "\n";
  };
  EXPECT_EQ(trace,
            line(start, total) + line(start + 130, total - 130) + line(start + 260, total - 260));
  EXPECT_TRUE(ReadBytes(out).substr(44) == BinSlice(m_disc, start, total));
}

TEST_F(CdGrab, CheckFailuresInOrderLeaveNoFile) {
  std::string out = m_dir / "never.wav";
  EXPECT_EQ(Grab(std::to_string(m_real + 3), "1", out), 201);
  EXPECT_EQ(Grab("-1", "1", out), 201);
  EXPECT_EQ(Grab(D(2), "1", out), 203);  // an image that does not open
  EXPECT_EQ(Grab(D(0), "4", out), 204);  // the last track number
  EXPECT_EQ(Grab(D(0), "-1", out), 204);
  EXPECT_EQ(Grab(D(1), "0", out), 205);  // one track, even an audio one
  EXPECT_EQ(Grab(D(0), "0", out), 206);  // data
  m_cd->refuseHandle = true;
  EXPECT_EQ(Grab(D(0), "1", out), 202);
  m_cd->refuseHandle = false;
  m_cd->noMemory = true;
  EXPECT_EQ(Grab(D(0), "1", out), 207);
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_TRUE(m_cd->Reads().empty());
}

// A disc numbered from track 4, a TOC that runs backwards, a TOC opened
// from another folder: each track's own blocks, and a track with nothing to
// read fails (209) without a file.
TEST_F(CdGrab, DiscsOfEveryShape) {
  TestImage from4 = WriteCdImage(m_dir.Path(), "from4", {{150}, {100}}, 4);
  cdtest::WriteBin(m_dir / "data.bin", 300);
  cdtest::WriteTocImage(m_dir / "backwards.toc", "data.bin", {{150, 75}, {0, 75}});
  m_images.reset();  // before the new value is set: it restores the old one
  m_images =
      std::make_unique<ScopedEnv>("ZIMBREL_CD_IMAGES", from4.cue + ":" + m_dir / "backwards.toc");
  std::string out = m_dir / "t.wav";
  EXPECT_EQ(Grab(D(0), "1", out), 100);
  EXPECT_TRUE(ReadBytes(out).substr(44) == BinSlice(from4, from4.starts[1], 100));
  EXPECT_EQ(Grab(D(0), "2", out), 204);  // there is no third track

  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir("/"), 0);
  int32_t second = Grab(D(1), "1", out);
  std::string none = m_dir / "none.wav";
  int32_t first = Grab(D(1), "0", none);
  ASSERT_EQ(::chdir(cwd), 0);
  EXPECT_EQ(second, 100);
  EXPECT_TRUE(ReadBytes(out).substr(44) ==
              ReadBytes(m_dir / "data.bin").substr(0, 75 * kCdBlockBytes));
  EXPECT_EQ(first, 209);
  EXPECT_FALSE(std::filesystem::exists(none));
}

TEST_F(CdGrab, OutputInAMissingFolderIs208) {
  EXPECT_EQ(Grab(D(0), "1", m_dir / "no/such/folder/t.wav"), 208);
  EXPECT_EQ(Grab(D(0), "1", ""), 208);
}

TEST_F(CdGrab, ReadsAreTriedThreeTimes) {
  std::string out = m_dir / "t.wav";
  m_cd->failFirstReads = 2;  // the third attempt of the first chunk succeeds
  EXPECT_EQ(Grab(D(0), "1", out), 100);
  EXPECT_EQ(m_cd->Reads().size(), 6u);
  EXPECT_TRUE(ReadBytes(out).substr(44) == BinSlice(m_disc, m_disc.starts[1], 100));

  m_cd = std::make_shared<FaultCdAccess>(MakeDefaultCdAccess());
  m_cd->failFirstReads = 3;
  EXPECT_EQ(Grab(D(0), "1", out), 209);
  EXPECT_EQ(m_cd->Reads().size(), 3u);
  EXPECT_EQ(ReadBytes(out).size(), 44u);
  EXPECT_EQ(LE32(ReadBytes(out), 40), 0u);
}

TEST_F(CdGrab, DeliveryPastTheBufferIsAFailedRead) {
  // The second chunk claims bytes beyond the data area on every attempt; no
  // byte from outside the buffer reaches the file.
  m_cd->afterRead = [](CDAudioBuffer& b, int n) {
    if (n == 1 || n == 2) b.startOffset = 8;
    if (n == 3) b.delivered = kCdAudioDataBytes + 1;
  };
  std::string out = m_dir / "t.wav";
  EXPECT_EQ(Grab(D(0), "1", out), 209);
  std::string wav = ReadBytes(out);
  EXPECT_EQ(wav.size(), 44 + 26 * kCdBlockBytes);
  EXPECT_TRUE(wav.substr(44) == BinSlice(m_disc, m_disc.starts[1], 26));

  // A delivery that starts later in the buffer is taken from there.
  m_cd = std::make_shared<FaultCdAccess>(MakeDefaultCdAccess());
  m_cd->afterRead = [](CDAudioBuffer& b, int) {
    std::memmove(b.data + 4, b.data, b.delivered - 4);
    b.startOffset = 4;
    b.delivered -= 4;
  };
  EXPECT_EQ(Grab(D(0), "1", out), 100);
  EXPECT_EQ(LE32(ReadBytes(out), 40), 100 * kCdBlockBytes - 16);
}

TEST_F(CdGrab, CancelDuringTheLastChunkKeepsDataLengthZero) {
  auto s = m_state;
  m_cd->afterRead = [s](CDAudioBuffer&, int n) {
    if (n == 3) s->Cancel();
  };
  std::string out = m_dir / "t.wav";
  EXPECT_EQ(Grab(D(0), "1", out), 210);
  std::string wav = ReadBytes(out);
  EXPECT_EQ(LE32(wav, 4), 36u);
  EXPECT_EQ(LE32(wav, 40), 0u);
  EXPECT_TRUE(wav.substr(44) == BinSlice(m_disc, m_disc.starts[1], 100));
}

TEST_F(CdGrab, FullDiskEndsIn208) {
  std::string mnt = m_dir / "small";
  std::filesystem::create_directory(mnt);
  if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
  std::string out = mnt + "/t.wav";
  int32_t rc = Grab(D(0), "3", out);  // 280 blocks, 658560 bytes
  uintmax_t size = std::filesystem::file_size(out);
  ::umount2(mnt.c_str(), MNT_DETACH);
  EXPECT_EQ(rc, 208);
  EXPECT_LT(size, 44 + 280 * kCdBlockBytes);
}

}  // namespace
}  // namespace zb::media
