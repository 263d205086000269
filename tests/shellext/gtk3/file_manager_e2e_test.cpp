// Real Caja, Nemo and Thunar with our module, installing nothing on the
// machine. The test sets up a folder of songs, a registry with Dovetril
// registered and a stand-in program that records its arguments, then runs
// itself again (the "driver") inside a private mount namespace, where the
// built module sits in the file manager's extension folder, under an Xvfb
// and a D-Bus session of its own. The driver starts the file manager on one
// folder at a time, selects everything with the keyboard, opens the context
// menu with Shift+F10 and reads it through a small GTK module loaded into the
// file manager (menu_probe.cpp), then clicks the entry as a user would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "shellext_test_support.h"
// Last: Xlib defines macros (Status, None, Bool) that other headers use as names.
#include <X11/Xlib.h>

extern char** environ;

namespace zb::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kDriverVar[] = "ZB_FM_E2E_DIR";  // set in the driver: the test's folder
constexpr char kEntry[] = "Send to Phone as Ringtone";
// A name that a command line rebuilt from quoted words would break.
constexpr char kSongName[] = "it's \"quoted\"  song.mp3";

struct FileManager {
  std::string name;     // for the test's name
  std::string command;  // started with its arguments and then the folder
  std::vector<std::string> args;
  std::string module;
  std::string extensionDir;
};

void PrintTo(const FileManager& fm, std::ostream* os) {
  *os << fm.name;
}

std::vector<FileManager> BuiltFileManagers() {
  std::vector<FileManager> out;
#ifdef CAJA_MODULE
  // --no-desktop: Caja would otherwise also draw the desktop.
  out.push_back({"Caja", "caja", {"--no-desktop"}, CAJA_MODULE, CAJA_EXTENSION_DIR});
#endif
#ifdef NEMO_MODULE
  out.push_back({"Nemo", "nemo", {}, NEMO_MODULE, NEMO_EXTENSION_DIR});
#endif
#ifdef THUNAR_MODULE
  out.push_back({"Thunar", "thunar", {}, THUNAR_MODULE, THUNAR_EXTENSION_DIR});
#endif
  return out;
}

