// The demo service on a machine shared with others: slow and silent clients,
// parallel downloads of a large ringtone, quotas, sessions that expire and
// private files.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "service_process.h"
#include "temp_dir.h"

namespace zb {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using zb::testing::ServiceProcess;
using zb::testing::TempDir;

int ConnectTo(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Whether the server has closed the connection (waits up to `wait`).
bool ClosedByServer(int fd, std::chrono::milliseconds wait) {
  timeval tv{static_cast<time_t>(wait.count() / 1000),
             static_cast<suseconds_t>(wait.count() % 1000 * 1000)};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  char buf[512];
  for (;;) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return true;
    if (n < 0) return false;  // time-out: still open
  }
}

// A /proc/<pid>/status field in kB.
long StatusKb(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
  return -1;
}

std::string OpenSession(httplib::Client& client, const std::string& phone) {
  auto r = client.Get("/cgi-bin/zbl_session.cgi?name=Ann&network=V&phone=" + phone);
  return r && r->body.rfind("OK ", 0) == 0 ? r->body.substr(3) : "";
}

int Upload(httplib::Client& client, const std::string& sid, size_t bytes) {
  auto r = client.Post("/cgi-bin/zbl_upload2.cgi?sid=" + sid + "&ver=260&aff=2",
                       std::string(bytes, 'r'), "audio/mpeg");
  return r ? r->status : -1;
}

// A dozen clients that send a request's head one byte every two seconds
// hold no one up: every other request is answered meanwhile, and each slow
// client is dropped once the head's deadline has passed.
TEST(ServiceLimits, SlowClientsDoNotStopTheServiceServing) {
  TempDir data;
  ServiceProcess service(data.Path(), {"--header-timeout", "3000", "--read-timeout", "3000"});
  ASSERT_GT(service.Port(), 0) << service.FirstLine();
  const std::string head = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: yes\r\n\r\n";
  std::vector<int> slow;
  for (int i = 0; i < 12; ++i) slow.push_back(ConnectTo(service.Port()));
  std::atomic<int> dropped{0};
  std::atomic<bool> stop{false};
  std::vector<double> droppedAfter(12, -1);
  const auto start = Clock::now();
  std::thread trickle([&] {
    for (size_t at = 0; at < head.size() && !stop; ++at) {
      for (size_t i = 0; i < slow.size(); ++i) {
        if (droppedAfter[i] >= 0) continue;
        if (::send(slow[i], &head[at], 1, MSG_NOSIGNAL) != 1 ||
            ClosedByServer(slow[i], std::chrono::milliseconds(1))) {
          droppedAfter[i] = std::chrono::duration<double>(Clock::now() - start).count();
          ++dropped;
        }
      }
      if (dropped == 12) break;
      for (int t = 0; t < 20 && !stop; ++t)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  httplib::Client client("127.0.0.1", service.Port());
  client.set_read_timeout(5, 0);
  client.set_connection_timeout(5, 0);
  int answered = 0;
  for (int i = 0; i < 10; ++i) {
    auto r = client.Get("/redir.php?where=homepage");
    if (r && r->status == 200) ++answered;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  EXPECT_EQ(answered, 10);
  // Every slow client is dropped: 3 s after its connection, one byte later
  // at the latest (the wait is generous for a loaded machine).
  auto deadline = Clock::now() + std::chrono::seconds(20);
  while (dropped < 12 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  stop = true;
  trickle.join();
  EXPECT_EQ(dropped, 12);
  for (double t : droppedAfter) EXPECT_GE(t, 2.0) << "dropped before its head's deadline";
  for (int fd : slow) ::close(fd);
}

// At most so many connections are served at once; one more is told the
// service is busy at once, and served again once a place is free.
TEST(ServiceLimits, ConnectionsAboveTheCapAreToldTheServiceIsBusy) {
  TempDir data;
  ServiceProcess service(data.Path(), {"--max-connections", "4", "--header-timeout", "2000",
                                       "--read-timeout", "2000"});
  ASSERT_GT(service.Port(), 0) << service.FirstLine();
  std::vector<int> silent;
  for (int i = 0; i < 4; ++i) silent.push_back(ConnectTo(service.Port()));
  // The server takes the four in order; give it a moment to have them all.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int extra = ConnectTo(service.Port());
  ASSERT_GE(extra, 0);
  const std::string get = "GET / HTTP/1.0\r\n\r\n";
  ASSERT_EQ(::send(extra, get.data(), get.size(), MSG_NOSIGNAL), static_cast<ssize_t>(get.size()));
  char buf[256] = {0};
  ssize_t n = ::recv(extra, buf, sizeof buf - 1, 0);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buf).rfind("HTTP/1.1 503 Service Unavailable", 0), 0u) << buf;
  ::close(extra);
  // The silent ones are dropped at the head's deadline; then all is served.
  for (int fd : silent) {
    EXPECT_TRUE(ClosedByServer(fd, std::chrono::seconds(10)));
    ::close(fd);
  }
  httplib::Client client("127.0.0.1", service.Port());
  auto r = client.Get("/");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
}

// Six parallel downloads of a 200 MiB ringtone stream it from the disk: the
// service's resident memory grows by a few chunks, not by copies of the file.
TEST(ServiceLimits, ParallelDownloadsOfALargeRingtoneTakeLittleMemory) {
  TempDir data;
  const uint64_t size = uint64_t{200} << 20;
  const std::string name = "1700000000000-0001.mp3";
  fs::create_directories(data / "phones/5550100");
  {
    std::ofstream(data / ("phones/5550100/" + name)) << "ID3";
    fs::resize_file(data / ("phones/5550100/" + name), size);  // sparse: no disk is used
  }
  ServiceProcess service(data.Path());
  ASSERT_GT(service.Port(), 0) << service.FirstLine();
  httplib::Client warm("127.0.0.1", service.Port());
  ASSERT_TRUE(warm.Get("/phone/5550100"));
  const long before = StatusKb(service.Pid(), "VmRSS");
  std::vector<uint64_t> got(6, 0);
  std::vector<std::thread> downloads;
  for (int i = 0; i < 6; ++i)
    downloads.emplace_back([&, i] {
      httplib::Client client("127.0.0.1", service.Port());
      client.set_read_timeout(60, 0);
      client.Get("/phone/5550100/" + name, [&](const char*, size_t n) {
        got[i] += n;
        return true;
      });
    });
  long peak = 0;
  std::atomic<bool> done{false};
  std::thread sampler([&] {
    while (!done) {
      peak = std::max(peak, StatusKb(service.Pid(), "VmRSS"));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  for (auto& t : downloads) t.join();
  done = true;
  sampler.join();
  for (uint64_t n : got) EXPECT_EQ(n, size);
  const long hwm = StatusKb(service.Pid(), "VmHWM");
  std::printf("service memory: VmRSS %ld kB before, %ld kB at most while sampled, VmHWM %ld kB\n",
              before, peak, hwm);
  ::testing::Test::RecordProperty("vmrss_before_kb", std::to_string(before));
  ::testing::Test::RecordProperty("vmhwm_kb", std::to_string(hwm));
  EXPECT_LT(hwm - before, 64 * 1024) << "the downloads took " << (hwm - before) << " kB";
}

// Each session, and the service in all, stores only so much; sessions end;
// what the service keeps is private to its user.
TEST(ServiceLimits, QuotasSessionsThatExpireAndPrivateFiles) {
  TempDir data;
  std::string a, b;
  {
    ServiceProcess service(data.Path(), {"--session-quota", "250000", "--total-quota", "400000"});
    ASSERT_GT(service.Port(), 0) << service.FirstLine();
    httplib::Client client("127.0.0.1", service.Port());
    a = OpenSession(client, "555-0100");
    b = OpenSession(client, "555-0101");
    std::string c = OpenSession(client, "555-0102");
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(Upload(client, a, 200000), 200);
    EXPECT_EQ(Upload(client, a, 100000), 413);  // the session's quota
    EXPECT_EQ(Upload(client, a, 50000), 200);   // what fits still does
    EXPECT_EQ(Upload(client, b, 150000), 200);  // 400000 stored in all
    EXPECT_EQ(Upload(client, c, 20000), 507);   // the service is full
    EXPECT_TRUE(fs::is_empty(data / "incoming"));

    // Folders 0700, files 0600, all the way down.
    auto mode = [](const fs::path& p) {
      struct stat st;
      return ::stat(p.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0u;
    };
    EXPECT_EQ(mode(data.Path()), 0700u);
    for (const auto& e : fs::recursive_directory_iterator(data.Path()))
      EXPECT_EQ(mode(e.path()), e.is_directory() ? 0700u : 0600u) << e.path();
  }
  // A restart keeps what each session stored; a session older than the
  // lifetime is gone, together with its file.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  ServiceProcess later(data.Path(), {"--session-quota", "250000", "--session-lifetime", "1"});
  ASSERT_GT(later.Port(), 0) << later.FirstLine();
  httplib::Client client("127.0.0.1", later.Port());
  EXPECT_EQ(Upload(client, a, 1000), 403);
  EXPECT_FALSE(fs::exists(data / ("sessions/" + a)));
  EXPECT_FALSE(fs::exists(data / ("sessions/" + b)));
  // The ringtones stay delivered.
  auto page = client.Get("/phone/5550100");
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("<audio"), std::string::npos);
}

TEST(ServiceLimits, SessionsBeyondTheLimitAreRefusedAndSessionsKeepTheirTotalAcrossARestart) {
  TempDir data;
  std::string a;
  {
    ServiceProcess service(data.Path(), {"--max-sessions", "2", "--session-quota", "100000"});
    ASSERT_GT(service.Port(), 0) << service.FirstLine();
    httplib::Client client("127.0.0.1", service.Port());
    a = OpenSession(client, "555-0100");
    EXPECT_FALSE(OpenSession(client, "555-0101").empty());
    auto r = client.Get("/cgi-bin/zbl_session.cgi?name=Ann&network=V&phone=5550102");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, "ERROR The service is busy just now. Please try again later.");
    EXPECT_EQ(Upload(client, a, 80000), 200);
  }
  ServiceProcess again(data.Path(), {"--max-sessions", "2", "--session-quota", "100000"});
  ASSERT_GT(again.Port(), 0) << again.FirstLine();
  httplib::Client client("127.0.0.1", again.Port());
  EXPECT_EQ(Upload(client, a, 30000), 413);
  EXPECT_EQ(Upload(client, a, 20000), 200);
}

}  // namespace
}  // namespace zb
