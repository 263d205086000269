// A full disk under the transcode output and under the settings store, as a
// page meets it through the scripting object: each reports failure in its own
// terms, nothing is reported as done, and stored settings keep their bytes.
// The disk is a small tmpfs mounted for the test (skipped where mounting is
// not permitted). The grab's full disk is in tests/media/cd_grab_test.cpp.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "bridge/external_dispatch.h"
#include "core/core_host.h"
#include "media/tool_test_support.h"
#include "page_host.h"
#include "platform/utf.h"

namespace zb {
namespace {

using namespace zb::testing;

// A tmpfs of `size` mounted on a new folder; unmounted when it goes.
class SmallDisk {
 public:
  SmallDisk(const std::string& where, const char* size) : m_path(where) {
    std::filesystem::create_directory(m_path);
    std::string opts = std::string("size=") + size;
    if (::mount("tmpfs", m_path.c_str(), "tmpfs", 0, opts.c_str()) == 0)
      m_mounted = true;
    else
      m_why = std::strerror(errno);
  }
  ~SmallDisk() {
    if (m_mounted) ::umount2(m_path.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return m_mounted; }
  const std::string& Why() const { return m_why; }
  const std::string& Path() const { return m_path; }

  // Writes a filler file until the disk refuses another byte.
  void Fill() {
    int fd = ::open((m_path + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    std::vector<char> block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    for (char c = 'f'; ::write(fd, &c, 1) == 1;) {
    }
    ::close(fd);
  }
  void Unfill() { ::unlink((m_path + "/filler").c_str()); }

 private:
  std::string m_path;
  bool m_mounted = false;
  std::string m_why;
};

class DiskFull : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(AllSettled()); }

  VARIANT Call(CExternalDispatch& d, const std::u16string& name, WORD flags,
               std::vector<VARIANT> args = {}) {
    return CallMember(d, name, flags, std::move(args));
  }
  static VARIANT Str(const std::string& s) { return StrArg(s); }
  static std::string S(VARIANT v) { return TakeString(v); }

  ModuleDir m_m;
};

// The ringtone does not fit: cut in the middle (ffmpeg exits with 1) or only
// at its very end (ffmpeg 5.1 exits with 0 but reports the failed writes).
// Either way the page never reads 1.
TEST_F(DiskFull, TranscodeOutputEndsInTwo) {
  SmallDisk disk(m_m.dir / "small", "64k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here: " << disk.Why();
  m_m.LinkTool("ffmpeg", "/usr/bin/ffmpeg");
  ScopedEnv registryDir("ZIMBREL_REGISTRY_DIR", m_m.dir / "registry");
  CoreHost host(m_m.Path(), testing::Quiet());
  CExternalDispatch disp([&]() -> CoreHost* { return &host; });

  // At 64 kbit/s: 10 s is 80 kB, a little more than the disk; 60 s is 480 kB.
  for (int seconds : {10, 60}) {
    SCOPED_TRACE(seconds);
    std::string song = m_m.dir / ("song" + std::to_string(seconds) + ".wav");
    ASSERT_EQ(Sh("sox -n -r 44100 -c 2 " + ShellQuote(song) + " synth " + std::to_string(seconds) +
                 " sine 440"),
              0);
    std::string ring = disk.Path() + "/ringtone.mp3";
    VARIANT r = Call(disp, u"ZBL_TranscodeMedia", DISPATCH_METHOD, {Str(song), Str(ring)});
    ASSERT_EQ(r.boolVal, VARIANT_TRUE);
    std::vector<int32_t> seen;
    WaitUntil(
        [&] {
          VARIANT s = Call(disp, u"ZBL_tsStatus", DISPATCH_PROPERTYGET);
          if (seen.empty() || seen.back() != s.intVal) seen.push_back(s.intVal);
          return s.intVal != 0;
        },
        60000);
    EXPECT_EQ(seen, (std::vector<int32_t>{0, 2}));
    ::unlink(ring.c_str());
  }
}

// A value set while the settings' disk is full: the write fails with its
// trace, the page still reads the new value (kept pending in memory), the
// value file keeps its old bytes, a value never stored gets no file, and the
// pending value is written when the window closes once there is room again.
TEST_F(DiskFull, SettingsKeepTheirBytesAndTheNewValueStaysPending) {
  SmallDisk disk(m_m.dir / "registry", "64k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here: " << disk.Why();
  ScopedEnv registryDir("ZIMBREL_REGISTRY_DIR", disk.Path());
  std::string key = disk.Path() + "/HKEY_CURRENT_USER/Software/Zimbrel";
  auto host = std::make_unique<CoreHost>(m_m.Path(), testing::Quiet());
  auto disp = std::make_unique<CExternalDispatch>([&]() -> CoreHost* { return host.get(); });
  Call(*disp, u"ZBL_SetZBName", DISPATCH_METHOD, {Str("Alice Example")});
  const std::string stored = ReadFile(key + "/ZBName");  // type REG_BINARY, then the data
  ASSERT_EQ(stored, std::string("\x03\0\0\0Alice Example", 17));

  disk.Fill();
  ::testing::internal::CaptureStdout();
  Call(*disp, u"ZBL_SetZBName", DISPATCH_METHOD, {Str("Bob")});
  Call(*disp, u"ZBL_SetZBPhone", DISPATCH_METHOD, {Str("5551234")});
  std::string trace = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(trace.find("writing current value of key \"ZBName\" (data size is 3 bytes) to "
                       "registry ... Failed!\n"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find("writing current value of key \"ZBPhone\" (data size is 7 bytes) to "
                       "registry ... Failed!\n"),
            std::string::npos)
      << trace;
  EXPECT_EQ(S(Call(*disp, u"ZBL_GetZBName", DISPATCH_METHOD)), "Bob");
  EXPECT_EQ(S(Call(*disp, u"ZBL_GetZBPhone", DISPATCH_METHOD)), "5551234");
  EXPECT_EQ(ReadFile(key + "/ZBName"), stored);
  EXPECT_FALSE(Exists(key + "/ZBPhone"));
  EXPECT_EQ(ShOut("ls -A " + ShellQuote(key)), "ZBName\n");  // no temporary left
  {
    // Another reader of the store sees the stored value.
    registry r("Software\\Zimbrel", reg::Root::kCurrentUser);
    registry::value v(r, "ZBName");
    EXPECT_EQ(v.get(), "Alice Example");
  }

  disk.Unfill();
  disp.reset();
  host.reset();  // the pending values are written as the window goes
  EXPECT_EQ(ReadFile(key + "/ZBName"), std::string("\x03\0\0\0Bob", 7));
  EXPECT_EQ(ReadFile(key + "/ZBPhone"), std::string("\x03\0\0\0"
                                                    "5551234",
                                                    11));
}

}  // namespace
}  // namespace zb
