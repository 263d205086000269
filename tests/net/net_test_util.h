// Shared pieces of the network job tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "jobs/job_state.h"
#include "net/transfer.h"
#include "raw_server.h"
#include "temp_dir.h"

namespace zb::testing {

// Deterministic bytes holding every byte value.
inline std::string Pattern(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 23);
  }
  return s;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Splits a request head into its first line and its header lines (sorted),
// so that two heads compare equal whatever order the client wrote them in.
struct Head {
  std::string line;
  std::vector<std::string> headers;
  bool operator==(const Head&) const = default;
};

inline Head ParseHead(const std::string& head) {
  Head h;
  size_t pos = 0;
  bool first = true;
  while (pos < head.size()) {
    size_t end = head.find("\r\n", pos);
    if (end == std::string::npos) end = head.size();
    std::string l = head.substr(pos, end - pos);
    pos = end + 2;
    if (l.empty()) break;
    if (first)
      h.line = l;
    else
      h.headers.push_back(l);
    first = false;
  }
  std::sort(h.headers.begin(), h.headers.end());
  return h;
}

inline void PrintTo(const Head& h, std::ostream* os) {
  *os << h.line;
  for (const auto& l : h.headers) *os << " | " << l;
}

// A port on 127.0.0.1 where nothing listens.
inline int ClosedPort() {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

// The fixture of the job tests: a job state, a temporary folder, and the
// time-outs restored (and every job thread ended) after each test.
class NetJobTest : public ::testing::Test {
 protected:
  ~NetJobTest() override {
    EXPECT_TRUE(jobs::WaitForJobThreadsForTesting(20000));
    net::SetTimeoutsForTesting(net::Timeouts{});
    net::FailHandleCreationForTesting(false);
  }
  int32_t Status(jobs::JobKind k) { return m_jobs->Status(k); }
  // Waits for the job's final status (at least `final`).
  int32_t WaitFinal(jobs::JobKind k, int32_t final, int timeoutMs = 10000) {
    return PollUntil<int32_t>([&] { return Status(k); }, [&](int32_t v) { return v >= final; },
                              timeoutMs);
  }

  TempDir m_dir;
  std::shared_ptr<jobs::JobState> m_jobs = std::make_shared<jobs::JobState>();
};

}  // namespace zb::testing
