// The upload and a scripted GET routed as the system's proxy settings say,
// through real proxies: tinyproxy (HTTP) and microsocks (SOCKS5), and
// directly when no_proxy names the service by a CIDR range. Each time the
// service gets exactly the specified request.
#include <gtest/gtest.h>

#include <optional>

#include "net/http_request.h"
#include "net/upload.h"
#include "net_test_util.h"
#include "server_process.h"

namespace zb::net {
namespace {

using zb::testing::Head;
using zb::testing::ParseHead;
using zb::testing::Pattern;
using zb::testing::ProxyProcess;
using zb::testing::RawConnection;
using zb::testing::RawServer;
using zb::testing::ScopedEnv;

// The proxy settings of one route; every other proxy variable is unset.
struct Route {
  const char* name;
  const char* variable;  // nullptr: none set
  std::string value;
  const char* noProxy = nullptr;
  ProxyProcess* via = nullptr;  // the proxy that must carry the request
};

class ProxyRoutes : public zb::testing::NetJobTest {
 protected:
  void SetUp() override {
    for (auto kind : {ProxyProcess::Kind::kHttp, ProxyProcess::Kind::kSocks5})
      ASSERT_EQ(::access(ProxyProcess::Program(kind).c_str(), X_OK), 0)
          << ProxyProcess::Program(kind) << " is missing (scripts/install-deps.sh installs it)";
    ASSERT_TRUE(m_http.Running());
    ASSERT_TRUE(m_socks.Running());
  }

  std::vector<Route> Routes() {
    return {
        {"direct", nullptr, ""},
        {"HTTP proxy", "http_proxy", "http://" + m_http.Authority(), nullptr, &m_http},
        {"HTTP proxy for all", "all_proxy", "http://" + m_http.Authority(), nullptr, &m_http},
        {"SOCKS5 proxy", "all_proxy", "socks5://" + m_socks.Authority(), nullptr, &m_socks},
        {"SOCKS5, names resolved by the proxy", "ALL_PROXY", "socks5h://" + m_socks.Authority(),
         nullptr, &m_socks},
        {"HTTP proxy bypassed by a range", "http_proxy", "http://" + m_http.Authority(),
         "127.0.0.0/8"},
        {"SOCKS5 proxy bypassed by a range", "all_proxy", "socks5://" + m_socks.Authority(),
         "10.0.0.0/8,127.0.0.0/8"},
    };
  }

  // Sets the route's variables for the scope of the returned guards.
  std::vector<std::unique_ptr<ScopedEnv>> Use(const Route& r) {
    std::vector<std::unique_ptr<ScopedEnv>> env;
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                          "ALL_PROXY", "no_proxy", "NO_PROXY"})
      env.push_back(std::make_unique<ScopedEnv>(v, std::nullopt));
    if (r.variable) env.push_back(std::make_unique<ScopedEnv>(r.variable, r.value));
    if (r.noProxy) env.push_back(std::make_unique<ScopedEnv>("no_proxy", r.noProxy));
    return env;
  }

  // The route was taken: the proxy that had to carry it logged it, and no
  // other proxy saw a request to the service.
  void ExpectCarriedBy(const Route& r, const std::string& service, const std::string& httpBefore,
                       const std::string& socksBefore) {
    std::string httpNew = m_http.Log().substr(httpBefore.size());
    std::string socksNew = m_socks.Log().substr(socksBefore.size());
    bool byHttp = httpNew.find("http://" + service + "/") != std::string::npos;
    bool bySocks = socksNew.find("connected to " + service) != std::string::npos;
    EXPECT_EQ(byHttp, r.via == &m_http) << httpNew;
    EXPECT_EQ(bySocks, r.via == &m_socks) << socksNew;
  }

  ProxyProcess m_http{ProxyProcess::Kind::kHttp};
  ProxyProcess m_socks{ProxyProcess::Kind::kSocks5};
};

