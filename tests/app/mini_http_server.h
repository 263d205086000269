// A small HTTP/1.0 server on 127.0.0.1 for end-to-end tests: answers every
// GET with the page registered for its path (or 404) and records the request
// lines it saw.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zb::testing {

class MiniHttpServer {
 public:
  MiniHttpServer();
  ~MiniHttpServer();
  int Port() const { return m_port; }
  void Serve(const std::string& path, const std::string& body,
             const std::string& type = "text/html");
  std::vector<std::string> Requests();
  bool WaitForRequest(const std::string& prefix, int timeoutMs);

 private:
  void Loop();
  int m_fd = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::mutex m__;
  std::map<std::string, std::pair<std::string, std::string>> m_pages;
  std::vector<std::string> m_requests;
  std::thread m_thread;
};

}  // namespace zb::testing
