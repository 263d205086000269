#include "app/desktop.h"

#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/app_harness.h"
#include "child_process.h"

extern char** environ;

namespace zb::testing {
namespace fs = std::filesystem;

const char* DesktopName(DesktopKind kind) {
  switch (kind) {
    case DesktopKind::kX11:
      return "x11";
    case DesktopKind::kMutter:
      return "mutter";
    case DesktopKind::kSway:
      return "sway";
  }
  return "?";
}

namespace {

// Starts argv with the environment `env`, output to `out`; `keepFd` becomes
// descriptor 3.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& out, int keepFd = -1) {
  return SpawnLogged(argv, out, keepFd, &env);
}

// The test's environment without the display variables, plus `extra`.
std::vector<std::string> SessionEnv(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    std::string name = kv.substr(0, kv.find('='));
    if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name == "SWAYSOCK" ||
        name == "XDG_RUNTIME_DIR" || name == "DBUS_SESSION_BUS_ADDRESS")
      continue;
    env.push_back(kv);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

// Runs `start` with the write end of a pipe, which the started process
// gets as descriptor 3, and returns the first line it writes there.
template <class Start>
std::string ReadLine(Start start, int timeoutMs) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return "";
  start(fds[1]);
  ::close(fds[1]);
  std::string line = ReadFirstLine(fds[0], std::chrono::milliseconds(timeoutMs));
  ::close(fds[0]);
  return line;
}

bool IsSocket(const fs::path& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// One key of xdotool's syntax as wtype arguments: modifiers held around it.
std::vector<std::string> WtypeKey(const std::string& chord) {
  std::vector<std::string> mods;
  std::string key = chord;
  for (size_t plus; (plus = key.find('+')) != std::string::npos && plus + 1 < key.size();) {
    mods.push_back(key.substr(0, plus));
    key = key.substr(plus + 1);
  }
  std::vector<std::string> argv{"wtype"};
  for (auto& m : mods) argv.insert(argv.end(), {"-M", m == "super" ? "logo" : m});
  argv.insert(argv.end(), {"-k", key});
  for (auto it = mods.rbegin(); it != mods.rend(); ++it)
    argv.insert(argv.end(), {"-m", *it == "super" ? "logo" : *it});
  return argv;
}

}  // namespace

Desktop::Desktop(DesktopKind kind) : kind_(kind) {
  if (kind_ == DesktopKind::kX11) {
    ok_ = std::getenv("DISPLAY") != nullptr;
    return;
  }
  runtimeDir_ = dir_ / "run";
  fs::create_directories(runtimeDir_);
  fs::permissions(runtimeDir_, fs::perms::owner_all, fs::perm_options::replace);
  ok_ = kind_ == DesktopKind::kSway ? StartSway() : StartMutter();
  if (!ok_) return;
  // From now on the programs the test starts (and grim, wtype) use it.
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "GDK_BACKEND"}) {
    if (const char* v = std::getenv(name))
      saved_.emplace_back(name, v);
    else
      unsetSaved_.push_back(name);
  }
  g_unsetenv("DISPLAY");
  g_setenv("XDG_RUNTIME_DIR", runtimeDir_.c_str(), TRUE);
  g_setenv("GDK_BACKEND", "wayland", TRUE);
}

Desktop::~Desktop() {
  Stop();
  for (auto& [name, value] : saved_) g_setenv(name.c_str(), value.c_str(), TRUE);
  for (auto& name : unsetSaved_) g_unsetenv(name.c_str());
}

std::string Desktop::log() const {
  std::ifstream f(dir_ / "compositor.txt");
  return std::string(std::istreambuf_iterator<char>(f), {});
}

