// Network namespaces a test makes for itself: a "desktop" and a "phone"
// joined by a veth pair, so that traffic between them never touches the
// machine's own interfaces. The desktop's end is named `lan0` (like a real
// home network interface), the phone's `phone0`. Needs root and `ip`
// (iproute2); everything is removed when the object goes.
//
//   zb::testing::NetnsPair net;                  // 10.77.<n>.1 and .2 /24
//   if (!net.ok()) GTEST_SKIP() << net.why();
//   net.InDesktop({"zimbrel-service", ...})      // argv run inside a namespace
//   net.Run(net.phone(), {"curl", ...}, &out)   // run to its end, output kept
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
      why_ = "needs root to make network namespaces";
      return;
    }
    if (Run("", {"ip", "-V"}) != 0) {
      why_ = "needs ip (iproute2)";
      return;
    }
    const int n = static_cast<int>(::getpid() % 200) + 20;
    const std::string tag = std::to_string(::getpid()) + "-" + std::to_string(counter()++);
    desktop_ = "zbt-desk-" + tag;
    phone_ = "zbt-phone-" + tag;
    prefix_ = "10.77." + std::to_string(n) + ".";
    const std::string peer = "zbv" + tag;  // made in the root namespace, then moved
    const std::string peer2 = "zbw" + tag;
    bool ok = Run("", {"ip", "netns", "add", desktop_}) == 0 &&
              Run("", {"ip", "netns", "add", phone_}) == 0 &&
              Run("", {"ip", "link", "add", peer, "type", "veth", "peer", "name", peer2}) == 0 &&
              Run("", {"ip", "link", "set", peer, "netns", desktop_}) == 0 &&
              Run("", {"ip", "link", "set", peer2, "netns", phone_}) == 0 &&
              Run(desktop_, {"ip", "link", "set", peer, "name", "lan0"}) == 0 &&
              Run(phone_, {"ip", "link", "set", peer2, "name", "phone0"}) == 0 &&
              Run(desktop_, {"ip", "addr", "add", desktopAddress() + "/24", "dev", "lan0"}) == 0 &&
              Run(phone_, {"ip", "addr", "add", phoneAddress() + "/24", "dev", "phone0"}) == 0 &&
              Run(desktop_, {"ip", "link", "set", "lo", "up"}) == 0 &&
              Run(phone_, {"ip", "link", "set", "lo", "up"}) == 0 &&
              Run(desktop_, {"ip", "link", "set", "lan0", "up"}) == 0 &&
              Run(phone_, {"ip", "link", "set", "phone0", "up"}) == 0 &&
              // Broadcasts (KDE Connect's discovery) need a route.
              Run(desktop_, {"ip", "route", "add", "default", "dev", "lan0"}) == 0 &&
              Run(phone_, {"ip", "route", "add", "default", "dev", "phone0"}) == 0;
    if (ok && !rateLimit.empty())
      ok = Run(desktop_, {"tc", "qdisc", "add", "dev", "lan0", "root", "tbf", "rate", rateLimit,
                          "burst", "16kb", "latency", "2s"}) == 0 &&
           Run(phone_, {"tc", "qdisc", "add", "dev", "phone0", "root", "tbf", "rate", rateLimit,
                        "burst", "16kb", "latency", "2s"}) == 0;
    if (!ok) why_ = "could not make the namespaces: " + lastOutput_;
    ok_ = ok;
  }
  ~NetnsPair() {
    if (!desktop_.empty()) Run("", {"ip", "netns", "delete", desktop_});
    if (!phone_.empty()) Run("", {"ip", "netns", "delete", phone_});
  }
  NetnsPair(const NetnsPair&) = delete;
  NetnsPair& operator=(const NetnsPair&) = delete;

  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }
  const std::string& desktop() const { return desktop_; }
  const std::string& phone() const { return phone_; }
  std::string desktopAddress() const { return prefix_ + "1"; }
  std::string phoneAddress() const { return prefix_ + "2"; }

  // argv to run inside the namespace `ns` ("" : this one).
  static std::vector<std::string> In(const std::string& ns, const std::vector<std::string>& argv) {
    if (ns.empty()) return argv;
    std::vector<std::string> all = {"ip", "netns", "exec", ns};
    all.insert(all.end(), argv.begin(), argv.end());
    return all;
  }
  std::vector<std::string> InDesktop(const std::vector<std::string>& argv) const {
    return In(desktop_, argv);
  }
  std::vector<std::string> InPhone(const std::vector<std::string>& argv) const {
    return In(phone_, argv);
  }

  // Runs argv in `ns` ("" : this one) to its end; its exit status (-1 when
  // it did not exit), its output and errors in `out`.
  int Run(const std::string& ns, const std::vector<std::string>& argv, std::string* out = nullptr) {
    int status = RunTool(In(ns, argv), &lastOutput_);
    if (out) *out = lastOutput_;
    return status;
  }

 private:
  static int& counter() {
    static int n = 0;
    return n;
  }
  bool ok_ = false;
  std::string why_, desktop_, phone_, prefix_, lastOutput_;
};

}  // namespace zb::testing
