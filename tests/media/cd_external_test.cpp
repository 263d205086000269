// A page's CD flow through the scripting object: list the drives and the
// tracks of an image, grab one track and poll its status, as page script does
// through window.external.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "bridge/external_dispatch.h"
#include "cd_test_image.h"
#include "core/core_host.h"
#include "page_host.h"
#include "platform/utf.h"
#include "temp_dir.h"

namespace zb {
namespace {

using media::cdtest::BinSlice;
using media::cdtest::LE32;
using media::cdtest::ReadBytes;
using media::cdtest::TestImage;
using media::cdtest::WriteCdImage;
using zb::testing::ScopedEnv;
using zb::testing::TempDir;

using zb::testing::CallMember;
using zb::testing::IntArg;
using zb::testing::StrArg;
using zb::testing::TakeString;

class CdThroughExternal : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(jobs::WaitForJobThreadsForTesting(10000)); }

  // Calls a member by name with script-order arguments, as the web view does.
  VARIANT Call(const std::u16string& name, WORD flags, std::vector<VARIANT> args = {}) {
    return CallMember(m_disp, name, flags, std::move(args));
  }
  static VARIANT Str(const std::string& s) { return StrArg(s); }
  static VARIANT Int(int32_t i) { return IntArg(i); }
  static std::string S(VARIANT v) { return TakeString(v); }

  TempDir m_dir;
  ScopedEnv m_registryDir{"ZIMBREL_REGISTRY_DIR", m_dir / "registry"};
  TestImage m_img = WriteCdImage(m_dir.Path(), "Album", {{60, true}, {130}, {200}});
  ScopedEnv m_images{"ZIMBREL_CD_IMAGES", m_img.cue};
  int m_real = media::cdtest::RealDriveCount();
  CoreHost m_host{m_dir.Path(), testing::Quiet()};
  CExternalDispatch m_disp{[this]() -> CoreHost* { return &m_host; }};
};

TEST_F(CdThroughExternal, ListsTheImageAndGrabsATrack) {
  std::string drives = S(Call(u"ZBL_GetDrivesInfo", DISPATCH_METHOD));
  ASSERT_GE(drives.size(), 9u);
  EXPECT_EQ(drives.substr(drives.size() - 9), "Album.cue");
  EXPECT_EQ(S(Call(u"ZBL_GetTracksInfo", DISPATCH_METHOD, {Int(m_real)})), "DATA:::130:::200");
  EXPECT_EQ(S(Call(u"ZBL_GetTracksInfo", DISPATCH_METHOD, {Int(m_real + 1)})),
            "ERROR: Invalid Drive ID");

  std::string out = m_dir / "track 2.wav";
  VARIANT started = Call(u"ZBL_GrabAudioDataFromCD", DISPATCH_METHOD,
                         {Str(std::to_string(m_real)), Str("2"), Str(out)});
  ASSERT_EQ(started.vt, VT_BOOL);
  ASSERT_EQ(started.boolVal, VARIANT_TRUE);

  // Poll as a page does; the status never goes back and ends in 100.
  int32_t last = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    VARIANT st = Call(u"ZBL_ripStatus", DISPATCH_PROPERTYGET);
    ASSERT_EQ(st.vt, VT_INT);
    EXPECT_GE(st.intVal, last);
    last = st.intVal;
    if (last >= 100) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(last, 100);
  std::string wav = ReadBytes(out);
  EXPECT_EQ(LE32(wav, 40), 200 * media::kCdBlockBytes);
  EXPECT_TRUE(wav.substr(44) == BinSlice(m_img, m_img.starts[2], 200));

  // A data track fails at once with its code, through the same members.
  Call(u"ZBL_GrabAudioDataFromCD", DISPATCH_METHOD,
       {Str(std::to_string(m_real)), Str("0"), Str(m_dir / "data.wav")});
  ASSERT_TRUE(jobs::WaitForJobThreadsForTesting(10000));
  EXPECT_EQ(Call(u"ZBL_ripStatus", DISPATCH_PROPERTYGET).intVal, 206);
}

}  // namespace
}  // namespace zb