bool Desktop::StartSway() {
  const std::string conf = dir_ / "sway.conf";
  // Keys do not repeat: a loaded machine may hold one down past the delay.
  std::ofstream(conf) << "output HEADLESS-1 resolution 1280x1024\n"
                         "xwayland disable\n"
                         "input type:keyboard repeat_delay 60000\n";
  compositor_ = Spawn({"sway", "-c", conf},
                      SessionEnv({"XDG_RUNTIME_DIR=" + runtimeDir_, "WLR_BACKENDS=headless",
                                  "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1"}),
                      dir_ / "compositor.txt");
  if (compositor_ <= 0) return false;
  std::string display;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline && (display.empty() || swaySocket_.empty())) {
    for (auto& e : fs::directory_iterator(runtimeDir_)) {
      std::string name = e.path().filename();
      if (name.rfind("wayland-", 0) == 0 && IsSocket(e.path())) display = name;
      if (name.rfind("sway-ipc.", 0) == 0 && IsSocket(e.path())) swaySocket_ = e.path();
    }
    int st;
    if (::waitpid(compositor_, &st, WNOHANG) == compositor_) {
      compositor_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (display.empty()) return false;
  g_setenv("WAYLAND_DISPLAY", display.c_str(), TRUE);
  // A headless seat has no keyboard, and a client binds one only when the
  // seat gains it: a virtual keyboard (wtype, waiting) that stays from the
  // start lets the keys of each later wtype reach the focused window.
  keyboard_ = Spawn({"wtype", "-s", "600000"},
                    SessionEnv({"XDG_RUNTIME_DIR=" + runtimeDir_, "WAYLAND_DISPLAY=" + display}),
                    dir_ / "compositor.txt");
  return keyboard_ > 0;
}

bool Desktop::StartMutter() {
  std::string number = ReadLine(
      [&](int fd) {
        xserver_ =
            Spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
                  SessionEnv({}), dir_ / "compositor.txt", fd);
      },
      30000);
  if (xserver_ <= 0 || number.empty()) return false;
  xDisplay_ = ":" + number;
  // mutter reads its settings through GSettings: keys do not repeat.
  fs::create_directories(dir_ / "config/glib-2.0/settings");
  std::ofstream(dir_ / "config/glib-2.0/settings/keyfile")
      << "[org/gnome/desktop/peripherals/keyboard]\nrepeat=false\n";
  // A session bus of its own (mutter owns names on it), ended with it.
  std::string bus = ReadLine(
      [&](int fd) {
        bus_ = Spawn({"dbus-daemon", "--session", "--nofork", "--print-address=3"}, SessionEnv({}),
                     dir_ / "compositor.txt", fd);
      },
      10000);
  if (bus_ <= 0 || bus.empty()) return false;
  const std::string socket = "zimbrel-wayland";
  compositor_ =
      Spawn({"mutter", "--nested", "--wayland", "--no-x11", "--wayland-display", socket},
            SessionEnv({"DISPLAY=" + xDisplay_, "XDG_RUNTIME_DIR=" + runtimeDir_,
                        "DBUS_SESSION_BUS_ADDRESS=" + bus, "XDG_CONFIG_HOME=" + (dir_ / "config"),
                        "GSETTINGS_BACKEND=keyfile", "MUTTER_DEBUG_DUMMY_MODE_SPECS=1280x1024"}),
            dir_ / "compositor.txt");
  if (compositor_ <= 0) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!IsSocket(fs::path(runtimeDir_) / socket)) {
    int st;
    if (std::chrono::steady_clock::now() > deadline ||
        ::waitpid(compositor_, &st, WNOHANG) == compositor_)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  g_setenv("WAYLAND_DISPLAY", socket.c_str(), TRUE);
  return true;
}

void Desktop::KillCompositor() {
  if (compositor_ <= 0) return;
  ::kill(compositor_, SIGKILL);
  int st;
  ::waitpid(compositor_, &st, 0);
  compositor_ = -1;
}

void Desktop::Stop() {
  EndChild(keyboard_, std::chrono::milliseconds(1000));
  EndChild(compositor_, std::chrono::milliseconds(5000));
  EndChild(bus_, std::chrono::milliseconds(1000));
  EndChild(xserver_, std::chrono::milliseconds(5000));
}

std::vector<std::string> Desktop::XTool(const std::vector<std::string>& argv) const {
  if (kind_ != DesktopKind::kMutter) return argv;
  std::vector<std::string> out{"env", "DISPLAY=" + xDisplay_};
  out.insert(out.end(), argv.begin(), argv.end());
  return out;
}

