// Real Nautilus 43 with our module, installing nothing on the machine: a
// private mount namespace puts a test folder over Nautilus's extension
// folder, Nautilus runs under Xvfb with its own D-Bus session, and the
// keyboard opens the context menu of one selected .mp3 and chooses the entry.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "shellext_test_support.h"

namespace {

namespace fs = std::filesystem;
using zb::testing::Quote;
using zb::testing::Shell;
using zb::testing::TempDir;

TEST(NautilusE2E, ChoosingTheEntryStartsTheProgramWithTheSelectedFile) {
  for (const char* tool : {"/usr/bin/nautilus", "/usr/bin/xvfb-run", "/usr/bin/dbus-run-session",
                           "/usr/bin/xdotool", "/usr/bin/unshare"})
    if (access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed";
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer build's module cannot load into the system's Nautilus";
#endif
  if (Shell("unshare -m true 2>/dev/null") != 0)
    GTEST_SKIP() << "unshare -m is not permitted here (no private mount namespace)";

  TempDir dir;
  std::string ext = dir / "ext", reg = dir / "reg", home = dir / "home";
  std::string app = dir / "app", record = dir / "argv";
  std::string song = dir / "My Music/first song.mp3";
  fs::create_directories(ext);
  fs::create_directories(home);
  fs::create_directories(fs::path(song).parent_path());
  std::ofstream(song) << "not really audio";
  fs::copy_file(NAUTILUS_MODULE, ext + "/libzimbrel-nautilus.so");
  {
    zb::testing::ScopedEnv env("ZIMBREL_REGISTRY_DIR", reg);
    zb::testing::ProvisionApprovalKey();
    zb::testing::MakeFakeProgram(app, record);
    zb::testing::WriteInstDir(app);
    ASSERT_EQ(Shell(std::string(REGSVR_TOOL) + " " + DOVETRIL_SO + " >/dev/null"), 0);
  }

  // Inside the namespace: the extension folder, then the session.
  std::string drive = dir / "drive.sh";
  std::ofstream(drive)
      << "#!/bin/sh\n"
         "nautilus --select \"$SONG\" >\"$LOG\" 2>&1 &\n"
         "n=$!\n"
         "i=0\n"
         "until xdotool search --onlyvisible --class nautilus >/dev/null 2>&1; do\n"
         "  i=$((i+1)); [ $i -gt 120 ] && break; sleep 0.25\n"
         "done\n"
         "sleep 3\n"  // the view selects the file after the window shows
         // The handlers' section sits right above Properties, the last item:
         // Up from the first item wraps to Properties. A slow start gets
         // another try.
         "for try in 1 2 3; do\n"
         "  xdotool key shift+F10; sleep 1.5\n"
         "  xdotool key Up; sleep 0.5; xdotool key Up; sleep 0.5\n"
         "  xdotool key Return\n"
         "  i=0\n"
         "  until [ -e \"$RECORD\" ] || [ $i -gt 40 ]; do i=$((i+1)); sleep 0.25; done\n"
         "  [ -e \"$RECORD\" ] && break\n"
         "  xdotool key Escape; sleep 1\n"
         "done\n"
         "nautilus -q >/dev/null 2>&1\n"
         "sleep 1; kill $n 2>/dev/null; wait $n\n";
  fs::permissions(drive, fs::perms::owner_all);
  std::string extDir = NAUTILUS_EXTENSION_DIR;
  std::string inner =
      "mount --make-rprivate / && mount --bind " + Quote(ext) + " " + Quote(extDir) +
      " && exec env HOME=" + Quote(home) + " XDG_CONFIG_HOME=" + Quote(home + "/.config") +
      " XDG_CACHE_HOME=" + Quote(home + "/.cache") +
      " XDG_DATA_HOME=" + Quote(home + "/.local/share") + " ZIMBREL_REGISTRY_DIR=" + Quote(reg) +
      " SONG=" + Quote(song) + " RECORD=" + Quote(record) + " LOG=" + Quote(dir / "nautilus.log") +
      " GSK_RENDERER=cairo NO_AT_BRIDGE=1 ASAN_OPTIONS=detect_leaks=0"
      " timeout -k 5 120 xvfb-run -a -s '-screen 0 1280x800x24 -noreset' dbus-run-session -- " +
      Quote(drive);
  Shell("unshare -m sh -c " + Quote(inner) + " >/dev/null 2>&1");

  EXPECT_EQ(zb::testing::WaitForRecord(record, std::chrono::seconds(2)),
            (std::vector<std::string>{app + "/zimbrel", song}))
      << zb::testing::FileBytes(dir / "nautilus.log");
}

}  // namespace
