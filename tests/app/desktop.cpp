#include "app/desktop.h"

#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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
    case DesktopKind::kKWin:
      return "kwin";
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

Desktop::Desktop(DesktopKind kind) : m_kind(kind) {
  if (m_kind == DesktopKind::kX11) {
    m_ok = std::getenv("DISPLAY") != nullptr;
    return;
  }
  m_runtimeDir = m_dir / "run";
  fs::create_directories(m_runtimeDir);
  fs::permissions(m_runtimeDir, fs::perms::owner_all, fs::perm_options::replace);
  m_ok = m_kind == DesktopKind::kSway     ? StartSway()
         : m_kind == DesktopKind::kMutter ? StartMutter()
                                          : StartKWin();
  if (!m_ok) return;
  // From now on the programs the test starts (and grim, wtype) use it.
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "GDK_BACKEND"}) {
    if (const char* v = std::getenv(name))
      m_saved.emplace_back(name, v);
    else
      m_unsetSaved.push_back(name);
  }
  g_unsetenv("DISPLAY");
  g_setenv("XDG_RUNTIME_DIR", m_runtimeDir.c_str(), TRUE);
  g_setenv("GDK_BACKEND", "wayland", TRUE);
}

Desktop::~Desktop() {
  Stop();
  for (auto& [name, value] : m_saved) g_setenv(name.c_str(), value.c_str(), TRUE);
  for (auto& name : m_unsetSaved) g_unsetenv(name.c_str());
}

std::string Desktop::Log() const {
  std::ifstream f(m_dir / "compositor.txt");
  return std::string(std::istreambuf_iterator<char>(f), {});
}

bool Desktop::StartSway() {
  const std::string conf = m_dir / "sway.conf";
  // Keys do not repeat: a loaded machine may hold one down past the delay.
  std::ofstream(conf) << "output HEADLESS-1 resolution 1280x1024\n"
                         "xwayland disable\n"
                         "input type:keyboard repeat_delay 60000\n";
  m_compositor = Spawn({"sway", "-c", conf},
                       SessionEnv({"XDG_RUNTIME_DIR=" + m_runtimeDir, "WLR_BACKENDS=headless",
                                   "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1"}),
                       m_dir / "compositor.txt");
  if (m_compositor <= 0) return false;
  std::string display;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline && (display.empty() || m_swaySocket.empty())) {
    for (auto& e : fs::directory_iterator(m_runtimeDir)) {
      std::string name = e.path().filename();
      if (name.rfind("wayland-", 0) == 0 && IsSocket(e.path())) display = name;
      if (name.rfind("sway-ipc.", 0) == 0 && IsSocket(e.path())) m_swaySocket = e.path();
    }
    int st;
    if (::waitpid(m_compositor, &st, WNOHANG) == m_compositor) {
      m_compositor = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (display.empty()) return false;
  g_setenv("WAYLAND_DISPLAY", display.c_str(), TRUE);
  // A headless seat has no keyboard, and a client binds one only when the
  // seat gains it: a virtual keyboard (wtype, waiting) that stays from the
  // start lets the keys of each later wtype reach the focused window.
  m_keyboard = Spawn({"wtype", "-s", "600000"},
                     SessionEnv({"XDG_RUNTIME_DIR=" + m_runtimeDir, "WAYLAND_DISPLAY=" + display}),
                     m_dir / "compositor.txt");
  return m_keyboard > 0;
}

bool Desktop::StartMutter() {
  std::string number = ReadLine(
      [&](int fd) {
        m_xserver = Spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten",
                           "tcp", "-noreset"},
                          SessionEnv({}), m_dir / "compositor.txt", fd);
      },
      30000);
  if (m_xserver <= 0 || number.empty()) return false;
  m_xDisplay = ":" + number;
  // mutter reads its settings through GSettings: keys do not repeat.
  fs::create_directories(m_dir / "config/glib-2.0/settings");
  std::ofstream(m_dir / "config/glib-2.0/settings/keyfile")
      << "[org/gnome/desktop/peripherals/keyboard]\nrepeat=false\n";
  // A session bus of its own (mutter owns names on it), ended with it.
  std::string bus = ReadLine(
      [&](int fd) {
        m_bus = Spawn({"dbus-daemon", "--session", "--nofork", "--print-address=3"}, SessionEnv({}),
                      m_dir / "compositor.txt", fd);
      },
      10000);
  if (m_bus <= 0 || bus.empty()) return false;
  const std::string socket = "zimbrel-wayland";
  m_compositor =
      Spawn({"mutter", "--nested", "--wayland", "--no-x11", "--wayland-display", socket},
            SessionEnv({"DISPLAY=" + m_xDisplay, "XDG_RUNTIME_DIR=" + m_runtimeDir,
                        "DBUS_SESSION_BUS_ADDRESS=" + bus, "XDG_CONFIG_HOME=" + (m_dir / "config"),
                        "GSETTINGS_BACKEND=keyfile", "MUTTER_DEBUG_DUMMY_MODE_SPECS=1280x1024"}),
            m_dir / "compositor.txt");
  if (m_compositor <= 0) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!IsSocket(fs::path(m_runtimeDir) / socket)) {
    int st;
    if (std::chrono::steady_clock::now() > deadline ||
        ::waitpid(m_compositor, &st, WNOHANG) == m_compositor)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  g_setenv("WAYLAND_DISPLAY", socket.c_str(), TRUE);
  return true;
}

