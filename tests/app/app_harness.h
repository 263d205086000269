// Runs the real program from a copy of the module directory, under the X
// display that the test runs in (xvfb-run), with a registry of its own.
// Pages report back through the settings store; keys and clicks go through
// xdotool.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace zb::testing {

class AppHarness {
 public:
  AppHarness();
  ~AppHarness();

  const std::string& ModuleDir() const { return m_moduleDir; }
  const std::string& RegistryDir() const { return m_regDir.Path(); }
  // The program's work folder: XDG_CACHE_HOME is a folder of the harness's own.
  std::string WorkDir() const { return m_cacheDir.Path() + "/zimbrel/tmp"; }
  void WritePage(const std::string& name, const std::string& html);
  void WriteFile(const std::string& rel, const std::string& contents);

  // Starts <copy>/zimbrel with the arguments; standard output is kept.
  void Start(const std::vector<std::string>& args = {},
             const std::map<std::string, std::string>& env = {});
  // Starts the program again, as Start did (the same environment and
  // session bus), and waits for that second program to end: its exit code,
  // or -1 when it did not end within the time (it is then killed).
  int StartAgain(const std::vector<std::string>& args, int timeoutMs);
  // The harness's own session bus (started on first use); its address.
  std::string SessionBus();
  // Waits for the program to end; false on time-out (it is then killed).
  bool WaitExit(int timeoutMs, int* exitCode = nullptr);
  bool Running();
  pid_t Pid() const { return m_pid; }
  std::string Output() const;

  // A value of HKCU\Software\Zimbrel: the stored bytes without the type.
  bool ReadValue(const std::string& name, std::string* data, uint32_t* type = nullptr) const;
  std::string Value(const std::string& name) const;
  // Polls until the value equals `expected`; false on time-out.
  bool WaitForValue(const std::string& name, const std::string& expected, int timeoutMs) const;
  // Polls until pred(value) holds.
  bool WaitUntil(const std::function<bool()>& pred, int timeoutMs) const;

  // xdotool with the arguments; its standard output.
  static std::string Xdo(const std::vector<std::string>& args);
  // The X window id of the program's window with that exact title (0 when none).
  std::string FindWindow(const std::string& title, int timeoutMs = 10000) const;
  // Gives the window the keyboard focus and checks that the X server says it
  // (or a window inside it) has it; false when it never got it.
  static bool FocusWindow(const std::string& windowId, int timeoutMs = 10000);
  // Focuses the window and sends keys (xdotool key syntax); false, and no
  // key sent, when the window could not get the focus.
  bool Keys(const std::string& windowId, const std::vector<std::string>& keys) const;
  // Focuses the window and types the text; false, and nothing typed, when
  // the window could not get the focus.
  static bool Type(const std::string& windowId, const std::string& text);
  // Window geometry as xwininfo reports it.
  struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
  };
  static Geometry WindowGeometry(const std::string& windowId);
  // Asks the window to close as a window manager does for the title-bar
  // close or Alt+F4 (WM_DELETE_WINDOW).
  static void RequestClose(const std::string& windowId);
  // Saves a PNG screenshot of the whole screen.
  static bool Screenshot(const std::string& path);
  // Processes below a process (its children, theirs and so on) whose name
  // (comm, 15 bytes at most) holds `name`.
  static std::vector<pid_t> ChildrenNamed(pid_t parent, const std::string& name);
  // The files a process maps (from /proc/<pid>/maps).
  static std::vector<std::string> MappedFiles(pid_t pid);

 private:
  TempDir m_dir;
  TempDir m_regDir;
  TempDir m_cacheDir;
  std::string m_moduleDir;
  std::string m_outPath;
  pid_t m_pid = -1;
  pid_t m_busPid = -1;
  std::string m_busAddress;
  std::vector<std::string> m_env;  // the environment of the last Start
};

// Runs a command and returns its standard output (empty on failure).
std::string RunCapture(const std::vector<std::string>& argv);

// The build folder the tests copy the program from: ZIMBREL_TEST_BUILD_DIR
// when set (a copy an ordinary user can read), else the build's own.
std::string BuildDir();
// Where tests put their screenshots: ZIMBREL_SCREENSHOT_DIR or
// <build>/screenshots.
std::string ShotDir();
// The file: URI of an absolute path (empty when it cannot be made).
std::string FileUri(const std::string& path);

// zimbrel-service on 127.0.0.1 with a data folder of its own.
class Service {
 public:
  // Port 0 takes any free port.
  explicit Service(int port = 0);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;
  int Port() const { return m_port; }
  std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }
  // The ringtones delivered to a phone (its digits), as files.
  std::vector<std::string> Deliveries(const std::string& digits) const;

 private:
  TempDir m_data;
  pid_t m_pid = -1;
  int m_port = 0;
};

// A stereo 44100 Hz song of `seconds` made by ffmpeg; `mp3` makes a small
// MP3 (for long songs), otherwise a WAV file.
bool MakeSong(const std::string& path, double seconds, bool mp3 = false);

// Replaces the copy's res/ffmpeg with a transcoder that writes part of its
// output, writes its pid to `pidFile` (whole, by a rename) and never ends.
void FakeTranscoder(AppHarness& app, const std::string& pidFile);

// The state letter of a process, or 0 when it is gone.
char ProcessState(pid_t pid);

// Checks the end of a start's settings trace on its standard output: the six
// values written back as needed and destroyed from ZBInstDir back to ZBName,
// then the store.
void ExpectTheSettingsTraceOfAnEnd(const std::string& out);

}  // namespace zb::testing
