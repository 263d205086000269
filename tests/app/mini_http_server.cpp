#include "app/mini_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace zb::testing {

MiniHttpServer::MiniHttpServer() {
  m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
  m_port = ntohs(a.sin_port);
  ::listen(m_fd, 16);
  m_thread = std::thread([this] { Loop(); });
}

MiniHttpServer::~MiniHttpServer() {
  m_stop = true;
  m_thread.join();
  ::close(m_fd);
}

void MiniHttpServer::Serve(const std::string& path, const std::string& body,
                           const std::string& type) {
  std::lock_guard<std::mutex> l(m__);
  m_pages[path] = {body, type};
}

std::vector<std::string> MiniHttpServer::Requests() {
  std::lock_guard<std::mutex> l(m__);
  return m_requests;
}

bool MiniHttpServer::WaitForRequest(const std::string& prefix, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    for (const auto& r : Requests())
      if (r.rfind(prefix, 0) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void MiniHttpServer::Loop() {
  while (!m_stop) {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    int c = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) continue;
    std::string req;
    char buf[4096];
    while (req.find("\r\n\r\n") == std::string::npos) {
      pollfd q{c, POLLIN, 0};
      if (::poll(&q, 1, 2000) <= 0) break;
      ssize_t n = ::read(c, buf, sizeof buf);
      if (n <= 0) break;
      req.append(buf, n);
    }
    std::string line = req.substr(0, req.find("\r\n"));
    std::string path;
    {
      auto s1 = line.find(' '), s2 = line.rfind(' ');
      if (s1 != std::string::npos && s2 > s1) path = line.substr(s1 + 1, s2 - s1 - 1);
    }
    std::string body, type = "text/plain", status = "404 Not Found";
    {
      std::lock_guard<std::mutex> l(m__);
      m_requests.push_back(path);
      auto q = path.find('?');
      auto it = m_pages.find(path.substr(0, q));
      if (it != m_pages.end()) {
        body = it->second.first;
        type = it->second.second;
        status = "200 OK";
      }
    }
    std::string resp = "HTTP/1.0 " + status + "\r\nContent-Type: " + type +
                       "\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\nConnection: close\r\n\r\n" + body;
    ssize_t off = 0;
    while (off < static_cast<ssize_t>(resp.size())) {
      ssize_t w = ::write(c, resp.data() + off, resp.size() - off);
      if (w <= 0) break;
      off += w;
    }
    ::close(c);
  }
}

}  // namespace zb::testing
