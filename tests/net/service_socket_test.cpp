// The program and a service on the user's own Unix socket: uploads and the
// program's own questions reach it there, and a service that refuses an
// upload at its head ends the upload at once with its own status.
#include <gtest/gtest.h>

#include <mutex>

#include "jobs/job_status.h"
#include "net/service_query.h"
#include "net/upload.h"
#include "net_test_util.h"

namespace zb::net {
namespace {

using zb::testing::Pattern;
using zb::testing::RawConnection;
using zb::testing::RawServer;
using zb::testing::ScopedEnv;
using zb::testing::WriteFile;

class ServiceSocketTest : public zb::testing::NetJobTest {
 protected:
  int32_t WaitUpload() { return WaitFinal(jobs::JobKind::kUpload, 100, 20000); }
  std::string m_sock = m_dir / "service.sock";
};

std::string Json200(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n"
         "Content-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST_F(ServiceSocketTest, UploadsReachTheSocketByteForByte) {
  std::string body = Pattern(3 * 1024 * 1024 + 5);
  std::string file = m_dir / "tone.mp3";
  WriteFile(file, body);
  RawServer server(RawServer::UnixPath{m_sock}, [](RawConnection& conn) {
    if (conn.ReadRequest()) conn.Send("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nOK");
  });
  ScopedEnv host("ZIMBREL_SERVICE_HOST", "unix:" + m_sock);
  ScopedEnv proxy("http_proxy", "http://127.0.0.1:" + std::to_string(zb::testing::ClosedPort()));
  ASSERT_TRUE(StartUpload(m_jobs, file, "s 1"));
  EXPECT_EQ(WaitUpload(), 100);
  ASSERT_TRUE(server.WaitDone(1));
  std::string got = server.Received()[0];
  size_t headEnd = got.find("\r\n\r\n");
  ASSERT_NE(headEnd, std::string::npos);
  EXPECT_EQ(got.substr(0, got.find("\r\n")),
            "POST /cgi-bin/zbl_upload2.cgi?sid=s%201&ver=260&aff=2 HTTP/1.0");
  EXPECT_NE(got.find("\r\nHost: localhost\r\n"), std::string::npos);
  EXPECT_EQ(got.size(), headEnd + 4 + body.size());
  EXPECT_TRUE(got.compare(headEnd + 4, std::string::npos, body) == 0) << "body differs";
}

// The service reads the head, answers 413 or 507 and goes on reading what
// comes: the upload stops long before the file is sent and says the service
// had no room; on TCP and on the socket alike.
TEST_F(ServiceSocketTest, AnUploadRefusedAtItsHeadEndsAtOnceAsRefused) {
  const size_t size = 64u << 20;
  std::string file = m_dir / "big.mp3";
  WriteFile(file, Pattern(size));
  for (const char* status : {"413 Content Too Large", "507 Insufficient Storage"}) {
    for (bool onSocket : {false, true}) {
      SCOPED_TRACE(std::string(status) + (onSocket ? " on the socket" : " on TCP"));
      auto handler = [&](RawConnection& conn) {
        if (!conn.ReadHead()) return;
        conn.Send(std::string("HTTP/1.1 ") + status +
                  "\r\nContent-Type: application/json\r\nContent-Length: 20\r\n\r\n"
                  "{\"error\": \"no room\"}");
        conn.ReadUntilClose(20000);
      };
      auto server = onSocket ? std::make_unique<RawServer>(RawServer::UnixPath{m_sock}, handler)
                             : std::make_unique<RawServer>(handler);
      ScopedEnv host("ZIMBREL_SERVICE_HOST", onSocket ? "unix:" + m_sock : server->Authority());
      ASSERT_TRUE(StartUpload(m_jobs, file, "s1"));
      EXPECT_EQ(WaitUpload(), jobs::status::kUploadRefused);
      ASSERT_TRUE(server->WaitDone(1, 30000));
      EXPECT_LT(server->Received()[0].size(), size / 2);
      ASSERT_TRUE(jobs::WaitForJobThreadsForTesting(10000));
    }
  }
}

// A file small enough to be written whole before the refusal arrives is
// refused all the same; other answers to the whole body still end it done.
TEST_F(ServiceSocketTest, ASmallUploadRefusedAfterItsBodyIsStillRefused) {
  std::string file = m_dir / "small.mp3";
  WriteFile(file, Pattern(20000));
  for (auto [answer, expected] :
       {std::pair<const char*, int32_t>{"413 Content Too Large", jobs::status::kUploadRefused},
        std::pair<const char*, int32_t>{"507 Insufficient Storage", jobs::status::kUploadRefused},
        std::pair<const char*, int32_t>{"403 Forbidden", jobs::status::kUploadDone}}) {
    SCOPED_TRACE(answer);
    RawServer server(RawServer::UnixPath{m_sock}, [&, answer = answer](RawConnection& conn) {
      if (conn.ReadRequest())
        conn.Send(std::string("HTTP/1.1 ") + answer + "\r\nContent-Length: 0\r\n\r\n");
    });
    ScopedEnv host("ZIMBREL_SERVICE_HOST", "unix:" + m_sock);
    ASSERT_TRUE(StartUpload(m_jobs, file, "s1"));
    EXPECT_EQ(WaitUpload(), expected);
    ASSERT_TRUE(server.WaitDone(1));
    ASSERT_TRUE(zb::jobs::WaitForJobThreadsForTesting(10000));
  }
}

TEST_F(ServiceSocketTest, TheServiceNamesItsBrowserAddressOnlyOnLoopback) {
  // The answer the server gives next; the server's thread may still be
  // sending the last one when the test sets the next.
  std::mutex lock;
  std::string next;
  auto answer = [&](std::string a) {
    std::lock_guard<std::mutex> hold(lock);
    next = std::move(a);
  };
  RawServer server(RawServer::UnixPath{m_sock}, [&](RawConnection& conn) {
    std::string a;
    {
      std::lock_guard<std::mutex> hold(lock);
      a = next;
    }
    if (conn.ReadHead()) conn.Send(a);
  });
  ServiceHost service;
  ASSERT_TRUE(ParseServiceHost("unix:" + m_sock, &service));
  const auto limit = std::chrono::seconds(10);

  answer(Json200("{\"url\": \"http://127.0.0.1:41234/\", \"other\": [1, {\"a\": null}]}"));
  auto a = BrowserAddress(service, limit);
  ASSERT_TRUE(a.Ok());
  EXPECT_EQ(a.Value(), "http://127.0.0.1:41234/");
  ASSERT_TRUE(server.WaitDone(1));
  EXPECT_EQ(server.Received()[0].substr(0, server.Received()[0].find("\r\n")),
            "GET /cgi-bin/zbl_browser.cgi HTTP/1.1");

  // Anything but a loopback address of its own is refused: the program
  // would open it in the browser.
  for (std::string url : {"http://192.168.1.2:80/", "http://127.0.0.1.evil.test:80/",
                          "https://127.0.0.1:443/", "http://127.0.0.1/", "javascript:1"}) {
    SCOPED_TRACE(url);
    answer(Json200("{\"url\": \"" + url + "\"}"));
    auto r = BrowserAddress(service, limit);
    ASSERT_FALSE(r.Ok());
    EXPECT_EQ(r.Reason(), QueryFailure::kBadAnswer);
  }
  answer("HTTP/1.1 503 Busy\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  auto busy = BrowserAddress(service, limit);
  ASSERT_FALSE(busy.Ok());
  EXPECT_EQ(busy.Reason(), QueryFailure::kStatus);
  EXPECT_EQ(busy.Detail(), 503);

  ServiceHost gone;
  ASSERT_TRUE(ParseServiceHost("unix:" + std::string(m_dir / "none.sock"), &gone));
  auto g = BrowserAddress(gone, limit);
  ASSERT_FALSE(g.Ok());
  EXPECT_EQ(g.Reason(), QueryFailure::kUnreachable);

  // A TCP service is its own browser address, asked nothing.
  ServiceHost tcp;
  ASSERT_TRUE(ParseServiceHost("svc.test:8080", &tcp));
  EXPECT_EQ(BrowserAddress(tcp, limit).Value(), "http://svc.test:8080/");
}

TEST(ServiceAnswers, JsonFieldsAndLoopbackAddresses) {
  EXPECT_EQ(JsonStringField(R"({"url": "a\"b\\c\/d\u00e9\ud83c\udfb5"})", "url"),
            "a\"b\\c/d\xC3\xA9\xF0\x9F\x8E\xB5");
  EXPECT_EQ(JsonStringField(R"( {"x": {"url": "inner"}, "url" : "outer" } )", "url"), "outer");
  EXPECT_EQ(JsonStringField(R"({"x": [1, -2.5e3, true, null, "s"]})", "url"), std::nullopt);
  for (const char* bad : {R"({"url": 5})", R"({"url": "a")", R"({"url": "a"} x)", R"(["url", "a"])",
                          R"({"url": "\ud83c"})", R"({"url": "a	b"})", ""})
    EXPECT_EQ(JsonStringField(bad, "url"), std::nullopt) << bad;
  EXPECT_TRUE(IsLoopbackPrefix("http://127.0.0.1:1/"));
  EXPECT_TRUE(IsLoopbackPrefix("http://127.8.9.10:65535/"));
  EXPECT_TRUE(IsLoopbackPrefix("http://[::1]:8080/"));
  for (const char* bad : {"http://128.0.0.1:80/", "http://127.0.0.1:0/", "http://127.0.0.1:65536/",
                          "http://127.0.0.1:80", "http://127.0.0.1:80/x", "http://[::2]:80/",
                          "http://localhost:80/", "http://127.1:80/", "http://:80/"})
    EXPECT_FALSE(IsLoopbackPrefix(bad)) << bad;
}

}  // namespace
}  // namespace zb::net

