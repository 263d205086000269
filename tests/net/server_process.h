// Real servers started by the network tests, each on a free port of
// 127.0.0.1 with a configuration of its own and its log (standard output
// and error) kept in a file: the proxies the requests route through
// (tinyproxy for HTTP, microsocks for SOCKS5), and nginx.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "net_test_util.h"
#include "temp_dir.h"

extern char** environ;

namespace zb::testing {

class ServerProcess {
 public:
  // Makes the command line for `port`, writing what it needs into `dir`.
  using CommandLine = std::function<std::vector<std::string>(int port, const TempDir& dir)>;

  explicit ServerProcess(CommandLine commandLine) : m_commandLine(std::move(commandLine)) {
    for (int attempt = 0; attempt < 5 && m_pid <= 0; ++attempt) TryStart();
  }
  ~ServerProcess() { Stop(); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  bool Running() const { return m_pid > 0; }
  int Port() const { return m_port; }
  std::string Authority() const { return "127.0.0.1:" + std::to_string(m_port); }
  const TempDir& Dir() const { return m_dir; }
  // What it has logged so far.
  std::string Log() const { return ReadAll(m_dir / "log"); }

 protected:
  static std::string ReadAll(const std::string& path) {
    std::ifstream f(path);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }

 private:
  void TryStart() {
    m_port = ClosedPort();
    std::vector<std::string> args = m_commandLine(m_port, m_dir);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    std::string log = m_dir / "log";
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
        m_pid = pid;
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
    a.sin_port = htons(static_cast<uint16_t>(m_port));
    bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
  }
  void Stop() { EndChild(m_pid, std::chrono::seconds(5)); }

  CommandLine m_commandLine;
  TempDir m_dir;
  int m_port = 0;
  pid_t m_pid = -1;
};

class ProxyProcess : public ServerProcess {
 public:
  enum class Kind { kHttp, kSocks5 };

  explicit ProxyProcess(Kind kind)
      : ServerProcess([kind](int port, const TempDir& dir) -> std::vector<std::string> {
          if (kind == Kind::kHttp) {
            // In the foreground, no system service, no Via header added.
            std::ofstream(dir / "tinyproxy.conf")
                << "Port " << port << "\nListen 127.0.0.1\nTimeout 30\nDisableViaHeader Yes\n"
                << "Allow 127.0.0.1\nLogLevel Info\nMaxClients 20\n";
            return {Program(kind), "-d", "-c", dir / "tinyproxy.conf"};
          }
          return {Program(kind), "-i", "127.0.0.1", "-p", std::to_string(port)};
        }) {}

  static std::string Program(Kind kind) {
    return kind == Kind::kHttp ? "/usr/bin/tinyproxy" : "/usr/bin/microsocks";
  }
};

// nginx in the foreground, one process, serving the folder `www` of its own
// folder, with `http` (lines inside its http block) added to its
// configuration. Its access log ("access") records each request's
// Accept-Encoding.
class NginxProcess : public ServerProcess {
 public:
  explicit NginxProcess(std::function<void(const TempDir& dir)> fill, std::string http = "")
      : ServerProcess([fill, http](int port, const TempDir& dir) -> std::vector<std::string> {
          ::mkdir((dir / "www").c_str(), 0755);
          ::mkdir((dir / "temp").c_str(), 0755);
          fill(dir);
          std::string conf = "daemon off;\nmaster_process off;\nworker_processes 1;\n";
          conf += "pid " + dir / "nginx.pid" + ";\nerror_log " + dir / "log" + ";\n";
          conf += "events { worker_connections 64; }\nhttp {\n";
          conf += "  types { text/plain txt; text/html html; }\n";
          conf += "  default_type application/octet-stream;\n";
          conf += "  log_format enc '$request_uri $http_accept_encoding';\n";
          conf += "  access_log " + dir / "access" + " enc;\n";
          for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
            conf += std::string("  ") + temp + "_temp_path " + dir / "temp" + ";\n";
          conf += http + "\n  server {\n    listen 127.0.0.1:" + std::to_string(port) + ";\n";
          conf += "    root " + dir / "www" + ";\n  }\n}\n";
          std::ofstream(dir / "nginx.conf") << conf;
          return {kProgram, "-p", dir.Path(), "-c", dir / "nginx.conf", "-e", dir / "log"};
        }) {}

  static constexpr const char* kProgram = "/usr/sbin/nginx";
  // The access log so far: one line per request, its URI and Accept-Encoding.
  std::string Accesses() const { return ReadAll(Dir() / "access"); }
};

}  // namespace zb::testing