bool WaitUntil(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
  auto until = Clock::now() + limit;
  while (!ready()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// Starts argv (PATH searched) with `extraEnv` added and its output appended
// to `log`; -1 when it cannot start.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
            const std::string& log) {
  std::vector<std::string> envStrings = extraEnv;
  for (char** e = environ; *e; ++e) envStrings.push_back(*e);
  std::vector<char*> envp, args;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> copy = argv;
  for (auto& a : copy) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

// Waits (bounded) for `pid` to end; kills it when it does not.
void Reap(pid_t pid, std::chrono::milliseconds limit) {
  if (pid <= 0) return;
  int status = 0;
  if (WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, limit)) return;
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
}

int Xdo(const std::vector<std::string>& args, const std::string& log) {
  std::vector<std::string> argv{"xdotool"};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_t pid = Spawn(argv, {}, log);
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One entry of a shown menu, as the probe reports it.
struct MenuItem {
  int x = 0, y = 0;
  bool sensitive = false;
  std::string label;
};

struct Menu {
  std::vector<MenuItem> items;
  const MenuItem* Find(const std::string& label) const {
    for (const auto& i : items)
      if (i.label == label) return &i;
    return nullptr;
  }
  std::string Labels() const {
    std::string out;
    for (const auto& i : items) out += (out.empty() ? "" : " | ") + i.label;
    return out;
  }
};

// A message box, as the probe reports it.
struct Dialog {
  std::string title, text;
  int okX = -1, okY = -1;
};

// One file manager process showing one folder, reported on by the probe.
class Session {
 public:
  Session(const FileManager& fm, const std::string& dir, const std::string& folder,
          const std::string& tag)
      : m_fm(fm), m_probe(dir + "/probe-" + tag), m_log(dir + "/" + tag + ".log") {
    fs::create_directories(m_probe);
    std::vector<std::string> argv{fm.command};
    argv.insert(argv.end(), fm.args.begin(), fm.args.end());
    argv.push_back(folder);
    m_pid = Spawn(argv, Env(), m_log);
  }
  ~Session() {
    // Ask the file manager to quit as its own command line does; kill it if
    // it does not.
    if (m_pid > 0) {
      pid_t q = Spawn({m_fm.command, "-q"}, Env(), m_log);
      Reap(q, std::chrono::seconds(10));
      int status = 0;
      if (!WaitUntil([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; },
                     std::chrono::seconds(15))) {
        kill(m_pid, SIGTERM);
        Reap(m_pid, std::chrono::seconds(5));
      }
    }
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool Alive() const { return m_pid > 0 && kill(m_pid, 0) == 0; }
  // The file manager's output and every report the probe wrote, for failure
  // messages.
  std::string Diagnostics() const {
    std::string out = FileBytes(m_log);
    for (const auto& e : fs::directory_iterator(m_probe))
      out += "--- " + e.path().filename().string() + "\n" + FileBytes(e.path().string());
    return out;
  }

  // Waits for the window, then selects everything in the folder and opens
  // the selection's context menu; none when either never came.
  std::optional<Menu> OpenFileMenu() {
    if (m_window.empty()) m_window = WaitForWindow();
    if (m_window.empty()) return std::nullopt;
    return SelectAllAndOpenMenu(m_window);
  }

  void Keys(const std::string& keys) { Xdo({"key", "--delay", "80", keys}, m_log); }
  void Click(int x, int y) {
    Xdo({"mousemove", "--sync", std::to_string(x), std::to_string(y)}, m_log);
    Xdo({"click", "1"}, m_log);
  }

  std::optional<Dialog> NextDialog() {
    std::optional<std::string> report = NextReport("dialog", std::chrono::seconds(20));
    if (!report) return std::nullopt;
    Dialog d;
    std::string body = *report;
    size_t title = body.find('\n');
    d.title = body.substr(0, title);
    size_t ok = body.rfind("\nOK\t");
    d.text = body.substr(title + 1, (ok == std::string::npos ? body.size() - 1 : ok) - title - 1);
    if (ok != std::string::npos) std::sscanf(body.c_str() + ok + 4, "%d\t%d", &d.okX, &d.okY);
    return d;
  }

 private:
  // The X window of the file manager's first toplevel window.
  std::string WaitForWindow() {
    std::optional<std::string> report = NextReport("window", std::chrono::seconds(30));
    if (!report) return {};
    return report->substr(0, report->find('\n'));
  }

  // Gives `window` the keyboard focus (there is no window manager to do it)
  // and checks that the X server says it has it.
  bool Focus(const std::string& window) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return false;
    Window w = std::stoul(window);
    bool ok = WaitUntil(
        [&] {
          XSetInputFocus(d, w, RevertToParent, CurrentTime);
          XSync(d, False);
          ::Window focus = 0;
          int revert = 0;
          XGetInputFocus(d, &focus, &revert);
          return focus == w;
        },
        std::chrono::seconds(10));
    XCloseDisplay(d);
    return ok;
  }

  // Selects everything in the folder and opens the context menu of the
  // selection. The view fills in after the window shows: while the menu is
  // still the folder's own (no "Copy"), it is closed and tried again.
  std::optional<Menu> SelectAllAndOpenMenu(const std::string& window) {
    for (int attempt = 0; attempt < 4; ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(attempt == 0 ? 1500 : 1000));
      if (!Focus(window)) return std::nullopt;
      Keys("ctrl+a");
      Keys("shift+F10");
      std::optional<std::string> report = NextReport("menu", std::chrono::seconds(10));
      if (!report) continue;
      Menu menu;
      std::istringstream in(*report);
      std::string line;
      while (std::getline(in, line)) {
        MenuItem item;
        std::istringstream fields(line);
        std::string sensitive;
        fields >> item.x >> item.y >> sensitive;
        fields.get();  // the tab before the label
        std::getline(fields, item.label);
        item.sensitive = sensitive == "1";
        menu.items.push_back(item);
      }
      if (menu.Find("Copy")) return menu;
      Keys("Escape");
    }
    return std::nullopt;
  }

  std::vector<std::string> Env() const {
    return {"GTK_MODULES=" + std::string(MENU_PROBE_MODULE), "ZB_PROBE_DIR=" + m_probe};
  }

  // The next report of `kind` the probe writes (reports are numbered in the
  // order the file manager showed them).
  std::optional<std::string> NextReport(const std::string& kind, std::chrono::milliseconds limit) {
    std::optional<std::string> found;
    WaitUntil(
        [&] {
          int best = 0;
          for (const auto& e : fs::directory_iterator(m_probe)) {
            std::string n = e.path().filename().string();
            if (n.rfind(kind + "-", 0) != 0) continue;
            int number = std::atoi(n.c_str() + kind.size() + 1);
            if (number > m_seen && (best == 0 || number < best)) best = number;
          }
          if (best == 0) return false;
          m_seen = best;
          found = FileBytes(m_probe + "/" + kind + "-" + std::to_string(best));
          return true;
        },
        limit);
    return found;
  }

  FileManager m_fm;
  std::string m_probe, m_log, m_window;
  pid_t m_pid = -1;
  int m_seen = 0;
};

// The folders the driver shows, one file manager run each.
struct Layout {
  std::string song, text, twoA, twoB, album;
  explicit Layout(const std::string& dir)
      : song(dir + "/music/one/" + kSongName),
        text(dir + "/music/text/notes.txt"),
        twoA(dir + "/music/two/a.mp3"),
        twoB(dir + "/music/two/b.mp3"),
        album(dir + "/music/album/Album.mp3") {}
  void Create() const {
    for (const auto& f : {song, text, twoA, twoB}) {
      fs::create_directories(fs::path(f).parent_path());
      std::ofstream(f) << "not really audio";
    }
    fs::create_directories(album);  // a folder named like a song
  }
};

class FileManagerE2E : public ::testing::TestWithParam<FileManager> {
 protected:
  // The test's side: sets up the folder and runs the driver (this test in a
  // fresh copy of the program) in the namespace, display and session.
  void RunDriver(const std::string& instDir) {
    for (const char* tool :
         {"/usr/bin/xvfb-run", "/usr/bin/dbus-run-session", "/usr/bin/xdotool", "/usr/bin/unshare"})
      if (access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed";
    std::string fmPath = "/usr/bin/" + GetParam().command;
    if (access(fmPath.c_str(), X_OK) != 0) GTEST_SKIP() << fmPath << " is not installed";
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer build's module cannot load into the system's file manager";
#endif
    if (std::system("unshare -m true 2>/dev/null") != 0)
      GTEST_SKIP() << "unshare -m is not permitted here (no private mount namespace)";

    const std::string d = m_dir.Path();
    Layout(d).Create();
    fs::create_directories(d + "/ext");
    fs::create_directories(d + "/home");
    fs::create_directories(d + "/overlay");
    fs::copy_file(GetParam().module, d + "/ext/" + fs::path(GetParam().module).filename().string());
    {
      ScopedEnv env("ZIMBREL_REGISTRY_DIR", d + "/reg");
      ProvisionApprovalKey();
      MakeFakeProgram(d + "/app", d + "/argv");
      WriteInstDir(instDir);
      ASSERT_EQ(std::system((std::string(REGSVR_TOOL) + " " + DOVETRIL_SO + " >/dev/null").c_str()),
                0);
    }

    // The extension folder may not exist yet (nothing installed): a writable
    // layer over its nearest existing parent makes room for it.
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string inner =
        "set -e; mount --make-rprivate /; EXT=" + Quote(GetParam().extensionDir) +
        "; D=" + Quote(d) +
        "; if [ ! -d \"$EXT\" ]; then"
        "  top=\"$EXT\"; while [ ! -d \"$top\" ]; do top=$(dirname \"$top\"); done;"
        "  mount -t tmpfs tmpfs \"$D/overlay\"; mkdir \"$D/overlay/up\" \"$D/overlay/work\";"
        "  mount -t overlay overlay -o \"lowerdir=$top,upperdir=$D/overlay/up,"
        "workdir=$D/overlay/work\" \"$top\"; mkdir -p \"$EXT\"; fi;"
        " mount --bind \"$D/ext\" \"$EXT\";"
        " exec env HOME=\"$D/home\" XDG_CONFIG_HOME=\"$D/home/.config\""
        " XDG_CACHE_HOME=\"$D/home/.cache\" XDG_DATA_HOME=\"$D/home/.local/share\""
        " ZIMBREL_REGISTRY_DIR=\"$D/reg\" " +
        kDriverVar +
        "=\"$D\" LANG=C.UTF-8 LANGUAGE= NO_AT_BRIDGE=1 GTK_A11Y=none"
        " timeout -k 5 170 xvfb-run -a -s '-screen 0 1280x800x24 -noreset' dbus-run-session -- "
        "/proc/" +
        std::to_string(getpid()) + "/exe " +
        Quote(std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name());
    std::string cmd =
        "unshare -m sh -c " + Quote(inner) + " > " + Quote(d + "/driver.log") + " 2>&1";
    int status = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << FileBytes(d + "/driver.log");
  }

  TempDir m_dir;
};

TEST_P(FileManagerE2E, TheEntryShowsForOneSongAndStartsTheProgramWithItsPath) {
  const char* driverDir = std::getenv(kDriverVar);
  if (!driverDir) {
    RunDriver(m_dir / "app");
    return;
  }
  // The driver.
  const std::string d = driverDir;
  const Layout songs(d);
  const FileManager& fm = GetParam();
  {
    Session s(fm, d, d + "/music/one", "one");
    auto menu = s.OpenFileMenu();
    ASSERT_TRUE(menu) << "no file menu\n" << s.Diagnostics();
    const MenuItem* entry = menu->Find(kEntry);
    ASSERT_NE(entry, nullptr) << menu->Labels();
    EXPECT_TRUE(entry->sensitive);
    s.Click(entry->x, entry->y);
    EXPECT_EQ(WaitForRecord(d + "/argv"),
              (std::vector<std::string>{d + "/app/zimbrel", songs.song}))
        << s.Diagnostics();
  }
  // Selections that get no entry; each menu is checked to be a file menu.
  for (const char* folder : {"text", "two", "album"}) {
    Session s(fm, d, d + "/music/" + folder, folder);
    auto menu = s.OpenFileMenu();
    ASSERT_TRUE(menu) << folder << ": no file menu\n" << s.Diagnostics();
    EXPECT_EQ(menu->Find(kEntry), nullptr) << folder << ": " << menu->Labels();
    s.Keys("Escape");
  }
}

TEST_P(FileManagerE2E, WithoutTheProgramTheLaunchErrorBoxShowsAndTheFileManagerGoesOn) {
  const char* driverDir = std::getenv(kDriverVar);
  if (!driverDir) {
    RunDriver(m_dir / "nowhere");
    return;
  }
  const std::string d = driverDir;
  Session s(GetParam(), d, d + "/music/one", "nowhere");
  auto menu = s.OpenFileMenu();
  ASSERT_TRUE(menu) << "no file menu\n" << s.Diagnostics();
  const MenuItem* entry = menu->Find(kEntry);
  ASSERT_NE(entry, nullptr) << menu->Labels();
  s.Click(entry->x, entry->y);

  auto box = s.NextDialog();
  ASSERT_TRUE(box) << "no message box\n" << s.Diagnostics();
  EXPECT_EQ(box->title, "Fatal Error");
  EXPECT_EQ(box->text,
            "An error occured while trying to launch Zimbrel!           \n"
            "If this problem persists, please re-install the application.\n\n"
            "Click OK to continue.");
  ASSERT_GE(box->okX, 0) << "no OK button";
  s.Click(box->okX, box->okY);
  // The box goes, and the file manager answers again.
  EXPECT_TRUE(WaitUntil(
      [&] {
        return Xdo({"search", "--onlyvisible", "--name", "^Fatal Error$"}, "/dev/null") != 0;
      },
      std::chrono::seconds(10)));
  EXPECT_TRUE(s.Alive());
  EXPECT_TRUE(s.OpenFileMenu()) << "the file manager no longer shows its menu\n" << s.Diagnostics();
  s.Keys("Escape");
  EXPECT_FALSE(fs::exists(d + "/argv"));
}

INSTANTIATE_TEST_SUITE_P(, FileManagerE2E, ::testing::ValuesIn(BuiltFileManagers()),
                         [](const auto& info) { return info.param.name; });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FileManagerE2E);

}  // namespace
}  // namespace zb::testing
