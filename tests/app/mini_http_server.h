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
  int port() const { return port_; }
  void Serve(const std::string& path, const std::string& body,
             const std::string& type = "text/html");
  std::vector<std::string> Requests();
  bool WaitForRequest(const std::string& prefix, int timeoutMs);

 private:
  void Loop();
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex m_;
  std::map<std::string, std::pair<std::string, std::string>> pages_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace zb::testing