bool Desktop::StartKWin() {
  // A copy of the binary runs without its file capability (cap_sys_resource),
  // which a container's bounding set may lack: exec of the installed one then
  // fails for everyone.
  const std::string kwin = m_dir / "kwin_wayland";
  std::error_code ec;
  fs::copy_file("/usr/bin/kwin_wayland", kwin, ec);
  if (ec) return false;
  fs::permissions(kwin, fs::perms::owner_all, fs::perm_options::replace);
  // KWin writes kwinrc here; keys do not repeat (a loaded machine may hold
  // one down past the delay).
  fs::create_directories(m_dir / "config");
  std::ofstream(m_dir / "config/kcminputrc") << "[Keyboard]\nKeyRepeat=nothing\n";
  m_busAddress = ReadLine(
      [&](int fd) {
        m_bus = Spawn({"dbus-daemon", "--session", "--nofork", "--print-address=3"}, SessionEnv({}),
                      m_dir / "compositor.txt", fd);
      },
      10000);
  if (m_bus <= 0 || m_busAddress.empty()) return false;
  const std::string socket = "zimbrel-kwin";
  m_compositor = Spawn(
      {kwin, "--virtual", "--width", "1280", "--height", "1024", "--socket", socket,
       "--no-lockscreen", "--no-global-shortcuts", "--no-kactivities"},
      SessionEnv({"XDG_RUNTIME_DIR=" + m_runtimeDir, "DBUS_SESSION_BUS_ADDRESS=" + m_busAddress,
                  "XDG_CONFIG_HOME=" + (m_dir / "config"), "KWIN_WAYLAND_NO_PERMISSION_CHECKS=1",
                  "KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1"}),
      m_dir / "compositor.txt");
  if (m_compositor <= 0) return false;
  // The socket comes first, KWin's name on the bus (screenshots) a moment
  // later.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (
      !IsSocket(fs::path(m_runtimeDir) / socket) ||
      RunCapture({"env", "DBUS_SESSION_BUS_ADDRESS=" + m_busAddress, "gdbus", "call", "--session",
                  "--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
                  "--method", "org.freedesktop.DBus.NameHasOwner", "org.kde.KWin"})
              .find("true") == std::string::npos) {
    int st;
    if (std::chrono::steady_clock::now() > deadline ||
        ::waitpid(m_compositor, &st, WNOHANG) == m_compositor)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  g_setenv("WAYLAND_DISPLAY", socket.c_str(), TRUE);
  return true;
}

