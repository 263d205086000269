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
    std::ofstream(m_dir / "bus.conf")
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
           "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>unix:path="
        << m_dir / "bus"
        << "</listen><auth>EXTERNAL</auth><servicedir>" << m_dir.Path()
        << "</servicedir><policy context=\"default\"><allow send_destination=\"*\" "
           "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
           "</busconfig>\n";
    std::string out;
    if (RunTool(NetnsPair::In(ns, {"dbus-daemon", "--config-file=" + m_dir / "bus.conf", "--fork",
                                   "--print-pid=1"}),
                &out) == 0)
      m_pid = std::atoi(out.c_str());
  }
  ~SessionBus() {
    if (m_pid > 0) ::kill(m_pid, SIGTERM);
  }
  SessionBus(const SessionBus&) = delete;
  SessionBus& operator=(const SessionBus&) = delete;

  bool Ok() const { return m_pid > 0; }
  std::string Address() const { return "unix:path=" + m_dir / "bus"; }
  // Puts an activation file for `name` that would run `exec` on this bus.
  void AddActivation(const std::string& name, const std::string& exec) {
    std::ofstream(m_dir / (name + ".service"))
        << "[D-BUS Service]\nName=" << name << "\nExec=" << exec << "\n";
  }
  // argv run with this bus as the session bus.
  std::vector<std::string> With(const std::vector<std::string>& argv) const {
    std::vector<std::string> all = {"env", "DBUS_SESSION_BUS_ADDRESS=" + Address()};
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
  TempDir m_dir;
  pid_t m_pid = -1;
};

}  // namespace zb::testing
