// Runs the real zimbrel-service on a free port of 127.0.0.1 for a test and
// stops (and reaps) it when the test ends. Its standard error (one line per
// request, and the uploads it drops) goes to a file the test can read.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "child_process.h"
#include "temp_dir.h"

extern char** environ;

namespace zb::testing {

class ServiceProcess {
 public:
  // Starts the service on `dataDir` with `options` (its limits); Port() is 0
  // when it did not come up.
  explicit ServiceProcess(const std::string& dataDir,
                          const std::vector<std::string>& options = {}) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, m_logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args = {ZIMBREL_SERVICE_BIN, "--port", "0"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"--data", dataDir});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&m_pid, ZIMBREL_SERVICE_BIN, &fa, nullptr, argv.data(), environ) != 0)
      m_pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    // The first line names the address: "listening on http://127.0.0.1:PORT/ ...".
    const std::string said = m_pid > 0 ? ReadUntil(out[0], "\n", std::chrono::seconds(10)) : "";
    m_firstLine = said.substr(0, said.find('\n'));
    ::close(out[0]);
    const std::string prefix = "listening on http://127.0.0.1:";
    if (m_firstLine.rfind(prefix, 0) == 0) m_port = std::stoi(m_firstLine.substr(prefix.size()));
  }
  ~ServiceProcess() { Stop(); }
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  int Port() const { return m_port; }
  pid_t Pid() const { return m_pid; }
  std::string Authority() const { return "127.0.0.1:" + std::to_string(m_port); }
  const std::string& FirstLine() const { return m_firstLine; }
  std::string Log() const {
    std::ifstream in(m_logPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Sends SIGTERM and returns the exit status (as waitpid gives it); a
  // service that has not ended after 5 s is killed.
  int Stop() { return EndChild(m_pid, std::chrono::seconds(5)); }

 private:
  TempDir m_logDir;
  std::string m_logPath = m_logDir / "service.log";
  pid_t m_pid = -1;
  int m_port = 0;
  std::string m_firstLine;
};

}  // namespace zb::testing
