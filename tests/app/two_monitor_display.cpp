#include "app/two_monitor_display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "app/app_harness.h"
#include "child_process.h"

extern char** environ;

namespace zb::testing {
namespace {

bool WindowManagerRunning(const std::string& display) {
  Display* d = XOpenDisplay(display.c_str());
  if (!d) return false;
  Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
  Atom type;
  int format;
  unsigned long n = 0, after;
  unsigned char* data = nullptr;
  bool found = XGetWindowProperty(d, DefaultRootWindow(d), check, 0, 1, False, XA_WINDOW, &type,
                                  &format, &n, &after, &data) == Success &&
               n == 1;
  if (data) XFree(data);
  XCloseDisplay(d);
  return found;
}

}  // namespace

TwoMonitorDisplay::TwoMonitorDisplay(bool withWindowManager) {
  const std::string conf = m_dir / "xorg.conf", out = m_dir / "server.txt";
  std::ofstream(conf) << "Section \"ServerFlags\"\n"
                         "  Option \"AutoAddDevices\" \"false\"\n"
                         "  Option \"AutoEnableDevices\" \"false\"\n"
                         "  Option \"DontVTSwitch\" \"true\"\n"
                         "EndSection\n"
                         "Section \"Device\"\n  Identifier \"card\"\n  Driver \"dummy\"\n"
                         "  VideoRam 65536\nEndSection\n"
                         "Section \"Screen\"\n  Identifier \"screen\"\n  Device \"card\"\n"
                         "  DefaultDepth 24\n  SubSection \"Display\"\n    Depth 24\n"
                         "    Virtual 2560 1024\n  EndSubSection\nEndSection\n";
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  m_server = SpawnLogged({"Xorg", "-noreset", "-nolisten", "tcp", "-config", conf, "-configdir",
                          m_dir / "none", "-logfile", m_dir / "xorg.log", "-displayfd", "3"},
                         out, fds[1]);
  ::close(fds[1]);
  // The server writes its display number there once it accepts clients.
  std::string number = m_server > 0 ? ReadFirstLine(fds[0], std::chrono::seconds(30)) : "";
  ::close(fds[0]);
  if (number.empty()) {
    m_log = "Xorg did not start";
    return;
  }
  m_name = ":" + number;
  const char* old = std::getenv("DISPLAY");
  m_hadDisplay = old != nullptr;
  if (old) m_oldDisplay = old;
  ::setenv("DISPLAY", m_name.c_str(), 1);

  // Two outputs of the dummy driver, 1280 x 1024 each, side by side.
  RunCapture({"xrandr", "--newmode", "1280x1024", "109.00", "1280", "1368", "1496", "1712", "1024",
              "1027", "1034", "1063", "-hsync", "+vsync"});
  RunCapture({"xrandr", "--addmode", "DUMMY0", "1280x1024"});
  RunCapture({"xrandr", "--addmode", "DUMMY1", "1280x1024"});
  RunCapture({"xrandr", "--output", "DUMMY0", "--mode", "1280x1024", "--pos", "0x0", "--primary",
              "--output", "DUMMY1", "--mode", "1280x1024", "--pos", "1280x0"});
  std::string monitors = RunCapture({"xrandr", "--listmonitors"});
  if (monitors.find("Monitors: 2") == std::string::npos) {
    m_log = "monitors: " + monitors;
    return;
  }
  if (withWindowManager) {
    m_wm = SpawnLogged({"xfwm4", "--compositor=off"}, m_dir / "wm.txt");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!WindowManagerRunning(m_name) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!WindowManagerRunning(m_name)) {
      m_log = "xfwm4 did not start";
      return;
    }
  }
  m_ok = true;
}

void TwoMonitorDisplay::Stop(pid_t& pid) {
  EndChild(pid, std::chrono::seconds(2));
}

TwoMonitorDisplay::~TwoMonitorDisplay() {
  Stop(m_wm);
  Stop(m_server);
  if (m_hadDisplay)
    ::setenv("DISPLAY", m_oldDisplay.c_str(), 1);
  else if (!m_name.empty())
    ::unsetenv("DISPLAY");
}

}  // namespace zb::testing