#ifdef ZIMBREL_SERVICE_BIN
#include <filesystem>

#include "service/socket_service.h"

namespace zb::net {
namespace {

// The real service on its socket, with a session quota smaller than the
// ringtone: the upload ends refused, and the service keeps nothing of it;
// a ringtone within the quota is delivered.
TEST_F(ServiceSocketTest, TheRealServiceRefusesAnUploadOverQuotaAndTheUploadSaysSo) {
  zb::testing::TempDir data;
  zb::testing::SocketService service(m_sock, data.Path(), {"--session-quota", "1048576"});
  ASSERT_TRUE(service.Ok()) << service.Log();
  ScopedEnv host("ZIMBREL_SERVICE_HOST", "unix:" + m_sock);
  std::string big = m_dir / "big.mp3", small = m_dir / "small.mp3";
  WriteFile(big, Pattern(24u << 20));
  WriteFile(small, Pattern(300000));

  std::string sid = service.OpenSession();
  ASSERT_FALSE(sid.empty()) << service.Log();
  ASSERT_TRUE(StartUpload(m_jobs, big, sid));
  EXPECT_EQ(WaitUpload(), zb::jobs::status::kUploadRefused);
  ASSERT_TRUE(jobs::WaitForJobThreadsForTesting(10000));
  for (const auto& e : std::filesystem::recursive_directory_iterator(data.Path()))
    EXPECT_FALSE(e.is_regular_file() && e.file_size() >= (1u << 20)) << e.path();

  ASSERT_TRUE(StartUpload(m_jobs, small, sid));
  EXPECT_EQ(WaitUpload(), 100);
}
}  // namespace
}  // namespace zb::net
#endif
