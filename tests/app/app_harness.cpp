#include "app/app_harness.h"

#include "child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gio/gio.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <tuple>

extern char** environ;

namespace zb::testing {
namespace fs = std::filesystem;

std::vector<pid_t> AppHarness::ChildrenNamed(pid_t parent, const std::string& name) {
  // Every live process with its parent and name, then the tree below
  // `parent` (a sandboxed web process runs below bubblewrap's processes).
  std::vector<std::tuple<pid_t, pid_t, std::string>> all;
  for (auto& e : fs::directory_iterator("/proc")) {
    std::string pidText = e.path().filename();
    if (pidText.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(e.path() / "stat");
    std::string line;
    std::getline(stat, line);
    auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::string comm = line.substr(line.find('(') + 1, close - line.find('(') - 1);
    std::istringstream rest(line.substr(close + 2));
    char state;
    pid_t ppid;
    rest >> state >> ppid;
    if (state != 'Z') all.emplace_back(std::stoi(pidText), ppid, comm);
  }
  std::vector<pid_t> out, below{parent};
  for (size_t i = 0; i < below.size(); ++i)
    for (const auto& [pid, ppid, comm] : all)
      if (ppid == below[i]) {
        below.push_back(pid);
        if (comm.find(name) != std::string::npos) out.push_back(pid);
      }
  return out;
}

std::vector<std::string> AppHarness::MappedFiles(pid_t pid) {
  std::vector<std::string> out;
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::string line;
  while (std::getline(maps, line)) {
    auto slash = line.find('/');
    if (slash != std::string::npos) out.push_back(line.substr(slash));
  }
  return out;
}

std::string RunCapture(const std::vector<std::string>& argv) {
  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  ::close(pipefd[1]);
  std::string out;
  if (rc == 0) {
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pipefd[0], buf, sizeof buf)) > 0) out.append(buf, n);
    int st;
    ::waitpid(pid, &st, 0);
  }
  ::close(pipefd[0]);
  return out;
}

std::string BuildDir() {
  const char* dir = std::getenv("ZIMBREL_TEST_BUILD_DIR");
  return dir && *dir ? dir : ZIMBREL_BUILD_DIR;
}

std::string FileUri(const std::string& path) {
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  std::string s = uri ? uri : "";
  g_free(uri);
  return s;
}

std::string ShotDir() {
  const char* dir = std::getenv("ZIMBREL_SCREENSHOT_DIR");
  return dir && *dir ? dir : BuildDir() + "/screenshots";
}

Service::Service(int port) {
  const std::string prog = BuildDir() + "/bin/zimbrel-service";
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  // The share for the home network stays on loopback: these tests never
  // open a port on the machine's own interfaces.
  std::vector<std::string> args{
      prog,         "--port", std::to_string(port), "--lan-address", "127.0.0.1",
      "--lan-port", "0",      m_data.Path()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&m_pid, prog.c_str(), &fa, nullptr, argv.data(), environ) != 0) m_pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  ::close(out[1]);
  // It prints "listening on http://127.0.0.1:PORT/ ..." once it accepts.
  const std::string line = m_pid > 0 ? ReadUntil(out[0], "\n", std::chrono::seconds(15)) : "";
  ::close(out[0]);
  auto at = line.find("http://127.0.0.1:");
  if (at != std::string::npos) m_port = std::atoi(line.c_str() + at + 17);
}

Service::~Service() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGTERM);
    int st;
    ::waitpid(m_pid, &st, 0);
  }
}

std::vector<std::string> Service::Deliveries(const std::string& digits) const {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto& e : fs::directory_iterator(m_data.Path() + "/phones/" + digits, ec))
    if (e.is_regular_file() && e.path().filename().string()[0] != '.') files.push_back(e.path());
  return files;
}

bool MakeSong(const std::string& path, double seconds, bool mp3) {
  std::vector<std::string> argv{
      "ffmpeg",
      "-nostdin",
      "-v",
      "error",
      "-y",
      "-f",
      "lavfi",
      "-i",
      "sine=frequency=440:sample_rate=44100:duration=" + std::to_string(seconds),
      "-ac",
      "2"};
  if (mp3) argv.insert(argv.end(), {"-c:a", "libmp3lame", "-b:a", "32k"});
  argv.push_back(path);
  RunCapture(argv);
  return fs::exists(path) && fs::file_size(path) > 0;
}

void FakeTranscoder(AppHarness& app, const std::string& pidFile) {
  fs::remove(app.ModuleDir() + "/res/ffmpeg");
  app.WriteFile("res/ffmpeg",
                "#!/bin/sh\nfor a; do out=\"$a\"; done\necho partial > \"$out\"\n"
                "echo $$ > '" +
                    pidFile + ".tmp'; mv '" + pidFile + ".tmp' '" + pidFile +
                    "'\nexec sleep 120\n");
  fs::permissions(app.ModuleDir() + "/res/ffmpeg", fs::perms::owner_all);
}

char ProcessState(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string stat(std::istreambuf_iterator<char>(f), {});
  size_t r = stat.rfind(')');
  return r == std::string::npos || r + 2 >= stat.size() ? 0 : stat[r + 2];
}

