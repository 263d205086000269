// Network namespaces a test makes for itself: a "desktop" and a "phone"
// joined by a veth pair, so that traffic between them never touches the
// machine's own interfaces. The desktop's end is named `lan0` (like a real
// home network interface), the phone's `phone0`. Needs root and `ip`
// (iproute2); everything is removed when the object goes.
//
//   zb::testing::NetnsPair net;                  // 10.77.<n>.1 and .2 /24
//   if (!net.Ok()) GTEST_SKIP() << net.Why();
//   net.InDesktop({"zimbrel-service", ...})      // argv run inside a namespace
//   net.Run(net.Phone(), {"curl", ...}, &out)   // run to its end, output kept
//   RunTool({"ffprobe", ...}, &out)              // the same, in this namespace
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "child_process.h"
#include "temp_dir.h"

namespace zb::testing {

// Runs argv (looked up on PATH) to its end: its exit status (-1 when it
// did not exit), its output and errors in `out`.
inline int RunTool(const std::vector<std::string>& argv, std::string* out = nullptr) {
  TempDir dir;
  const std::string log = dir / "out";
  pid_t pid = SpawnLogged(argv, log);
  int status = -1;
  if (pid > 0) ::waitpid(pid, &status, 0);
  if (out) {
    std::ifstream in(log, std::ios::binary);
    out->assign(std::istreambuf_iterator<char>(in), {});
  }
  return pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class NetnsPair {
 public:
  // `rateLimit` (for example "1mbit") slows the link both ways with tbf.
  explicit NetnsPair(const std::string& rateLimit = "") {
    if (::geteuid() != 0) {
      m_why = "needs root to make network namespaces";
      return;
    }
    if (Run("", {"ip", "-V"}) != 0) {
      m_why = "needs ip (iproute2)";
      return;
    }
    const int n = static_cast<int>(::getpid() % 200) + 20;
    const std::string tag = std::to_string(::getpid()) + "-" + std::to_string(Counter()++);
    m_desktop = "zbt-desk-" + tag;
    m_phone = "zbt-phone-" + tag;
    m_prefix = "10.77." + std::to_string(n) + ".";
    const std::string peer = "zbv" + tag;  // made in the root namespace, then moved
    const std::string peer2 = "zbw" + tag;
    bool ok = Run("", {"ip", "netns", "add", m_desktop}) == 0 &&
              Run("", {"ip", "netns", "add", m_phone}) == 0 &&
              Run("", {"ip", "link", "add", peer, "type", "veth", "peer", "name", peer2}) == 0 &&
              Run("", {"ip", "link", "set", peer, "netns", m_desktop}) == 0 &&
              Run("", {"ip", "link", "set", peer2, "netns", m_phone}) == 0 &&
              Run(m_desktop, {"ip", "link", "set", peer, "name", "lan0"}) == 0 &&
              Run(m_phone, {"ip", "link", "set", peer2, "name", "phone0"}) == 0 &&
              Run(m_desktop, {"ip", "addr", "add", DesktopAddress() + "/24", "dev", "lan0"}) == 0 &&
              Run(m_phone, {"ip", "addr", "add", PhoneAddress() + "/24", "dev", "phone0"}) == 0 &&
              Run(m_desktop, {"ip", "link", "set", "lo", "up"}) == 0 &&
              Run(m_phone, {"ip", "link", "set", "lo", "up"}) == 0 &&
              Run(m_desktop, {"ip", "link", "set", "lan0", "up"}) == 0 &&
              Run(m_phone, {"ip", "link", "set", "phone0", "up"}) == 0 &&
              // Broadcasts (KDE Connect's discovery) need a route.
              Run(m_desktop, {"ip", "route", "add", "default", "dev", "lan0"}) == 0 &&
              Run(m_phone, {"ip", "route", "add", "default", "dev", "phone0"}) == 0;
    if (ok && !rateLimit.empty())
      ok = Run(m_desktop, {"tc", "qdisc", "add", "dev", "lan0", "root", "tbf", "rate", rateLimit,
                           "burst", "16kb", "latency", "2s"}) == 0 &&
           Run(m_phone, {"tc", "qdisc", "add", "dev", "phone0", "root", "tbf", "rate", rateLimit,
                         "burst", "16kb", "latency", "2s"}) == 0;
    if (!ok) m_why = "could not make the namespaces: " + m_lastOutput;
    m_ok = ok;
  }
  ~NetnsPair() {
    if (!m_desktop.empty()) Run("", {"ip", "netns", "delete", m_desktop});
    if (!m_phone.empty()) Run("", {"ip", "netns", "delete", m_phone});
  }
  NetnsPair(const NetnsPair&) = delete;
  NetnsPair& operator=(const NetnsPair&) = delete;

  bool Ok() const { return m_ok; }
  const std::string& Why() const { return m_why; }
  const std::string& Desktop() const { return m_desktop; }
  const std::string& Phone() const { return m_phone; }
  std::string DesktopAddress() const { return m_prefix + "1"; }
  std::string PhoneAddress() const { return m_prefix + "2"; }

  // argv to run inside the namespace `ns` ("" : this one).
  static std::vector<std::string> In(const std::string& ns, const std::vector<std::string>& argv) {
    if (ns.empty()) return argv;
    std::vector<std::string> all = {"ip", "netns", "exec", ns};
    all.insert(all.end(), argv.begin(), argv.end());
    return all;
  }
  std::vector<std::string> InDesktop(const std::vector<std::string>& argv) const {
    return In(m_desktop, argv);
  }
  std::vector<std::string> InPhone(const std::vector<std::string>& argv) const {
    return In(m_phone, argv);
  }

  // Runs argv in `ns` ("" : this one) to its end; its exit status (-1 when
  // it did not exit), its output and errors in `out`.
  int Run(const std::string& ns, const std::vector<std::string>& argv, std::string* out = nullptr) {
    int status = RunTool(In(ns, argv), &m_lastOutput);
    if (out) *out = m_lastOutput;
    return status;
  }

 private:
  static int& Counter() {
    static int n = 0;
    return n;
  }
  bool m_ok = false;
  std::string m_why, m_desktop, m_phone, m_prefix, m_lastOutput;
};

}  // namespace zb::testing