void Desktop::Keys(const std::vector<std::string>& keys) const {
  if (keys.empty()) return;
  if (kind_ == DesktopKind::kSway) {
    for (const auto& k : keys) {
      RunCapture(WtypeKey(k));
      std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    return;
  }
  std::vector<std::string> argv{"xdotool", "key", "--delay", "60"};
  argv.insert(argv.end(), keys.begin(), keys.end());
  RunCapture(XTool(argv));
}

void Desktop::Type(const std::string& text) const {
  if (kind_ == DesktopKind::kSway)
    RunCapture({"wtype", "-d", "20", "--", text});
  else
    RunCapture(XTool({"xdotool", "type", "--delay", "40", text}));
}

void Desktop::Click(int x, int y) const {
  RunCapture(XTool({"xdotool", "mousemove", "--sync", std::to_string(x), std::to_string(y)}));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  RunCapture(XTool({"xdotool", "click", "1"}));
}

bool Desktop::Screenshot(const std::string& path) const {
  fs::create_directories(fs::path(path).parent_path());
  fs::remove(path);
  if (kind_ == DesktopKind::kSway)
    RunCapture({"grim", path});
  else
    RunCapture(XTool({"import", "-window", "root", path}));
  return fs::exists(path);
}

std::string Desktop::FocusedTitle() const {
  if (kind_ != DesktopKind::kSway) return "";
  // swaymsg prints each node's "focused" before its "name".
  std::string tree = RunCapture({"swaymsg", "-s", swaySocket_, "-t", "get_tree", "-r"});
  size_t at = tree.find("\"focused\": true");
  if (at == std::string::npos) return "";
  at = tree.find("\"name\": \"", at);
  if (at == std::string::npos) return "";
  at += 9;
  std::string title;
  for (; at < tree.size() && tree[at] != '"'; ++at) {
    if (tree[at] == '\\' && at + 1 < tree.size()) ++at;
    title += tree[at];
  }
  return title;
}

void Desktop::CloseFocusedWindow() const {
  if (kind_ == DesktopKind::kSway)
    RunCapture({"swaymsg", "-s", swaySocket_, "kill"});
  else
    Keys({"alt+F4"});  // mutter's close-window key
}

Picture::Picture(const std::string& pngPath) {
  GdkPixbuf* pb = gdk_pixbuf_new_from_file(pngPath.c_str(), nullptr);
  if (!pb) return;
  width_ = gdk_pixbuf_get_width(pb);
  height_ = gdk_pixbuf_get_height(pb);
  const int n = gdk_pixbuf_get_n_channels(pb), stride = gdk_pixbuf_get_rowstride(pb);
  const guchar* px = gdk_pixbuf_read_pixels(pb);
  pixels_.resize(static_cast<size_t>(width_) * height_);
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x) {
      const guchar* p = px + y * stride + x * n;
      pixels_[static_cast<size_t>(y) * width_ + x] = (p[0] << 16) | (p[1] << 8) | p[2];
    }
  g_object_unref(pb);
}

template <class F>
void Picture::Each(unsigned rgb, Box within, F f) const {
  if (within.empty()) within = {0, 0, width_, height_};
  for (int y = std::max(0, within.y); y < std::min(height_, within.y + within.height); ++y)
    for (int x = std::max(0, within.x); x < std::min(width_, within.x + within.width); ++x)
      if (pixels_[static_cast<size_t>(y) * width_ + x] == rgb) f(x, y);
}

Box Picture::Bounds(unsigned rgb, Box within) const {
  int x0 = width_, y0 = height_, x1 = -1, y1 = -1;
  Each(rgb, within, [&](int x, int y) {
    x0 = std::min(x0, x);
    y0 = std::min(y0, y);
    x1 = std::max(x1, x);
    y1 = std::max(y1, y);
  });
  if (x1 < 0) return {};
  return {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

long Picture::Count(unsigned rgb, Box within) const {
  long n = 0;
  Each(rgb, within, [&](int, int) { ++n; });
  return n;
}

}  // namespace zb::testing