void ExpectTheSettingsTraceOfAnEnd(const std::string& out) {
  size_t at = out.find("REG_TRACE:\tdestructed object registry::value with name \"ZBInstDir\"\n");
  ASSERT_NE(at, std::string::npos) << out;
  std::string tail = out.substr(at);
  size_t pos = 0;
  for (const char* name : {"ZBInstDir", "ZBNVCheck", "ZBAid", "ZBNetwork", "ZBPhone", "ZBName"}) {
    std::string line =
        std::string("REG_TRACE:\tdestructed object registry::value with name \"") + name + "\"\n";
    size_t next = tail.find(line, pos);
    ASSERT_NE(next, std::string::npos) << name << " in " << tail;
    pos = next + line.size();
  }
  EXPECT_EQ(tail.substr(pos, 33), "REG_TRACE:\tdestructing registry\n") << tail;
}

namespace {

// The X server repeats a key that stays down longer than its repeat delay,
// and that holds for the keys xdotool presses too: on a loaded machine
// xdotool may sleep between the press and the release long enough for one
// Tab or letter to arrive twice. No test wants repeated keys, so the display
// the tests run on has key repeat off.
void TurnKeyRepeatOff() {
  static std::once_flag once;
  std::call_once(once, [] {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return;
    XKeyboardControl kc{};
    kc.auto_repeat_mode = AutoRepeatModeOff;
    XChangeKeyboardControl(d, KBAutoRepeatMode, &kc);
    XSync(d, False);
    XCloseDisplay(d);
  });
}

// True when the window that has the keyboard focus is `target` or inside it.
bool FocusIsIn(Display* d, Window target) {
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(d, &focus, &revert);
  while (focus != 0 && focus != PointerRoot) {
    if (focus == target) return true;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(d, focus, &root, &parent, &children, &n)) return false;
    if (children) XFree(children);
    if (parent == root) return false;
    focus = parent;
  }
  return false;
}

}  // namespace

AppHarness::AppHarness() {
  TurnKeyRepeatOff();
  m_moduleDir = m_dir / "Zimbrel Home";  // a space in the module directory too
  fs::create_directories(m_moduleDir);
  const fs::path build = BuildDir();
  fs::copy_file(build / "zimbrel", fs::path(m_moduleDir) / "zimbrel");
  fs::copy(build / "extensions", fs::path(m_moduleDir) / "extensions", fs::copy_options::recursive);
  fs::copy(build / "res", fs::path(m_moduleDir) / "res",
           fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  fs::create_directories(fs::path(m_moduleDir) / "res" / "tmp");
  if (fs::exists(build / "locale"))
    fs::copy(build / "locale", fs::path(m_moduleDir) / "locale", fs::copy_options::recursive);
  m_outPath = m_dir / "stdout.txt";
}

AppHarness::~AppHarness() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGKILL);
    int st;
    ::waitpid(m_pid, &st, 0);
  }
  EndChild(m_busPid, std::chrono::seconds(5));
}

std::string AppHarness::SessionBus() {
  if (!m_busAddress.empty()) return m_busAddress;
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return "";
  m_busPid = SpawnLogged({"dbus-daemon", "--session", "--nofork", "--print-address=3"},
                         m_dir.Path() + "/bus.log", out[1]);
  ::close(out[1]);
  m_busAddress = m_busPid > 0 ? ReadFirstLine(out[0], std::chrono::seconds(20)) : "";
  ::close(out[0]);
  return m_busAddress;
}

