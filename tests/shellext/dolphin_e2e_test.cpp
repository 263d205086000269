// Real Dolphin 22.12 with our plugin, installing nothing: QT_PLUGIN_PATH puts
// the build's plugins/ folder first, Dolphin runs under Xvfb with its own
// D-Bus session (which also starts the accessibility bus), the keyboard opens
// the context menu of each selection, and dolphin_ui_probe reads the menu's
// entries and the error box's texts through AT-SPI. The entry is chosen with
// the mouse, as a user would.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "shellext_test_support.h"

namespace {

namespace fs = std::filesystem;
using zb::testing::Quote;
using zb::testing::Shell;
using zb::testing::TempDir;

constexpr char kEntry[] = "Send to Phone as Ringtone";

// The probe's lines, the part after the tab unescaped.
std::vector<std::string> Texts(const std::string& file) {
  std::vector<std::string> out;
  std::istringstream in(zb::testing::FileBytes(file));
  std::string line;
  while (std::getline(in, line)) {
    size_t tab = line.find('\t');
    std::string text, raw = tab == std::string::npos ? "" : line.substr(tab + 1);
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\\' && i + 1 < raw.size()) {
        text += raw[i + 1] == 'n' ? '\n' : raw[i + 1];
        ++i;
      } else {
        text += raw[i];
      }
    }
    out.push_back(line.substr(0, tab == std::string::npos ? line.size() : tab + 1) + text);
  }
  return out;
}

int Count(const std::vector<std::string>& lines, const std::string& suffix) {
  int n = 0;
  for (const auto& l : lines)
    if (l.size() >= suffix.size() &&
        l.compare(l.size() - suffix.size(), suffix.size(), suffix) == 0)
      ++n;
  return n;
}

// One Dolphin per selection: start it with the selection, open the context
// menu with the Menu key, read it (the probe needs an entry to take the
// focus: Down), then choose the entry by a click on its centre or close the
// menu. CHOOSE=box also reads the error box and presses its OK button.
constexpr char kDriver[] = R"(#!/bin/sh
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb
run_case() {
  name=$1; choose=$2; shift 2
  dolphin --select "$@" >>"$OUT/dolphin.log" 2>&1 &
  d=$!
  i=0
  until xdotool search --onlyvisible --class dolphin >/dev/null 2>&1; do
    i=$((i+1)); [ $i -gt 120 ] && break; sleep 0.25
  done
  sleep 2  # the view selects the items after the window shows
  for try in 1 2 3; do
    rm -f "$OUT/$name.menu" "$OUT/$name.menu.ready"
    "$PROBE" menu "$OUT/$name.menu" 8 & p=$!
    i=0
    until [ -e "$OUT/$name.menu.ready" ] || [ $i -gt 100 ]; do i=$((i+1)); sleep 0.1; done
    xdotool key Menu; sleep 1; xdotool key Down
    wait $p && break
    xdotool key Escape; sleep 1
  done
  at=$(grep "	$ENTRY\$" "$OUT/$name.menu" 2>/dev/null | head -n 1 | cut -f 1)
  if [ "$choose" != no ] && [ -n "$at" ]; then
    xdotool mousemove $at click 1
  else
    xdotool key Escape
  fi
  if [ "$choose" = yes ]; then
    i=0
    until [ -e "$RECORD" ] || [ $i -gt 100 ]; do i=$((i+1)); sleep 0.1; done
  fi
  if [ "$choose" = box ]; then
    "$PROBE" window "Fatal Error" "$OUT/box" 15
    ok=$(grep "^button .*	&*O&*K\$" "$OUT/box" | head -n 1 | cut -f 1 | cut -d ' ' -f 2-)
    [ -n "$ok" ] && xdotool mousemove $ok click 1
    sleep 1
    "$PROBE" window "Fatal Error" "$OUT/box-after" 2 || echo closed > "$OUT/box-closed"
    kill -0 $d 2>/dev/null && echo alive > "$OUT/alive-after-box"
  fi
  kill $d 2>/dev/null; wait $d
}
run_case song yes "$SONG"
run_case notes no "$NOTES"
run_case two no "$SONG" "$OTHER"
run_case folder no "$FOLDER"
export ZIMBREL_REGISTRY_DIR="$REG_NOWHERE"
run_case nowhere box "$SONG"
)";

