// The service as the user's own: on a Unix socket (bound itself, or handed
// over by systemd-socket-activate), with the browser's pages on a loopback
// port, uploads over quota refused before their body, the idle exit, and its
// systemd units.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "socket_service.h"
#include "temp_dir.h"

namespace zb {
namespace {

namespace fs = std::filesystem;
using testing::HttpAnswer;
using testing::SocketService;
using testing::TempDir;

bool OnPath(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

size_t FilesUnder(const fs::path& dir) {
  size_t n = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
       it.increment(ec))
    if (it->is_regular_file(ec)) ++n;
  return n;
}

TEST(ServiceSocket, ProgramOnTheSocketPagesOnTheBrowserPort) {
  TempDir dir;
  SocketService service(dir / "run/zimbrel/service.sock", dir / "data");
  ASSERT_TRUE(service.Ok()) << service.Log();

  // Only its user may even reach the socket.
  struct stat st;
  ASSERT_EQ(::stat((dir / "run/zimbrel/service.sock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((dir / "run/zimbrel").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  std::string sid = service.OpenSession("07700900123");
  ASSERT_EQ(sid.size(), 32u);
  HttpAnswer up = service.Post("/cgi-bin/zbl_upload2.cgi?sid=" + sid, std::string(5000, 'r'));
  EXPECT_EQ(up.status, 200) << up.body;

  HttpAnswer where = service.Get("/cgi-bin/zbl_browser.cgi");
  EXPECT_EQ(where.status, 200);
  EXPECT_NE(where.head.find("application/json"), std::string::npos);
  EXPECT_EQ(where.body, "{\"url\": \"" + service.BrowserUrl() + "\"}");
  EXPECT_EQ(service.BrowserUrl().rfind("http://127.0.0.1:", 0), 0u);

  // The browser's pages, for this user; not for a page that reaches the
  // port under another name.
  httplib::Client browser("127.0.0.1", service.BrowserPort());
  auto page = browser.Get("/phone/07700900123");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find(".mp3"), std::string::npos);
  auto rebound = browser.Get("/phone/07700900123", {{"Host", "attacker.example"}});
  ASSERT_TRUE(rebound);
  EXPECT_EQ(rebound->status, 421);
  // The program's own requests are not on the browser's port.
  auto session = browser.Get("/cgi-bin/zbl_session.cgi?name=A&phone=0770090012&network=V");
  ASSERT_TRUE(session);
  EXPECT_EQ(session->status, 404);
}

TEST(ServiceSocket, UploadOverQuotaIsRefusedBeforeItsBody) {
  TempDir dir;
  SocketService service(dir / "s.sock", dir / "data", {"--session-quota", "1048576"});
  ASSERT_TRUE(service.Ok()) << service.Log();
  std::string sid = service.OpenSession();
  const std::string head = "POST /cgi-bin/zbl_upload2.cgi?sid=" + sid +
                           " HTTP/1.1\r\nHost: localhost\r\nContent-Type: audio/mpeg\r\n"
                           "Content-Length: 629145600\r\n";

  // Asked first: refused instead of "100 Continue".
  int fd = testing::ConnectUnix(service.Socket());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(testing::SendAll(fd, head + "Expect: 100-continue\r\n\r\n"));
  std::string raw = testing::ReadToEnd(fd);
  ::close(fd);
  EXPECT_EQ(raw.find("100 Continue"), std::string::npos) << raw;
  EXPECT_EQ(testing::ParseAnswer(raw).status, 413) << raw;

  // Not asked: answered after the head, with 64 KiB of the 600 MiB sent and
  // the rest never sent; the answer still arrives whole.
  fd = testing::ConnectUnix(service.Socket());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(testing::SendAll(fd, head + "\r\n" + std::string(65536, 'x')));
  raw = testing::ReadToEnd(fd);
  ::close(fd);
  HttpAnswer a = testing::ParseAnswer(raw);
  EXPECT_EQ(a.status, 413) << raw;
  EXPECT_NE(a.body.find("ERROR"), std::string::npos);

  // An unknown session is refused the same way; nothing was stored.
  fd = testing::ConnectUnix(service.Socket());
  ASSERT_TRUE(testing::SendAll(fd,
                               "POST /cgi-bin/zbl_upload2.cgi?sid=0123 HTTP/1.1\r\nHost: x\r\n"
                               "Content-Length: 1000\r\nExpect: 100-continue\r\n\r\n"));
  EXPECT_EQ(testing::ParseAnswer(testing::ReadToEnd(fd)).status, 403);
  ::close(fd);
  EXPECT_EQ(FilesUnder(dir / "data/incoming"), 0u);
  EXPECT_EQ(FilesUnder(dir / "data/phones"), 0u);

  // A service that is full says so, before the body as well.
  {
    TempDir other;
    SocketService full(other / "s.sock", other / "data", {"--total-quota", "1000"});
    ASSERT_TRUE(full.Ok()) << full.Log();
    fd = testing::ConnectUnix(full.Socket());
    ASSERT_TRUE(testing::SendAll(fd, "POST /cgi-bin/zbl_upload2.cgi?sid=" + full.OpenSession() +
                                         " HTTP/1.1\r\nHost: x\r\nContent-Length: 5000\r\n"
                                         "Expect: 100-continue\r\n\r\n"));
    EXPECT_EQ(testing::ParseAnswer(testing::ReadToEnd(fd)).status, 507);
    ::close(fd);
  }

  // Within the quota the same session still delivers.
  EXPECT_EQ(service.Post("/cgi-bin/zbl_upload2.cgi?sid=" + sid, std::string(4096, 'r')).status,
            200);
  EXPECT_EQ(FilesUnder(dir / "data/phones"), 1u);
}

TEST(ServiceSocket, OneServicePerSocket) {
  TempDir dir;
  const std::string sock = dir / "s.sock";
  {
    SocketService first(sock, dir / "data1");
    ASSERT_TRUE(first.Ok()) << first.Log();
    // A second one does not take the socket of a live one.
    SocketService second(sock, dir / "data2");
    EXPECT_FALSE(second.Ok());
    EXPECT_TRUE(second.Ended(std::chrono::seconds(10)));
    EXPECT_NE(second.Log().find("another service answers"), std::string::npos) << second.Log();
    // One that was killed leaves its socket behind...
    ::kill(first.Pid(), SIGKILL);
    EXPECT_TRUE(first.Ended(std::chrono::seconds(10)));
  }
  // ...which the next one replaces.
  SocketService next(sock, dir / "data1");
  ASSERT_TRUE(next.Ok()) << next.Log();
  EXPECT_EQ(next.OpenSession().size(), 32u);
}

TEST(ServiceSocket, StartedBySystemdOnTheFirstConnection) {
  if (!OnPath("systemd-socket-activate")) GTEST_SKIP() << "systemd-socket-activate is missing";
  TempDir dir;
  const std::string sock = dir / "service.sock";
  const std::string log = dir / "log";
  pid_t pid = testing::SpawnLogged(
      {"systemd-socket-activate", "-l", sock, ZIMBREL_SERVICE_BIN, "--data", dir / "data"}, log);
  ASSERT_GT(pid, 0);
  for (int i = 0; i < 1000 && !fs::exists(sock); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  // The service starts with this connection and answers it.
  HttpAnswer a =
      testing::UnixRequest(sock, "/cgi-bin/zbl_session.cgi?name=Ann&network=V&phone=07700900123");
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.body.rfind("OK ", 0), 0u) << a.body;
  HttpAnswer where = testing::UnixRequest(sock, "/cgi-bin/zbl_browser.cgi");
  EXPECT_NE(where.body.find("http://127.0.0.1:"), std::string::npos) << where.body;
  testing::EndChild(pid, std::chrono::seconds(5));
  std::ifstream in(log);
  std::string said((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(said.find("listening on unix:(from systemd)"), std::string::npos) << said;
}

TEST(ServiceSocket, UnitsPassSystemdVerify) {
  if (!OnPath("systemd-analyze")) GTEST_SKIP() << "systemd-analyze is missing";
  TempDir run;
  const std::string units = ZIMBREL_SERVICE_UNITS;
  const std::string cmd = "XDG_RUNTIME_DIR=" + run.Path() +
                          " systemd-analyze verify --man=no --user " + units +
                          "/zimbrel-service.socket " + units + "/zimbrel-service.service 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[512];
  while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  EXPECT_EQ(::pclose(p), 0) << out;
  EXPECT_EQ(out, "");
}

TEST(ServiceSocket, IdleServiceEndsButNotWhileAShareIsLive) {
  TempDir dir;
  // The idle service ends by itself.
  {
    SocketService idle(dir / "a.sock", dir / "a", {"--idle-exit", "1"});
    ASSERT_TRUE(idle.Ok()) << idle.Log();
    EXPECT_TRUE(idle.Ended(std::chrono::seconds(30)));
  }
  // With a live share it keeps running until the share has ended.
  if (!OnPath("ffmpeg")) GTEST_SKIP() << "ffmpeg is missing";
  const std::string mp3 = dir / "tone.mp3";
  ASSERT_EQ(std::system(("ffmpeg -v error -f lavfi -i sine=d=3 -c:a libmp3lame -y " + mp3).c_str()),
            0);
  std::ifstream in(mp3, std::ios::binary);
  const std::string tone((std::istreambuf_iterator<char>(in)), {});
  SocketService svc(dir / "b.sock", dir / "b",
                    {"--idle-exit", "2", "--share-lifetime", "4", "--lan-address", "127.0.0.1",
                     "--lan-port", "0"});
  ASSERT_TRUE(svc.Ok()) << svc.Log();
  const std::string sid = svc.OpenSession();
  ASSERT_EQ(svc.Post("/cgi-bin/zbl_upload2.cgi?sid=" + sid, tone).status, 200);
  HttpAnswer share = svc.Get("/cgi-bin/zbl_share.cgi?sid=" + sid);
  ASSERT_EQ(share.status, 200) << share.body;
  const std::string url = share.body.substr(9, share.body.find('"', 9) - 9);
  const std::string path = url.substr(url.find("/s/"));
  const int port = std::atoi(url.c_str() + url.rfind(':') + 1);
  // Every time the link still answers, the service is still there.
  for (;;) {
    httplib::Client phone("127.0.0.1", port);
    auto r = phone.Get(path);
    if (!r || r->status != 200) break;
    EXPECT_FALSE(svc.Ended(std::chrono::milliseconds(0)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  EXPECT_TRUE(svc.Ended(std::chrono::seconds(30))) << svc.Log();
}

}  // namespace
}  // namespace zb
