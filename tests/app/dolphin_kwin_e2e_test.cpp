// Dolphin's "Send to Phone as Ringtone" under KWin: real Dolphin 22.12 on
// KWin's Wayland session with our plugin (QT_PLUGIN_PATH puts the build's
// plugins/ folder first; nothing is installed), the keyboard (KWin's fake
// input) opens the context menu of the selected song and chooses the entry,
// and the real program starts on the same display with the song.
// dolphin_ui_probe reads the menu's entries through AT-SPI on KWin's session
// bus, which Dolphin shares. scripts/test-wayland.sh runs it as an ordinary
// user (ZIMBREL_WAYLAND_TESTS=1).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app_harness.h"
#include "app/desktop.h"
#include "child_process.h"
#include "settings/registry.h"
#include "temp_dir.h"

extern char** environ;

namespace zb::testing {
namespace {
namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

constexpr char kEntry[] = "Send to Phone as Ringtone";
constexpr char kApprovalKeyPath[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

// The processes whose program is `exe`.
std::vector<pid_t> ProcessesOf(const std::string& exe) {
  std::vector<pid_t> out;
  std::error_code ec;
  for (auto& e : fs::directory_iterator("/proc", ec)) {
    const std::string name = e.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code rc;
    if (fs::read_symlink(e.path() / "exe", rc) == exe) out.push_back(std::stoi(name));
  }
  return out;
}

// The entries the probe wrote, in the menu's order, without their places.
std::vector<std::string> MenuTexts(const std::string& file) {
  std::ifstream f(file);
  std::vector<std::string> out;
  for (std::string line; std::getline(f, line);) {
    size_t tab = line.find('\t');
    out.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
  }
  return out;
}

TEST(DolphinOnKWin, TheEntryStartsTheProgramOnTheSameDisplay) {
  if (!std::getenv("ZIMBREL_WAYLAND_TESTS"))
    GTEST_SKIP() << "Wayland runs: scripts/test-wayland.sh (as an ordinary user)";
  const std::string build = BuildDir();
  const std::string plugins = build + "/plugins", probe = build + "/tests/dolphin_ui_probe";
  const std::string regsvr = build + "/bin/dovetril-regsvr", library = build + "/lib/dovetril.so";
  for (const std::string& tool :
       {std::string("/usr/bin/dolphin"), std::string("/usr/bin/kwin_wayland"), plugins, probe,
        regsvr, library, build + "/tests/zimbrel-fake-input"})
    if (!fs::exists(tool)) GTEST_SKIP() << tool << " is missing";

  Desktop desktop(DesktopKind::kKWin);
  ASSERT_TRUE(desktop.Ok()) << desktop.Log();
  AppHarness app;
  TempDir home, music;
  const std::string song = music / "My Song.mp3";  // (the entry takes no WAV files)
  ASSERT_TRUE(MakeSong(song, 2.0, true));
  // The page says which file the program was started with and whether its
  // window has the keyboard focus; Esc closes the program.
  app.WritePage("selectSong.html", R"(<!doctype html><html><body style="background:#00ffff">
<script>var x = window.external, file = x.ZBL_clFileName;
function report() { x.ZBL_SetZBName(file + (document.hasFocus() ? '|focus' : '')); }
addEventListener('focus', report); addEventListener('load', report);
document.addEventListener('keydown', function (e) { if (e.key === 'Escape') x.ZBL_CloseWindow(); });
</script></body></html>)");
  {
    // What the install and the program's first start leave in the registry.
    ScopedEnv env("ZIMBREL_REGISTRY_DIR", app.RegistryDir());
    reg::HKEY key = nullptr;
    reg::RegCreateKeyExA(reg::HKEY_LOCAL_MACHINE, kApprovalKeyPath, 0, nullptr, 0,
                         reg::KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (key) reg::RegCloseKey(key);
    registry settings("Software\\Zimbrel", reg::Root::kCurrentUser);
    registry::value instDir(settings, "ZBInstDir");
    instDir.set(app.ModuleDir());
  }
  RunCapture({"env", "ZIMBREL_REGISTRY_DIR=" + app.RegistryDir(), regsvr, library});

  // Dolphin on KWin's display and bus (with the accessibility bus, which
  // the bus starts when asked), the program it starts inherits all that.
  const std::vector<std::string> env{
      "QT_QPA_PLATFORM=wayland",
      "QT_PLUGIN_PATH=" + plugins,
      "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1",
      "DBUS_SESSION_BUS_ADDRESS=" + desktop.BusAddress(),
      "HOME=" + home.Path(),
      "XDG_CONFIG_HOME=" + (home / ".config"),
      "XDG_DATA_HOME=" + (home / ".local/share"),
      "XDG_CACHE_HOME=" + fs::path(app.WorkDir()).parent_path().parent_path().string(),
      "ZIMBREL_REGISTRY_DIR=" + app.RegistryDir(),
      "WEBKIT_DISABLE_COMPOSITING_MODE=1",
      "GSK_RENDERER=cairo",
      "NO_AT_BRIDGE=1",
  };
  std::vector<std::string> dolphinEnv;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    std::string name = kv.substr(0, kv.find('='));
    if (name != "DISPLAY" && name != "QT_QPA_PLATFORM" && name != "DBUS_SESSION_BUS_ADDRESS")
      dolphinEnv.push_back(kv);
  }
  dolphinEnv.insert(dolphinEnv.end(), env.begin(), env.end());
  const std::string log = home / "dolphin.txt";
  pid_t dolphin = SpawnLogged({"dolphin", "--select", song}, log, -1, &dolphinEnv);
  ASSERT_GT(dolphin, 0);

  // Menu (the context-menu key) opens the menu of the selection; Down moves
  // into it, which the probe waits for to read the entries. The first tries
  // may come before the window has the focus and the selection.
  const std::string menu = home / "menu.txt";
  std::vector<std::string> entries;
  for (int attempt = 0; attempt < 6 && entries.empty(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(attempt == 0 ? 3000 : 1000));
    fs::remove(menu);
    std::vector<std::string> probeEnv = dolphinEnv;
    pid_t reader = SpawnLogged({probe, "menu", menu, "6"}, home / "probe.txt", -1, &probeEnv);
    ASSERT_TRUE(app.WaitUntil([&] { return fs::exists(menu + ".ready"); }, 10000));
    desktop.Keys({"Menu"});
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    desktop.Keys({"Down"});
    EndChild(reader, std::chrono::milliseconds(8000));
    entries = MenuTexts(menu);
    if (entries.empty()) desktop.Keys({"Escape"});
  }
  ASSERT_FALSE(entries.empty()) << "no context menu was read\n" << Slurp(log);
  auto at = std::find(entries.begin(), entries.end(), kEntry);
  ASSERT_NE(at, entries.end()) << "the menu has no entry: " << ::testing::PrintToString(entries)
                               << "\n"
                               << Slurp(log) << RunCapture({"find", app.RegistryDir()});
  // Down is on the first entry; the entry is further down.
  std::vector<std::string> keys(static_cast<size_t>(at - entries.begin()), "Down");
  desktop.Keys(keys);
  desktop.Screenshot(ShotDir() + "/kwin-dolphin-menu.png");  // the entry chosen
  desktop.Keys({"Return"});

  // The program shows its page with the song, on KWin's display.
  ASSERT_TRUE(app.WaitUntil([&] { return app.Value("ZBName").rfind(song, 0) == 0; }, 60000))
      << "the program never showed the song: " << app.Value("ZBName") << "\n"
      << Slurp(log);
  const std::string exe = app.ModuleDir() + "/zimbrel";
  EXPECT_EQ(ProcessesOf(exe).size(), 1u);
  ASSERT_TRUE(app.WaitUntil([&] { return app.Value("ZBName") == song + "|focus"; }, 20000))
      << app.Value("ZBName");
  const std::string shot = ShotDir() + "/kwin-dolphin-started.png";
  EXPECT_TRUE(desktop.Screenshot(shot));
  desktop.Keys({"Escape"});
  EXPECT_TRUE(app.WaitUntil([&] { return ProcessesOf(exe).empty(); }, 20000))
      << "the program did not end";
  for (pid_t p : ProcessesOf(exe)) ::kill(p, SIGKILL);
  EndChild(dolphin, std::chrono::milliseconds(5000));
}

}  // namespace
}  // namespace zb::testing
