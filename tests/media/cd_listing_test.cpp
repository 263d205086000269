// The drive and track lists, and the libcdio layer beneath them, on images
// that the tests write.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "bridge/page_texts.h"
#include "cd_test_image.h"
#include "media/cd_access.h"
#include "media/cd_jobs.h"
#include "temp_dir.h"

namespace zb::media {
namespace {

using cdtest::FaultCdAccess;
using cdtest::RealDriveCount;
using cdtest::TestImage;
using cdtest::WriteCdImage;
using zb::testing::ScopedEnv;
using zb::testing::TempDir;

// The lists as the page gets them.
std::string Drives(CdAccess& cd) {
  return PageText(GetDrivesInfo(cd));
}
std::string Tracks(CdAccess& cd, int drive) {
  return PageText(GetTracksInfo(cd, drive));
}

class CdListing : public ::testing::Test {
 protected:
  void SetUp() override { m_real = RealDriveCount(); }

  // The drive list when the images are `names`: the real drives come first.
  std::string DriveList(const std::string& names) {
    if (m_real == 0) return names;
    return GetDrivesInfoWith("") + ":::" + names;
  }
  std::string GetDrivesInfoWith(const std::string& images) {
    ScopedEnv env("ZIMBREL_CD_IMAGES", images);
    return Drives(*MakeDefaultCdAccess());
  }