TEST_F(ProxyRoutes, TheUploadReachesTheServiceAsSpecified) {
  const std::string body = Pattern(300000);
  std::string file = m_dir / "tone.mp3";
  zb::testing::WriteFile(file, body);
  const std::string sid = "a b#c\xC3\xA9&%41";
  const std::string target = "/cgi-bin/zbl_upload2.cgi?sid=a%20b%23c\xC3\xA9&%41&ver=260&aff=2";
  for (const Route& r : Routes()) {
    SCOPED_TRACE(r.name);
    RawServer service([](RawConnection& conn) {
      if (conn.ReadRequest()) conn.Send("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nOK");
    });
    ScopedEnv host("ZIMBREL_SERVICE_HOST", service.Authority());
    auto env = Use(r);
    std::string httpBefore = m_http.Log(), socksBefore = m_socks.Log();
    ASSERT_TRUE(StartUpload(m_jobs, file, sid));
    EXPECT_EQ(WaitFinal(jobs::JobKind::kUpload, 100), 100);
    ASSERT_TRUE(service.WaitDone(1));
    std::string got = service.Received()[0];
    size_t headEnd = got.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos);
    Head h = ParseHead(got.substr(0, headEnd + 4));
    EXPECT_EQ(h.line, "POST " + target + " HTTP/1.0");
    Head want = ParseHead(
        "POST " + target + " HTTP/1.0\r\nHost: " + service.Authority() +
        "\r\nUser-Agent: ZMBL/1.0 (Quorvane)\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nContent-Type: audio/mpeg\r\nPragma: no-cache\r\n\r\n");
    // Every specified header, and none of its own (an HTTP proxy may add
    // the hop-by-hop "Connection: close" of its own connection).
    std::vector<std::string> extra;
    for (const auto& line : h.headers)
      if (std::find(want.headers.begin(), want.headers.end(), line) == want.headers.end() &&
          !(r.via == &m_http && line == "Connection: close"))
        extra.push_back(line);
    for (const auto& line : want.headers)
      EXPECT_NE(std::find(h.headers.begin(), h.headers.end(), line), h.headers.end()) << line;
    EXPECT_TRUE(extra.empty()) << ::testing::PrintToString(extra);
    EXPECT_EQ(got.size(), headEnd + 4 + body.size());
    EXPECT_TRUE(got.compare(headEnd + 4, std::string::npos, body) == 0) << "body differs";
    ExpectCarriedBy(r, service.Authority(), httpBefore, socksBefore);
  }
}

TEST_F(ProxyRoutes, AScriptedGetReachesTheServiceAsSpecified) {
  for (const Route& r : Routes()) {
    SCOPED_TRACE(r.name);
    RawServer service([](RawConnection& conn) {
      if (conn.ReadHead())
        conn.Send(
            "HTTP/1.0 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nhello \xC3\xA9");
    });
    auto env = Use(r);
    std::string httpBefore = m_http.Log(), socksBefore = m_socks.Log();
    ASSERT_TRUE(StartHttpRequest(m_jobs, "http://" + service.Authority() + "/page?x=1&y=%C3%A9"));
    EXPECT_EQ(WaitFinal(jobs::JobKind::kHttp, 1), 1);
    EXPECT_EQ(m_jobs->Response().Value(), "hello \xC3\xA9");
    ASSERT_TRUE(service.WaitDone(1));
    std::string got = service.Received()[0];
    size_t headEnd = got.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos);
    Head h = ParseHead(got.substr(0, headEnd + 4));
    // The method and the target in its origin form, the service's Host, no body.
    EXPECT_EQ(h.line.substr(0, h.line.rfind(' ')), "GET /page?x=1&y=%C3%A9");
    EXPECT_NE(std::find(h.headers.begin(), h.headers.end(), "Host: " + service.Authority()),
              h.headers.end());
    for (const auto& line : h.headers) EXPECT_NE(line.rfind("Content-Length:", 0), 0u) << line;
    EXPECT_EQ(got.size(), headEnd + 4);
    ExpectCarriedBy(r, service.Authority(), httpBefore, socksBefore);
  }
}

}  // namespace
}  // namespace zb::net
