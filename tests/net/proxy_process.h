// The real proxies the network tests route through, started by the test:
// tinyproxy (HTTP) and microsocks (SOCKS5), each on a free port of
// 127.0.0.1, with its log (standard error) kept in a file.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "net_test_util.h"
#include "temp_dir.h"

extern char** environ;

namespace zb::testing {

class ProxyProcess {
 public:
  enum class Kind { kHttp, kSocks5 };

  explicit ProxyProcess(Kind kind) : kind_(kind) {
    for (int attempt = 0; attempt < 5 && pid_ <= 0; ++attempt) TryStart();
  }
  ~ProxyProcess() { Stop(); }
  ProxyProcess(const ProxyProcess&) = delete;
  ProxyProcess& operator=(const ProxyProcess&) = delete;

  bool running() const { return pid_ > 0; }
  int port() const { return port_; }
  std::string authority() const { return "127.0.0.1:" + std::to_string(port_); }
  // What it has logged so far.
  std::string Log() const {
    std::ifstream f(dir_ / "log");
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  static std::string Program(Kind kind) {
    return kind == Kind::kHttp ? "/usr/bin/tinyproxy" : "/usr/bin/microsocks";
  }

 private:
  void TryStart() {
    port_ = ClosedPort();
    std::vector<std::string> args;
    if (kind_ == Kind::kHttp) {
      // In the foreground, no system service, no Via header added.
      std::ofstream(dir_ / "tinyproxy.conf")
          << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\nDisableViaHeader Yes\n"
          << "Allow 127.0.0.1\nLogLevel Info\nMaxClients 20\n";
      args = {Program(kind_), "-d", "-c", dir_ / "tinyproxy.conf"};
    } else {
      args = {Program(kind_), "-i", "127.0.0.1", "-p", std::to_string(port_)};
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    std::string log = dir_ / "log";
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return;
    // Ready once the port takes connections; gone if it could not listen.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      int st;
      if (::waitpid(pid, &st, WNOHANG) == pid) return;
      if (Accepts()) {
        pid_ = pid;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  bool Accepts() const {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port_));
    bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
  }
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int st;
    while (::waitpid(pid_, &st, WNOHANG) != pid_) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &st, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
  }

  Kind kind_;
  TempDir dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace zb::testing
