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

extern char** environ;

namespace zb::testing {
namespace {

pid_t Spawn(const std::vector<std::string>& argv, int keepFd, const std::string& outPath) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  if (keepFd >= 0) posix_spawn_file_actions_adddup2(&fa, keepFd, 3);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

// The server writes its display number on the descriptor once it accepts
// clients.
std::string ReadDisplayNumber(int fd, int timeoutMs) {
  std::string text;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (text.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buf[32];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, n);
  }
  auto nl = text.find('\n');
  return nl == std::string::npos ? "" : text.substr(0, nl);
}

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
  const std::string conf = dir_ / "xorg.conf", out = dir_ / "server.txt";
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
  server_ = Spawn({"Xorg", "-noreset", "-nolisten", "tcp", "-config", conf, "-configdir",
                   dir_ / "none", "-logfile", dir_ / "xorg.log", "-displayfd", "3"},
                  fds[1], out);
  ::close(fds[1]);
  std::string number = server_ > 0 ? ReadDisplayNumber(fds[0], 30000) : "";
  ::close(fds[0]);
  if (number.empty()) {
    log_ = "Xorg did not start";
    return;
  }
  name_ = ":" + number;
  const char* old = std::getenv("DISPLAY");
  hadDisplay_ = old != nullptr;
  if (old) oldDisplay_ = old;
  ::setenv("DISPLAY", name_.c_str(), 1);

  // Two outputs of the dummy driver, 1280 x 1024 each, side by side.
  RunCapture({"xrandr", "--newmode", "1280x1024", "109.00", "1280", "1368", "1496", "1712", "1024",
              "1027", "1034", "1063", "-hsync", "+vsync"});
  RunCapture({"xrandr", "--addmode", "DUMMY0", "1280x1024"});
  RunCapture({"xrandr", "--addmode", "DUMMY1", "1280x1024"});
  RunCapture({"xrandr", "--output", "DUMMY0", "--mode", "1280x1024", "--pos", "0x0", "--primary",
              "--output", "DUMMY1", "--mode", "1280x1024", "--pos", "1280x0"});
  std::string monitors = RunCapture({"xrandr", "--listmonitors"});
  if (monitors.find("Monitors: 2") == std::string::npos) {
    log_ = "monitors: " + monitors;
    return;
  }
  if (withWindowManager) {
    wm_ = Spawn({"xfwm4", "--compositor=off"}, -1, dir_ / "wm.txt");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!WindowManagerRunning(name_) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!WindowManagerRunning(name_)) {
      log_ = "xfwm4 did not start";
      return;
    }
  }
  ok_ = true;
}

void TwoMonitorDisplay::Stop(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  int st;
  for (int i = 0; i < 100; ++i) {
    if (::waitpid(pid, &st, WNOHANG) == pid) {
      pid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &st, 0);
  pid = -1;
}

TwoMonitorDisplay::~TwoMonitorDisplay() {
  Stop(wm_);
  Stop(server_);
  if (hadDisplay_)
    ::setenv("DISPLAY", oldDisplay_.c_str(), 1);
  else if (!name_.empty())
    ::unsetenv("DISPLAY");
}

}  // namespace zb::testing