void Desktop::KWinScript(const std::string& js) const {
  static int count = 0;
  const std::string name = "zimbrel-test-" + std::to_string(++count);
  const std::string path = m_dir / (name + ".js");
  std::ofstream(path) << js;
  auto call = [&](const std::string& object, const std::string& method,
                  std::vector<std::string> args) {
    std::vector<std::string> argv{"env",          "DBUS_SESSION_BUS_ADDRESS=" + m_busAddress,
                                  "gdbus",        "call",
                                  "--session",    "--dest",
                                  "org.kde.KWin", "--object-path",
                                  object,         "--method",
                                  method};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCapture(argv);
  };
  // Loaded, then started with whatever else is loaded (nothing): KWin runs
  // it before start() answers.
  if (call("/Scripting", "org.kde.kwin.Scripting.loadScript", {path, name}).empty()) return;
  call("/Scripting", "org.kde.kwin.Scripting.start", {});
  call("/Scripting", "org.kde.kwin.Scripting.unloadScript", {name});
}

// KWin writes the picture's raw pixels (QImage's layout, its `format`) to a
// pipe it is handed and describes them in the call's answer.
bool Desktop::KWinScreenshot(const std::string& path) const {
  GError* err = nullptr;
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      m_busAddress.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &err);
  if (!bus) {
    g_clear_error(&err);
    return false;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    g_object_unref(bus);
    return false;
  }
  std::string data;
  std::thread reader([&] {
    char buf[65536];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) != 0;)
      if (n > 0)
        data.append(buf, static_cast<size_t>(n));
      else if (errno != EINTR)
        break;
  });
  GUnixFDList* fdList = g_unix_fd_list_new_from_array(&fds[1], 1);  // takes the write end
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "include-cursor", g_variant_new_boolean(FALSE));
  g_variant_builder_add(&options, "{sv}", "native-resolution", g_variant_new_boolean(TRUE));
  GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
      bus, "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2", "CaptureArea",
      g_variant_new("(iiuua{sv}h)", 0, 0, 1280u, 1024u, &options, 0), G_VARIANT_TYPE("(a{sv})"),
      G_DBUS_CALL_FLAGS_NONE, 20000, fdList, nullptr, nullptr, &err);
  g_object_unref(fdList);  // closes our write end: EOF once KWin closes its own
  reader.join();
  ::close(fds[0]);
  g_object_unref(bus);
  if (!reply) {
    g_clear_error(&err);
    return false;
  }
  GVariant* results = g_variant_get_child_value(reply, 0);
  guint32 width = 0, height = 0, stride = 0, format = 0;
  g_variant_lookup(results, "width", "u", &width);
  g_variant_lookup(results, "height", "u", &height);
  g_variant_lookup(results, "stride", "u", &stride);
  g_variant_lookup(results, "format", "u", &format);
  g_variant_unref(results);
  g_variant_unref(reply);
  // QImage's 32-bit formats (RGB32 4, ARGB32 5, ARGB32_Premultiplied 6) keep
  // B, G, R, A in memory here; nothing else is expected.
  if (width == 0 || height == 0 || format < 4 || format > 6 ||
      data.size() < static_cast<size_t>(stride) * height)
    return false;
  GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, static_cast<int>(width),
                                 static_cast<int>(height));
  guchar* out = gdk_pixbuf_get_pixels(pb);
  const int outStride = gdk_pixbuf_get_rowstride(pb);
  for (guint32 y = 0; y < height; ++y)
    for (guint32 x = 0; x < width; ++x) {
      const unsigned char* in =
          reinterpret_cast<const unsigned char*>(data.data()) + size_t(y) * stride + x * 4;
      guchar* o = out + y * outStride + x * 3;
      o[0] = in[2];
      o[1] = in[1];
      o[2] = in[0];
    }
  bool saved = gdk_pixbuf_save(pb, path.c_str(), "png", nullptr, nullptr);
  g_object_unref(pb);
  return saved;
}

