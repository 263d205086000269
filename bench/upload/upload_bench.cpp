// Uploads a 100 MB file through the upload job (64 KiB chunks) to a sink
// server on 127.0.0.1, and sends the same file to the same server with
// `curl --http1.0 --data-binary @file`, in alternating rounds; prints the
// median throughput of each and the median of the rounds' throughput ratios
// (job / curl; the goal is 0.9 or more).
//
//   upload_bench [rounds] [megabytes] [work folder]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "jobs/job_state.h"
#include "net/upload.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Reads each request to the end of the body its Content-Length announces,
// then answers 200 and closes; one connection at a time.
class Sink {
 public:
  Sink() {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(m_fd, 8);
    socklen_t len = sizeof a;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~Sink() {
    m_stop = true;
    ::shutdown(m_fd, SHUT_RDWR);
    m_thread.join();
    ::close(m_fd);
  }
  int Port() const { return m_port; }
  uint64_t LastBody() const { return m_lastBody.load(); }

 private:
  void Serve() {
    std::vector<char> buf(1 << 20);
    while (!m_stop) {
      int c = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      std::string head;
      uint64_t body = 0, want = UINT64_MAX;
      for (;;) {
        ssize_t n = ::recv(c, buf.data(), buf.size(), 0);
        if (n <= 0) break;
        if (want == UINT64_MAX) {
          head.append(buf.data(), static_cast<size_t>(n));
          size_t end = head.find("\r\n\r\n");
          if (end == std::string::npos) continue;
          size_t cl = head.find("Content-Length: ");
          want = cl == std::string::npos ? 0 : std::stoull(head.substr(cl + 16));
          body = head.size() - end - 4;
        } else {
          body += static_cast<uint64_t>(n);
        }
        if (body >= want) break;
      }
      m_lastBody = body;
      const char ok[] = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nOK";
      (void)!::send(c, ok, sizeof ok - 1, MSG_NOSIGNAL);
      ::close(c);
    }
  }

  int m_fd = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<uint64_t> m_lastBody{0};
  std::thread m_thread;
};

double JobSeconds(const std::string& file) {
  auto state = std::make_shared<zb::jobs::JobState>();
  auto t0 = Clock::now();
  if (!zb::net::StartUpload(state, file, "bench")) return -1;
  while (state->Status(zb::jobs::JobKind::kUpload) < 100)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  double s = std::chrono::duration<double>(Clock::now() - t0).count();
  zb::jobs::WaitForJobThreadsForTesting(10000);
  return state->Status(zb::jobs::JobKind::kUpload) == 100 ? s : -1;
}

double CurlSeconds(const std::string& file, int port) {
  std::string url = "http://127.0.0.1:" + std::to_string(port) +
                    "/cgi-bin/zbl_upload2.cgi?sid=bench&ver=260&aff=2";
  std::string data = "@" + file;
  std::vector<std::string> args = {BENCH_CURL_PROGRAM, "-s", "-o", "/dev/null", "--http1.0",
                                   "--data-binary",    data, url};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  auto t0 = Clock::now();
  pid_t pid;
  if (posix_spawn(&pid, BENCH_CURL_PROGRAM, nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  double s = std::chrono::duration<double>(Clock::now() - t0).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? s : -1;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  uint64_t mb = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;
  std::string base = argc > 3 ? argv[3] : std::filesystem::temp_directory_path().string();
  std::string tmpl = base + "/zb-upbench-XXXXXX";
  if (!mkdtemp(tmpl.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  std::string file = tmpl + "/tone.mp3";
  {
    std::ofstream out(file, std::ios::binary);
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + (i >> 11));
    for (uint64_t i = 0; i < mb; ++i)
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  const uint64_t bytes = mb << 20;

  Sink sink;
  setenv("ZIMBREL_SERVICE_HOST", ("127.0.0.1:" + std::to_string(sink.Port())).c_str(), 1);
  std::vector<double> job, curl;
  bool failed = false;
  for (int r = -1; r < rounds && !failed; ++r) {  // round -1 warms the page cache
    double j, c;
    if (r % 2) {
      j = JobSeconds(file);
      failed = failed || sink.LastBody() != bytes;
      c = CurlSeconds(file, sink.Port());
    } else {
      c = CurlSeconds(file, sink.Port());
      j = JobSeconds(file);
      failed = failed || sink.LastBody() != bytes;
    }
    failed = failed || j < 0 || c < 0;
    if (r >= 0) {
      job.push_back(j);
      curl.push_back(c);
    }
  }
  std::filesystem::remove_all(tmpl);
  if (failed) {
    std::printf("upload: a run failed\n");
    return 1;
  }
  double mbJob = static_cast<double>(mb) / Median(job);
  double mbCurl = static_cast<double>(mb) / Median(curl);
  std::printf(
      "upload: %llu MB, %d rounds, median: job %.0f MB/s, curl %.0f MB/s, ratio %.2f "
      "(goal >= 0.90)\n",
      static_cast<unsigned long long>(mb), rounds, mbJob, mbCurl, mbJob / mbCurl);
  return 0;
}