  TempDir m_dir;
  int m_real = 0;
};

TEST_F(CdListing, ListsOneAndTwoImagesByFileName) {
  WriteCdImage(m_dir.Path(), "first", {{30}, {40}});
  WriteCdImage(m_dir.Path(), "second", {{30}, {40}});
  EXPECT_EQ(GetDrivesInfoWith(m_dir / "first.cue"), DriveList("first.cue"));
  // Empty entries in the variable are skipped.
  EXPECT_EQ(GetDrivesInfoWith(m_dir / "first.cue" + "::" + m_dir / "second.cue" + ":"),
            DriveList("first.cue:::second.cue"));
  if (m_real == 0) {
    EXPECT_EQ(GetDrivesInfoWith(""), "ERROR: No drives found");
  }
}

TEST_F(CdListing, AtMostEightDrivesAndNamesStayParseable) {
  std::string images;
  for (int i = 0; i < 10; ++i) images += m_dir / ("d" + std::to_string(i) + ".cue") + ":";
  ScopedEnv env("ZIMBREL_CD_IMAGES", images);
  auto cd = MakeDefaultCdAccess();
  CDDriveList list{};
  cd->GetCDList(&list);
  EXPECT_EQ(list.count, 8);
  EXPECT_EQ(list.entries[7].hostAdapter, m_real > 7 ? 0 : 1);

  // Names are cut to 42 bytes without splitting a character.
  ScopedEnv names("ZIMBREL_CD_IMAGES", m_dir / (std::string(41, 'x') + "\xC3\xA9yz.cue"));
  EXPECT_EQ(cd->GetCDList(&list), 1);
  EXPECT_EQ(std::string(list.entries[m_real].productName), std::string(41, 'x'));
}

TEST(CdDriveName, NamesStayParseableWhenJoined) {
  EXPECT_EQ(CdListableName("HL-DT-ST DVDRAM GH24NSD1"), "HL-DT-ST DVDRAM GH24NSD1");
  EXPECT_EQ(CdListableName("A:::B"), "AB");
  EXPECT_EQ(CdListableName("::::::x:::::y:"), "x::y");
  EXPECT_EQ(CdListableName(":::"), "");
  EXPECT_EQ(CdListableName(std::string(50, 'n')), std::string(42, 'n'));
  EXPECT_EQ(CdListableName(std::string(41, 'n') + ":z"), std::string(41, 'n'));
}

TEST_F(CdListing, TracksOfMixedAudioAndOneTrackDiscs) {
  // Data first; track 3 has a pregap, which counts to track 2's length; the
  // last track runs to the lead-out.
  TestImage mixed = WriteCdImage(m_dir.Path(), "mixed",
                                 {{300, true}, {1000}, {13500, false, 150, "DCP PRE 4CH"}});
  TestImage audio = WriteCdImage(m_dir.Path(), "audio", {{100}, {250}, {75}});
  TestImage single = WriteCdImage(m_dir.Path(), "single", {{500}});
  TestImage data = WriteCdImage(m_dir.Path(), "data", {{500, true}});
  ScopedEnv env("ZIMBREL_CD_IMAGES", mixed.cue + ":" + audio.cue + ":" + single.cue + ":" +
                                         data.cue + ":" + m_dir / "missing.cue");
  auto cd = MakeDefaultCdAccess();
  EXPECT_EQ(Tracks(*cd, m_real + 0), "DATA:::1150:::13500");
  EXPECT_EQ(Tracks(*cd, m_real + 1), "100:::250:::75");
  EXPECT_EQ(Tracks(*cd, m_real + 2), "ERROR: Not an audio CD");
  EXPECT_EQ(Tracks(*cd, m_real + 3), "ERROR: Not an audio CD");
  // An image that does not open is a drive without a disc.
  EXPECT_EQ(Tracks(*cd, m_real + 4), "ERROR: No CD inserted");
  EXPECT_EQ(Tracks(*cd, m_real + 5), "ERROR: Invalid Drive ID");
  EXPECT_EQ(Tracks(*cd, -1), "ERROR: Invalid Drive ID");
}

// Discs as some discs and images are: numbered from track 4 or 50, and
// tables of contents that run backwards. Exactly their tracks are listed,
// each with a length above zero or as a track that cannot be grabbed.
TEST_F(CdListing, EveryDiscListsExactlyItsTracks) {
  TestImage from4 = WriteCdImage(m_dir.Path(), "from4", {{150}, {150}}, 4);
  TestImage from50 = WriteCdImage(m_dir.Path(), "from50", {{100, true}, {200}, {300}}, 50);
  // A CUE whose second track starts before its first.
  cdtest::WriteBin(m_dir / "backwards.bin", 300);
  std::ofstream(m_dir / "backwards.cue") << "FILE \"backwards.bin\" BINARY\n"
                                            "  TRACK 01 AUDIO\n    INDEX 01 00:02:00\n"
                                            "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n"
                                            "  TRACK 03 AUDIO\n    INDEX 01 00:03:00\n";
  // A TOC whose first track lies behind the disc's end.
  cdtest::WriteBin(m_dir / "data.bin", 300);
  cdtest::WriteTocImage(m_dir / "backwards.toc", "data.bin", {{150, 75}, {0, 75}});
  ScopedEnv env("ZIMBREL_CD_IMAGES", from4.cue + ":" + from50.cue + ":" + m_dir / "backwards.cue" +
                                         ":" + m_dir / "backwards.toc");
  auto cd = MakeDefaultCdAccess();
  EXPECT_EQ(Tracks(*cd, m_real + 0), "150:::150");
  EXPECT_EQ(Tracks(*cd, m_real + 1), "DATA:::200:::300");
  EXPECT_EQ(Tracks(*cd, m_real + 2), "75:::75:::75");
  EXPECT_EQ(Tracks(*cd, m_real + 3), "DATA:::75");
}

// A TOC names its data files relative to its own folder, whatever the
// program's current folder is.
TEST_F(CdListing, TocImagesOpenFromAnyFolder) {
  std::filesystem::create_directories(m_dir / "my disc/audio");
  cdtest::WriteBin(m_dir / "my disc/audio/disc.bin", 300);
  std::string plain =
      cdtest::WriteTocImage(m_dir / "my disc/plain.toc", "audio/disc.bin", {{0, 100}, {100, 200}});
  // Comments, CD-TEXT strings and absolute names are left as they are.
  std::ofstream(m_dir / "my disc/text.toc")
      << "// FILE \"not/a/file\" 0\nCD_DA\nCD_TEXT { LANGUAGE 0 { TITLE \"FILE x\" } }\n"
         "TRACK AUDIO\nAUDIOFILE \"audio/disc.bin\" 0 00:01:00\n"
         "TRACK AUDIO\nFILE \""
      << m_dir / "my disc/audio/disc.bin"
      << "\" 00:01:00 00:01:00\n";
  ScopedEnv env("ZIMBREL_CD_IMAGES", plain + ":" + m_dir / "my disc/text.toc");
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir("/"), 0);
  auto cd = MakeDefaultCdAccess();
  std::string listed = Tracks(*cd, m_real + 0), text = Tracks(*cd, m_real + 1);
  ASSERT_EQ(::chdir(cwd), 0);
  EXPECT_EQ(listed, "100:::200");
  EXPECT_EQ(text, "75:::75");
}

TEST_F(CdListing, LayerFailuresGiveTheirTextsAndEveryHandleIsClosed) {
  TestImage two = WriteCdImage(m_dir.Path(), "two", {{100}, {100}});
  TestImage one = WriteCdImage(m_dir.Path(), "one", {{100}});
  ScopedEnv env("ZIMBREL_CD_IMAGES", two.cue + ":" + one.cue + ":" + m_dir / "none.cue");
  FaultCdAccess cd(MakeDefaultCdAccess());
  EXPECT_EQ(Tracks(cd, m_real + 0), "100:::100");
  EXPECT_EQ(Tracks(cd, m_real + 1), "ERROR: Not an audio CD");
  EXPECT_EQ(Tracks(cd, m_real + 2), "ERROR: No CD inserted");
  EXPECT_EQ(cd.OpenHandles(), 0);
  cd.refuseHandle = true;
  EXPECT_EQ(Tracks(cd, m_real + 0), "ERROR: Could not get handle to CD");
  cd.hideDrives = true;
  EXPECT_EQ(Drives(cd), "ERROR: No drives found");
  EXPECT_EQ(Tracks(cd, 0), "ERROR: Invalid Drive ID");
}

// The table of contents as READ TOC gives it: big-endian logical block
// addresses after ModifyCDParms, minute/second/frame without it.
TEST_F(CdListing, TableOfContentsRecord) {
  TestImage img =
      WriteCdImage(m_dir.Path(), "toc", {{300, true}, {1000, false, 150, "DCP PRE 4CH"}});
  ScopedEnv env("ZIMBREL_CD_IMAGES", img.cue);
  auto cd = MakeDefaultCdAccess();
  CDDriveList list{};
  cd->GetCDList(&list);
  CDHandleRequest req = CdRequestFor(list.entries[m_real]);
  CDHandle h = cd->GetCDHandle(&req);
  ASSERT_NE(h, 0u);

  CDContents msf{};
  ASSERT_EQ(cd->ReadTOC(h, &msf), 1);
  int32_t a = img.starts[1] + 150;  // MSF counts the 2-second lead-in
  EXPECT_EQ(msf.tracks[1].address[1], a / 4500);
  EXPECT_EQ(msf.tracks[1].address[2], a / 75 % 60);
  EXPECT_EQ(msf.tracks[1].address[3], a % 75);

  cd->ModifyCDParms(h, kCdParmLbaAddressing, 0);
  CDContents toc{};
  ASSERT_EQ(cd->ReadTOC(h, &toc), 1);
  EXPECT_EQ(toc.dataLength[0] * 256 + toc.dataLength[1], 2 + 8 * 3);
  EXPECT_EQ(toc.firstTrack, 1);
  EXPECT_EQ(toc.lastTrack, 2);
  EXPECT_EQ(toc.tracks[0].adrControl & 0x0F, kCdControlData);
  EXPECT_EQ(toc.tracks[1].adrControl & 0x0F,
            kCdControlCopyPermitted | kCdControlPreEmphasis | kCdControlFourChannels);
  EXPECT_EQ(toc.tracks[1].trackNumber, 2);
  EXPECT_EQ(toc.tracks[2].trackNumber, 0xAA);
  EXPECT_EQ(CdAddress(toc.tracks[0]), 0u);
  EXPECT_EQ(CdAddress(toc.tracks[1]), uint32_t(img.starts[1]));
  EXPECT_EQ(CdAddress(toc.tracks[2]), uint32_t(img.leadOut));
  EXPECT_EQ(toc.tracks[1].address[0], (img.starts[1] >> 24) & 0xFF);
  EXPECT_EQ(toc.tracks[1].address[3], img.starts[1] & 0xFF);

  // Reads that do not fit the buffer are refused; a closed handle is dead.
  auto buf = cd->AllocAudioBuffer();
  buf->capacity = kCdAudioDataBytes;
  buf->startBlock = img.starts[1];
  buf->numBlocks = kCdChunkBlocks + 1;
  EXPECT_NE(cd->ReadCDAudioLBA(h, buf.get()), 1);
  buf->numBlocks = 2;
  ASSERT_EQ(cd->ReadCDAudioLBA(h, buf.get()), 1);
  EXPECT_EQ(buf->delivered, 2 * kCdBlockBytes);
  EXPECT_EQ(buf->startOffset, 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf->data), buf->delivered),
            cdtest::BinSlice(img, img.starts[1], 2));
  cd->CloseCDHandle(h);
  EXPECT_NE(cd->ReadCDAudioLBA(h, buf.get()), 1);
  EXPECT_NE(cd->ReadTOC(h, &toc), 1);
}

// libcdio logs through one process-wide slot that aborts the program when
// two threads log at once. An image whose data track is shorter than the
// pregap makes every open log a warning: threads that list, open and read
// such an image at the same time must never meet inside libcdio.
TEST_F(CdListing, ThreadsThatMakeLibcdioLogAtOnceDoNotAbort) {
  WriteCdImage(m_dir.Path(), "warns", {{60, true}, {80}});
  ScopedEnv env("ZIMBREL_CD_IMAGES", m_dir / "warns.cue");
  auto cd = MakeDefaultCdAccess();
  CDDriveList list{};
  ASSERT_EQ(cd->GetCDList(&list), 1);
  const CDDriveEntry entry = list.entries[list.count - 1];
  std::atomic<int> tocs{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 150; ++i) {
        if (t == 0) {
          (void)GetDrivesInfo(*cd);
          continue;
        }
        CDHandleRequest r{};
        r.hostAdapter = entry.hostAdapter;
        r.target = entry.target;
        CDHandle h = cd->GetCDHandle(&r);
        CDContents toc{};
        if (h && cd->ReadTOC(h, &toc)) ++tocs;
        cd->CloseCDHandle(h);
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(tocs.load(), 3 * 150);
}

}  // namespace
}  // namespace zb::media