std::vector<std::string> Desktop::FakeInput(const std::vector<std::string>& args) const {
  std::vector<std::string> argv{BuildDir() + "/tests/zimbrel-fake-input"};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

void Desktop::KillCompositor() {
  if (m_compositor <= 0) return;
  ::kill(m_compositor, SIGKILL);
  int st;
  ::waitpid(m_compositor, &st, 0);
  m_compositor = -1;
}

void Desktop::Stop() {
  EndChild(m_keyboard, std::chrono::milliseconds(1000));
  EndChild(m_compositor, std::chrono::milliseconds(5000));
  EndChild(m_bus, std::chrono::milliseconds(1000));
  EndChild(m_xserver, std::chrono::milliseconds(5000));
}

std::vector<std::string> Desktop::XTool(const std::vector<std::string>& argv) const {
  if (m_kind != DesktopKind::kMutter) return argv;
  std::vector<std::string> out{"env", "DISPLAY=" + m_xDisplay};
  out.insert(out.end(), argv.begin(), argv.end());
  return out;
}

void Desktop::Keys(const std::vector<std::string>& keys) const {
  if (keys.empty()) return;
  if (m_kind == DesktopKind::kKWin) {
    std::vector<std::string> args{"key"};
    args.insert(args.end(), keys.begin(), keys.end());
    RunCapture(FakeInput(args));
    return;
  }
  if (m_kind == DesktopKind::kSway) {
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
  if (m_kind == DesktopKind::kKWin)
    RunCapture(FakeInput({"type", text}));
  else if (m_kind == DesktopKind::kSway)
    RunCapture({"wtype", "-d", "20", "--", text});
  else
    RunCapture(XTool({"xdotool", "type", "--delay", "40", text}));
}

void Desktop::Click(int x, int y) const {
  if (m_kind == DesktopKind::kKWin) {
    RunCapture(FakeInput({"click", std::to_string(x), std::to_string(y)}));
    return;
  }
  RunCapture(XTool({"xdotool", "mousemove", "--sync", std::to_string(x), std::to_string(y)}));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  RunCapture(XTool({"xdotool", "click", "1"}));
}

bool Desktop::Screenshot(const std::string& path) const {
  fs::create_directories(fs::path(path).parent_path());
  fs::remove(path);
  if (m_kind == DesktopKind::kKWin)
    KWinScreenshot(path);
  else if (m_kind == DesktopKind::kSway)
    RunCapture({"grim", path});
  else
    RunCapture(XTool({"import", "-window", "root", path}));
  return fs::exists(path);
}

std::string Desktop::FocusedTitle() const {
  if (m_kind != DesktopKind::kSway) return "";
  // swaymsg prints each node's "focused" before its "name".
  std::string tree = RunCapture({"swaymsg", "-s", m_swaySocket, "-t", "get_tree", "-r"});
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
  if (m_kind == DesktopKind::kSway)
    RunCapture({"swaymsg", "-s", m_swaySocket, "kill"});
  else if (m_kind == DesktopKind::kKWin)  // (no global shortcuts: no Alt+F4)
    KWinScript("if (workspace.activeClient) workspace.activeClient.closeWindow();");
  else
    Keys({"alt+F4"});  // mutter's close-window key
}

Picture::Picture(const std::string& pngPath) {
  GdkPixbuf* pb = gdk_pixbuf_new_from_file(pngPath.c_str(), nullptr);
  if (!pb) return;
  m_width = gdk_pixbuf_get_width(pb);
  m_height = gdk_pixbuf_get_height(pb);
  const int n = gdk_pixbuf_get_n_channels(pb), stride = gdk_pixbuf_get_rowstride(pb);
  const guchar* px = gdk_pixbuf_read_pixels(pb);
  m_pixels.resize(static_cast<size_t>(m_width) * m_height);
  for (int y = 0; y < m_height; ++y)
    for (int x = 0; x < m_width; ++x) {
      const guchar* p = px + y * stride + x * n;
      m_pixels[static_cast<size_t>(y) * m_width + x] = (p[0] << 16) | (p[1] << 8) | p[2];
    }
  g_object_unref(pb);
}

template <class F>
void Picture::Each(unsigned rgb, Box within, F f) const {
  if (within.Empty()) within = {0, 0, m_width, m_height};
  for (int y = std::max(0, within.y); y < std::min(m_height, within.y + within.height); ++y)
    for (int x = std::max(0, within.x); x < std::min(m_width, within.x + within.width); ++x)
      if (m_pixels[static_cast<size_t>(y) * m_width + x] == rgb) f(x, y);
}

Box Picture::Bounds(unsigned rgb, Box within) const {
  int x0 = m_width, y0 = m_height, x1 = -1, y1 = -1;
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