int AppHarness::StartAgain(const std::vector<std::string>& args, int timeoutMs) {
  std::vector<std::string> argv{m_moduleDir + "/zimbrel"};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_t pid = SpawnLogged(argv, m_dir.Path() + "/again.txt", -1, &m_env);
  if (pid <= 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int st = 0;
  while (::waitpid(pid, &st, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &st, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

void AppHarness::WritePage(const std::string& name, const std::string& html) {
  WriteFile("res/" + name, html);
}

void AppHarness::WriteFile(const std::string& rel, const std::string& contents) {
  fs::path p = fs::path(m_moduleDir) / rel;
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << contents;
}

void AppHarness::Start(const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& env) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    auto eq = kv.find('=');
    if (eq != std::string::npos) vars[kv.substr(0, eq)] = kv.substr(eq + 1);
  }
  // A session bus of the harness's own: one program per user holds its name
  // there, and programs of tests that run at once must not hand their songs
  // to each other. (Started by this process, not by the program, so that it
  // keeps none of the program's temporary folders.)
  vars["DBUS_SESSION_BUS_ADDRESS"] = SessionBus();
  vars["ZIMBREL_REGISTRY_DIR"] = m_regDir.Path();
  vars["XDG_CACHE_HOME"] = m_cacheDir.Path();
  vars["WEBKIT_DISABLE_COMPOSITING_MODE"] = "1";
  vars["GSK_RENDERER"] = "cairo";
  vars["NO_AT_BRIDGE"] = "1";
  // The program speaks English whatever the machine's locale, unless the
  // test names a language or locale (LANGUAGE outranks LANG for the texts).
  if (!env.count("LANG") && !env.count("LANGUAGE") && !env.count("LC_ALL") &&
      !env.count("LC_MESSAGES"))
    vars["LANGUAGE"] = "en";
  for (auto& [k, v] : env) vars[k] = v;
  std::vector<std::string>& envStrings = m_env;
  envStrings.clear();
  for (auto& [k, v] : vars) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);

  std::string prog = m_moduleDir + "/zimbrel";
  std::vector<char*> argv{prog.data()};
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, m_outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  int rc = posix_spawn(&m_pid, prog.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) m_pid = -1;
}

bool AppHarness::Running() {
  if (m_pid <= 0) return false;
  int st;
  return ::waitpid(m_pid, &st, WNOHANG) == 0;
}

bool AppHarness::WaitExit(int timeoutMs, int* exitCode) {
  if (m_pid <= 0) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int st;
    pid_t r = ::waitpid(m_pid, &st, WNOHANG);
    if (r == m_pid) {
      m_pid = -1;
      if (exitCode) *exitCode = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      return true;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, &st, 0);
      m_pid = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string AppHarness::Output() const {
  std::ifstream f(m_outPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

bool AppHarness::ReadValue(const std::string& name, std::string* data, uint32_t* type) const {
  std::ifstream f(m_regDir.Path() + "/HKEY_CURRENT_USER/Software/Zimbrel/" + name,
                  std::ios::binary);
  if (!f) return false;
  std::string bytes(std::istreambuf_iterator<char>(f), {});
  if (bytes.size() < 4) return false;
  if (type)
    *type = static_cast<uint8_t>(bytes[0]) | static_cast<uint8_t>(bytes[1]) << 8 |
            static_cast<uint8_t>(bytes[2]) << 16 |
            static_cast<uint32_t>(static_cast<uint8_t>(bytes[3])) << 24;
  *data = bytes.substr(4);
  return true;
}

std::string AppHarness::Value(const std::string& name) const {
  std::string v;
  ReadValue(name, &v);
  return v;
}

bool AppHarness::WaitUntil(const std::function<bool()>& pred, int timeoutMs) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return true;
}

bool AppHarness::WaitForValue(const std::string& name, const std::string& expected,
                              int timeoutMs) const {
  return WaitUntil([&] { return Value(name) == expected; }, timeoutMs);
}

std::string AppHarness::Xdo(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"xdotool"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCapture(argv);
}

std::string AppHarness::FindWindow(const std::string& title, int timeoutMs) const {
  std::string id;
  WaitUntil(
      [&] {
        std::string out = Xdo({"search", "--all", "--onlyvisible", "--pid", std::to_string(m_pid),
                               "--name", "^" + title + "$"});
        if (out.empty())  // dialogs of GTK may not carry _NET_WM_PID
          out = Xdo({"search", "--onlyvisible", "--name", "^" + title + "$"});
        std::istringstream in(out);
        in >> id;
        return !id.empty();
      },
      timeoutMs);
  // A window that has just been mapped takes a moment before GTK gives its
  // widgets the keyboard focus.
  if (!id.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(250));
  return id;
}

bool AppHarness::FocusWindow(const std::string& windowId, int timeoutMs) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return false;
  Window target = std::stoul(windowId);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool focused = false;
  for (;;) {
    Xdo({"windowfocus", "--sync", windowId});
    XSync(d, False);
    focused = FocusIsIn(d, target);
    if (focused || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  XCloseDisplay(d);
  return focused;
}

bool AppHarness::Keys(const std::string& windowId, const std::vector<std::string>& keys) const {
  if (!FocusWindow(windowId)) return false;
  std::vector<std::string> args{"key", "--delay", "60"};
  args.insert(args.end(), keys.begin(), keys.end());
  Xdo(args);
  return true;
}

bool AppHarness::Type(const std::string& windowId, const std::string& text) {
  if (!FocusWindow(windowId)) return false;
  Xdo({"type", "--delay", "40", text});
  return true;
}

AppHarness::Geometry AppHarness::WindowGeometry(const std::string& windowId) {
  std::string out = RunCapture({"xwininfo", "-id", windowId});
  Geometry g;
  auto field = [&](const std::string& key) {
    auto p = out.find(key);
    return p == std::string::npos ? 0 : std::atoi(out.c_str() + p + key.size());
  };
  g.x = field("Absolute upper-left X:");
  g.y = field("Absolute upper-left Y:");
  g.width = field("Width:");
  g.height = field("Height:");
  return g;
}

void AppHarness::RequestClose(const std::string& windowId) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return;
  Window w = std::stoul(windowId);
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, w, False, NoEventMask, &ev);
  XFlush(d);
  XCloseDisplay(d);
}

bool AppHarness::Screenshot(const std::string& path) {
  fs::create_directories(fs::path(path).parent_path());
  RunCapture({"import", "-window", "root", path});
  return fs::exists(path);
}

}  // namespace zb::testing
