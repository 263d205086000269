#include "net/http_request.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "bridge/page_texts.h"
#include "net/charset.h"
#include "net_test_util.h"
#include "server_process.h"
#include "shell_output.h"

namespace zb::net {
namespace {

using zb::testing::Head;
using zb::testing::NginxProcess;
using zb::testing::ParseHead;
using zb::testing::RawConnection;
using zb::testing::RawServer;
using zb::testing::ScopedEnv;

class HttpRequestTest : public zb::testing::NetJobTest {
 protected:
  // Runs one request to its end and returns the response as the page gets it.
  std::string Get(const std::string& url) {
    EXPECT_TRUE(StartHttpRequest(m_jobs, url));
    EXPECT_EQ(WaitFinal(jobs::JobKind::kHttp, 1), 1);
    return Response();
  }
  std::string Response() { return PageText(m_jobs->Response()); }
};

std::string Answer(const std::string& status, const std::string& type, const std::string& body) {
  return "HTTP/1.1 " + status + "\r\nContent-Type: " + type +
         "\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
         body;
}

// Serves answers by request path; unknown paths get a 404 page.
RawServer::Handler Pages(std::map<std::string, std::string> pages) {
  return [pages = std::move(pages)](RawConnection& conn) {
    if (!conn.ReadHead()) return;
    const std::string& r = conn.Received();
    std::string target = r.substr(r.find(' ') + 1);
    target = target.substr(0, target.find(' '));
    auto it = pages.find(target);
    conn.Send(it != pages.end() ? it->second
                                : Answer("404 Not Found", "text/html", "<h1>no such page</h1>"));
  };
}

TEST_F(HttpRequestTest, AnswersReachThePageWhateverTheirStatus) {
  RawServer server(Pages({
      {"/ok?x=1", Answer("200 OK", "text/plain", "hello there")},
      {"/empty", Answer("200 OK", "text/plain", "")},
      {"/moved",
       "HTTP/1.1 302 Found\r\nLocation: /final\r\nConnection: close\r\nContent-Length: 0\r\n\r\n"},
      {"/final", Answer("200 OK", "text/html; charset=utf-8", "arrived \xE2\x9C\x93")},
      {"/latin", Answer("200 OK", "text/plain; charset=\"ISO-8859-1\"", "caf\xE9 \xA3")},
      {"/broken", Answer("200 OK", "text/plain", "ok\xFF\xFEok")},
      {"/error", Answer("500 Internal Server Error", "text/plain", "it broke")},
  }));
  std::string base = "http://" + server.Authority();
  EXPECT_EQ(Get(base + "/ok?x=1"), "hello there");
  EXPECT_EQ(Get(base + "/nothing"), "<h1>no such page</h1>");
  EXPECT_EQ(Get(base + "/error"), "it broke");
  EXPECT_EQ(Get(base + "/empty"), "");
  EXPECT_EQ(Get(base + "/moved"), "arrived \xE2\x9C\x93");
  EXPECT_EQ(Get(base + "/latin"), "caf\xC3\xA9 \xC2\xA3");
  EXPECT_EQ(Get(base + "/broken"), "ok\xEF\xBF\xBD\xEF\xBF\xBDok");
}

// A URL that begins with "/" goes to the service host; the request is a
// plain GET with nothing added by the program.
TEST_F(HttpRequestTest, RelativeUrlsReachTheServiceHost) {
  RawServer server(Pages({{"/cgi-bin/zbl_session.cgi?name=A%20B&phone=%C3%A9",
                           Answer("200 OK", "text/plain", "OK 42")},
                          {"//other.example/x", Answer("200 OK", "text/plain", "still here")}}));
  ScopedEnv host("ZIMBREL_SERVICE_HOST", server.Authority());
  EXPECT_EQ(Get("/cgi-bin/zbl_session.cgi?name=A B&phone=\xC3\xA9"), "OK 42");
  EXPECT_EQ(Get("//other.example/x"), "still here");
  ASSERT_TRUE(server.WaitDone(2));
  std::string got = server.Received()[0];
  // Besides the encodings libcurl can decode (which depend on its build).
  Head head = ParseHead(got.substr(0, got.find("\r\n\r\n") + 4));
  auto enc = std::find_if(head.headers.begin(), head.headers.end(), [](const std::string& h) {
    return h.rfind("Accept-Encoding: ", 0) == 0;
  });
  ASSERT_NE(enc, head.headers.end());
  EXPECT_NE(enc->find("gzip"), std::string::npos) << *enc;
  head.headers.erase(enc);
  EXPECT_EQ(head,
            ParseHead("GET /cgi-bin/zbl_session.cgi?name=A%20B&phone=%C3%A9 HTTP/1.1\r\nHost: " +
                      server.Authority() + "\r\nAccept: */*\r\n\r\n"));
}

// With the service on a Unix socket, the service's addresses go to the
// socket (Host: localhost), past any proxy and without following a redirect
// out of it; a full URL still goes where it says.
TEST_F(HttpRequestTest, ServiceAddressesGoToTheServicesSocket) {
  std::string sock = m_dir / "service.sock";
  RawServer service(
      RawServer::UnixPath{sock},
      Pages({{"/cgi-bin/zbl_share.cgi?sid=7",
              Answer("200 OK", "application/json", "{\"url\": \"x\"}")},
             {"/away", "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:" +
                           std::to_string(zb::testing::ClosedPort()) +
                           "/\r\nConnection: close\r\nContent-Length: 3\r\n\r\nmoo"}}));
  RawServer elsewhere(Pages({{"/plain", Answer("200 OK", "text/plain", "tcp")}}));
  ScopedEnv host("ZIMBREL_SERVICE_HOST", "unix:" + sock);
  ScopedEnv proxy("http_proxy", "http://127.0.0.1:" + std::to_string(zb::testing::ClosedPort()));
  ScopedEnv noProxy("no_proxy", "127.0.0.1");
  EXPECT_EQ(Get("/cgi-bin/zbl_share.cgi?sid=7"), "{\"url\": \"x\"}");
  EXPECT_EQ(Get("/away"), "moo");
  EXPECT_EQ(Get("http://" + elsewhere.Authority() + "/plain"), "tcp");
  ASSERT_TRUE(service.WaitDone(2));
  std::string got = service.Received()[0];
  Head head = ParseHead(got.substr(0, got.find("\r\n\r\n") + 4));
  EXPECT_EQ(head.line, "GET /cgi-bin/zbl_share.cgi?sid=7 HTTP/1.1");
  EXPECT_NE(std::find(head.headers.begin(), head.headers.end(), "Host: localhost"),
            head.headers.end());
  // No service on the socket: the request fails as any unreachable one.
  ScopedEnv gone("ZIMBREL_SERVICE_HOST", "unix:" + std::string(m_dir / "none.sock"));
  EXPECT_EQ(Get("/cgi-bin/zbl_share.cgi?sid=7"), "ERROR:XMLHTTP:Send");
}

TEST_F(HttpRequestTest, FailuresGiveTheirErrorTexts) {
  EXPECT_EQ(Get("http://127.0.0.1:" + std::to_string(zb::testing::ClosedPort()) + "/"),
            "ERROR:XMLHTTP:Send");
  for (const char* bad : {"http://", "no scheme here", "ftp://127.0.0.1/x", "file:///etc/passwd",
                          "http://127.0.0.1:99999/", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(Get(bad), "ERROR:XMLHTTP:Open");
  }
  // A redirect to a scheme that is not allowed fails the transfer.
  RawServer server(Pages({{"/away",
                           "HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\n"
                           "Content-Length: 0\r\n\r\n"}}));
  EXPECT_EQ(Get("http://" + server.Authority() + "/away"), "ERROR:XMLHTTP:Send");
}

TEST_F(HttpRequestTest, SlowAnswersTimeOutOrAreCancelledWithAnEmptyResponse) {
  std::atomic<bool> headSent{false};
  RawServer server([&](RawConnection& conn) {
    if (!conn.ReadHead()) return;
    conn.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npart");
    headSent = true;
    conn.ReadUntilClose(20000);  // the rest never comes
  });
  std::string url = "http://" + server.Authority() + "/slow";
  {
    SCOPED_TRACE("cancel");
    ASSERT_TRUE(StartHttpRequest(m_jobs, url));
    ASSERT_TRUE(
        zb::testing::PollUntil<bool>([&] { return headSent.load(); }, [](bool v) { return v; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Status(jobs::JobKind::kHttp), 0);
    auto start = std::chrono::steady_clock::now();
    m_jobs->Cancel();
    EXPECT_EQ(WaitFinal(jobs::JobKind::kHttp, 1), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(Response(), "");
  }
  {
    SCOPED_TRACE("time-out");
    SetTimeoutsForTesting(
        Timeouts{std::chrono::milliseconds(30000), std::chrono::milliseconds(300)});
    EXPECT_EQ(Get(url), "ERROR:XMLHTTP:Send");
  }
}

// No request handle: the message box is shown (the job waits for it), then
// the error text is stored and only then the status becomes 1.
TEST_F(HttpRequestTest, NoHandleShowsTheBoxThenReportsCoCreateInstance) {
  FailHandleCreationForTesting(true);
  EXPECT_EQ(Get("http://127.0.0.1/"), "ERROR:XMLHTTP:CoCreateInstance");  // no box set: none shown

  std::mutex mu;
  std::condition_variable cv;
  bool closed = false;
  std::string text;
  std::atomic<int32_t> statusDuringBox{-1};
  m_jobs->showMessageBox = [&](const std::string& t) {
    statusDuringBox = m_jobs->Status(jobs::JobKind::kHttp);
    std::unique_lock<std::mutex> lock(mu);
    text = t;
    cv.wait(lock, [&] { return closed; });
  };
  ASSERT_TRUE(StartHttpRequest(m_jobs, "http://127.0.0.1/"));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(Status(jobs::JobKind::kHttp), 0);
  EXPECT_EQ(Response(), "");
  {
    std::lock_guard<std::mutex> lock(mu);
    closed = true;
    cv.notify_all();
  }
  EXPECT_EQ(WaitFinal(jobs::JobKind::kHttp, 1), 1);
  EXPECT_EQ(Response(), "ERROR:XMLHTTP:CoCreateInstance");
  EXPECT_EQ(statusDuringBox.load(), 0);
  std::lock_guard<std::mutex> lock(mu);
  EXPECT_EQ(text,
            "Cannot initialize XMLHTTP Transporter.\n\nIn order to use Zimbrel you must have MSXML "
            "installed       \non your computer.");
}

TEST(CharsetTest, DeclaredCharsetsAndByteOrderMarks) {
  EXPECT_EQ(CharsetOf("text/html; charset=ISO-8859-1"), "ISO-8859-1");
  EXPECT_EQ(CharsetOf("text/html;CharSet=\"utf-8\" ; q=1"), "utf-8");
  EXPECT_EQ(CharsetOf("text/html; format=flowed"), "");
  EXPECT_EQ(CharsetOf(""), "");

  EXPECT_EQ(DecodeToUtf8("caf\xE9", "latin1"), "caf\xC3\xA9");
  EXPECT_EQ(DecodeToUtf8("\x83\x65\x83\x58\x83\x67", "Shift_JIS"),
            "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88");
  // Unknown or unusable names read as UTF-8, invalid bytes replaced.
  EXPECT_EQ(DecodeToUtf8("caf\xE9", "no-such-charset"), "caf\xEF\xBF\xBD");
  EXPECT_EQ(DecodeToUtf8("caf\xE9", "latin1//TRANSLIT"), "caf\xEF\xBF\xBD");
  // Invalid bytes in a known charset are replaced one by one.
  EXPECT_EQ(DecodeToUtf8("a\x80"
                         "b",
                         "ASCII"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(DecodeToUtf8("\xEF\xBB\xBFhi", "latin1"), "hi");
  EXPECT_EQ(DecodeToUtf8(std::string("\xFF\xFEh\0i\0", 6), ""), "hi");
  EXPECT_EQ(DecodeToUtf8(std::string("\xFE\xFF\0h\0", 5), ""), "h\xEF\xBF\xBD");
}

// A broken surrogate pair in UTF-16 or a cut UTF-32 unit: one replacement,
// and the text after it stays aligned.
TEST(CharsetTest, BrokenUnitsKeepWhatFollowsAligned) {
  const std::string fffd = "\xEF\xBF\xBD";
  // A high surrogate without its low one, then "bc".
  EXPECT_EQ(DecodeToUtf8(std::string("\xFF\xFE"
                                     "a\0"
                                     "\x00\xD8"
                                     "b\0c\0",
                                     10),
                         ""),
            "a" + fffd + "bc");
  EXPECT_EQ(DecodeToUtf8(std::string("\xFE\xFF"
                                     "\0a"
                                     "\xD8\x00"
                                     "\0b\0c",
                                     10),
                         ""),
            "a" + fffd + "bc");
  // A low surrogate alone, declared by the charset instead of a mark.
  EXPECT_EQ(DecodeToUtf8(std::string("a\0"
                                     "\x00\xDC"
                                     "b\0",
                                     6),
                         "utf-16le"),
            "a" + fffd + "b");
  // A whole pair still decodes (U+1F600), and a high surrogate at the end.
  EXPECT_EQ(DecodeToUtf8(std::string("\xFF\xFE"
                                     "\x3D\xD8\x00\xDE"
                                     "\x3D\xD8",
                                     8),
                         ""),
            "\xF0\x9F\x98\x80" + fffd);
  EXPECT_EQ(DecodeToUtf8(std::string("a\0\0\0"
                                     "\x00\xD8\0\0"
                                     "b\0\0\0",
                                     12),
                         "UTF-32LE"),
            "a" + fffd + "b");
}

// A body of up to 16 MiB is the response; one byte more is a failed send
// (its text could not reach the page in one piece).
TEST_F(HttpRequestTest, BodiesOver16MiBFailTheSend) {
  const size_t cap = size_t{16} << 20;
  for (size_t size : {cap, cap + 1}) {
    SCOPED_TRACE(size);
    RawServer server([&](RawConnection& conn) {
      if (conn.ReadHead())
        conn.Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + std::string(size, 'b'));
    });
    ASSERT_TRUE(StartHttpRequest(m_jobs, "http://" + server.Authority() + "/big"));
    EXPECT_EQ(WaitFinal(jobs::JobKind::kHttp, 1, 120000), 1);  // slow under the sanitizers
    std::string text = Response();
    if (size == cap) {
      EXPECT_EQ(text.size(), cap);
    } else {
      EXPECT_EQ(text, "ERROR:XMLHTTP:Send");
    }
  }
}

// Answers of a real nginx, started by the test with a configuration of its
// own, reach the page as the text curl gets: a body compressed ahead of time
// and sent compressed to every request ("gzip_static always"), a body nginx
// compresses when asked, a UTF-16 body with a broken pair.
TEST_F(HttpRequestTest, RealNginxAnswersArriveAsText) {
  ASSERT_EQ(::access(NginxProcess::kProgram, X_OK), 0)
      << "nginx is missing (scripts/install-deps.sh installs nginx-light)";
  const std::string song = "Ringtone \xE2\x99\xAB: caf\xC3\xA9 ";
  std::string text;
  for (int i = 0; i < 3000; ++i) text += song + std::to_string(i) + "\n";
  NginxProcess nginx(
      [&](const zb::testing::TempDir& d) {
        zb::testing::WriteFile(d / "www/big.txt", text);
        // Only the compressed copy of this one exists.
        zb::testing::WriteFile(d / "www/song.txt", song);
        ASSERT_EQ(std::system(("gzip -9 -f " + d / "www/song.txt").c_str()), 0);
        zb::testing::WriteFile(d / "www/broken.txt", std::string("\xFF\xFE"
                                                                 "a\0"
                                                                 "\x00\xD8"
                                                                 "b\0c\0",
                                                                 10));
      },
      "  gzip_static always;\n  gzip on;\n  gzip_min_length 1;\n  gzip_types text/plain;\n"
      "  charset_types text/plain;\n");
  ASSERT_TRUE(nginx.Running()) << nginx.Log();
  std::string base = "http://" + nginx.Authority();
  auto curl = [&](const std::string& opts, const std::string& path) {
    return zb::testing::ShOut("curl -s " + opts + " " + base + path);
  };
  // The server compresses without being asked: curl gets gzip bytes unless
  // it decodes them.
  ASSERT_EQ(curl("", "/song.txt").substr(0, 2), "\x1F\x8B");
  EXPECT_EQ(curl("--compressed", "/song.txt"), song);
  EXPECT_EQ(Get(base + "/song.txt"), song);
  // Compressed because the request asked for it.
  EXPECT_EQ(curl("--compressed", "/big.txt"), text);
  EXPECT_EQ(Get(base + "/big.txt"), text);
  EXPECT_NE(nginx.Accesses().find("/big.txt deflate, gzip"), std::string::npos) << nginx.Accesses();
  // UTF-16 as served, decoded with one replacement for the broken pair.
  EXPECT_EQ(curl("", "/broken.txt"), std::string("\xFF\xFE"
                                                 "a\0"
                                                 "\x00\xD8"
                                                 "b\0c\0",
                                                 10));
  EXPECT_EQ(Get(base + "/broken.txt"),
            "a\xEF\xBF\xBD"
            "bc");
}

}  // namespace
}  // namespace zb::net
