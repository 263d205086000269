// A private D-Bus session bus for a test (dbus-daemon with a configuration
// of its own: only the activation files the test puts in its folder, never
// the machine's), ended with the test.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "netns.h"
#include "temp_dir.h"

namespace zb::testing {

class SessionBus {
 public:
  // `ns`: the network namespace to run it in ("" : this one).
  explicit SessionBus(const std::string& ns = "") {
    std::ofstream(dir_ / "bus.conf")
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
           "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>unix:path="
        << dir_ / "bus"
        << "</listen><auth>EXTERNAL</auth><servicedir>" << dir_.path()
        << "</servicedir><policy context=\"default\"><allow send_destination=\"*\" "
           "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
           "</busconfig>\n";
    std::string out;
    if (RunTool(NetnsPair::In(ns, {"dbus-daemon", "--config-file=" + dir_ / "bus.conf", "--fork",
                                   "--print-pid=1"}),
                &out) == 0)
      pid_ = std::atoi(out.c_str());
  }
  ~SessionBus() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
  }
  SessionBus(const SessionBus&) = delete;
  SessionBus& operator=(const SessionBus&) = delete;

  bool ok() const { return pid_ > 0; }
  std::string address() const { return "unix:path=" + dir_ / "bus"; }
  // Puts an activation file for `name` that would run `exec` on this bus.
  void AddActivation(const std::string& name, const std::string& exec) {
    std::ofstream(dir_ / (name + ".service"))
        << "[D-BUS Service]\nName=" << name << "\nExec=" << exec << "\n";
  }
  // argv run with this bus as the session bus.
  std::vector<std::string> With(const std::vector<std::string>& argv) const {
    std::vector<std::string> all = {"env", "DBUS_SESSION_BUS_ADDRESS=" + address()};
    all.insert(all.end(), argv.begin(), argv.end());
    return all;
  }
  // gdbus call on this bus: its output ("" when the call failed).
  std::string Call(const std::string& ns, const std::string& dest, const std::string& path,
                   const std::string& method, const std::vector<std::string>& args = {}) const {
    std::vector<std::string> argv = With(
        {"gdbus", "call", "--session", "--dest", dest, "--object-path", path, "--method", method});
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    return RunTool(NetnsPair::In(ns, argv), &out) == 0 ? out : "";
  }

 private:
  TempDir dir_;
  pid_t pid_ = -1;
};

}  // namespace zb::testing