TEST(DolphinE2E, EntryOnlyForOneAudioFileStartsTheProgramOrShowsTheErrorBox) {
  for (const char* tool : {"/usr/bin/dolphin", "/usr/bin/xvfb-run", "/usr/bin/dbus-run-session",
                           "/usr/bin/xdotool", "/usr/libexec/at-spi-bus-launcher"})
    if (access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed";
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer build's plugin cannot load into the system's Dolphin";
#endif

  TempDir dir;
  std::string reg = dir / "reg", regNowhere = dir / "reg-nowhere", home = dir / "home";
  std::string app = dir / "app", record = dir / "argv", out = dir / "out";
  std::string music = dir / "My Music";
  std::string song = music + "/first  song's.mp3", other = music + "/second.mp3";
  std::string notes = music + "/notes.txt", folder = music + "/album.mp3";
  fs::create_directories(home);
  fs::create_directories(out);
  fs::create_directories(folder);
  for (const auto& f : {song, other, notes}) std::ofstream(f) << "not really audio";
  {
    zb::testing::ScopedEnv env("ZIMBREL_REGISTRY_DIR", reg);
    zb::testing::ProvisionApprovalKey();
    zb::testing::MakeFakeProgram(app, record);
    zb::testing::WriteInstDir(app);
    ASSERT_EQ(Shell(std::string(REGSVR_TOOL) + " " + DOVETRIL_SO + " >/dev/null"), 0);
  }
  fs::copy(reg, regNowhere, fs::copy_options::recursive);
  {
    zb::testing::ScopedEnv env("ZIMBREL_REGISTRY_DIR", regNowhere);
    zb::testing::WriteInstDir(dir / "nowhere");
  }

  std::string driver = dir / "drive.sh";
  std::ofstream(driver) << kDriver;
  fs::permissions(driver, fs::perms::owner_all);
  std::string cmd =
      "env -u SUDO_USER -u KDESU_USER -u QT_QPA_PLATFORM HOME=" + Quote(home) +
      " XDG_CONFIG_HOME=" + Quote(home + "/.config") +
      " XDG_CACHE_HOME=" + Quote(home + "/.cache") +
      " XDG_DATA_HOME=" + Quote(home + "/.local/share") + " XDG_RUNTIME_DIR=" + Quote(dir.Path()) +
      " ZIMBREL_REGISTRY_DIR=" + Quote(reg) + " REG_NOWHERE=" + Quote(regNowhere) +
      " RECORD=" + Quote(record) + " QT_PLUGIN_PATH=" + Quote(DOLPHIN_PLUGIN_ROOT) +
      " PROBE=" + Quote(DOLPHIN_UI_PROBE) + " OUT=" + Quote(out) + " ENTRY=" + Quote(kEntry) +
      " SONG=" + Quote(song) + " OTHER=" + Quote(other) + " NOTES=" + Quote(notes) +
      " FOLDER=" + Quote(folder) +
      " timeout -k 5 240 xvfb-run -a -s '-screen 0 1280x800x24 -noreset' dbus-run-session -- " +
      Quote(driver) + " >/dev/null 2>&1";
  Shell(cmd);
  std::string log = zb::testing::FileBytes(out + "/dolphin.log");

  // The menus: read for every selection, the entry only in the first.
  auto songMenu = Texts(out + "/song.menu");
  ASSERT_FALSE(songMenu.empty()) << log;
  EXPECT_EQ(Count(songMenu, std::string("\t") + kEntry), 1)
      << zb::testing::FileBytes(out + "/song.menu");
  EXPECT_GE(Count(songMenu, "\tProperties"), 1) << "a whole menu was read";
  for (const char* name : {"notes", "two", "folder"}) {
    auto menu = Texts(out + "/" + name + ".menu");
    EXPECT_GE(Count(menu, "\tProperties"), 1) << name << ": no menu read\n" << log;
    EXPECT_EQ(Count(menu, std::string("\t") + kEntry), 0) << name;
  }
  EXPECT_EQ(zb::testing::WaitForRecord(record, std::chrono::seconds(2)),
            (std::vector<std::string>{app + "/zimbrel", song}))
      << log;

  // ZBInstDir naming a folder without the program: the error box, in Qt.
  auto box = Texts(out + "/box");
  EXPECT_EQ(Count(box,
                  "label\tAn error occured while trying to launch Zimbrel!           \n"
                  "If this problem persists, please re-install the application.\n\n"
                  "Click OK to continue."),
            1)
      << zb::testing::FileBytes(out + "/box") << log;
  EXPECT_TRUE(fs::exists(out + "/box-closed")) << "OK closes the box";
  EXPECT_TRUE(fs::exists(out + "/alive-after-box")) << "Dolphin runs on after the box";
}

}  // namespace
