#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <thread>

#include "jobs/job_state.h"
#include "net/upload.h"
#include "service_process.h"
#include "temp_dir.h"

namespace zb {
namespace {

namespace fs = std::filesystem;
using zb::testing::ScopedEnv;
using zb::testing::ServiceProcess;
using zb::testing::TempDir;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Bytes(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7919) >> 3);
  return s;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GT(m_service.Port(), 0) << m_service.FirstLine(); }
  ~ServiceTest() override { EXPECT_TRUE(jobs::WaitForJobThreadsForTesting(20000)); }

  std::string OpenSession(const std::string& query) {
    auto r = m_client.Get("/cgi-bin/zbl_session.cgi?" + query);
    return r ? r->body : "<no answer>";
  }
  // Uploads a file with the program's upload job and returns its final status.
  int32_t UploadWithTheJob(const std::string& file, const std::string& sid) {
    ScopedEnv host("ZIMBREL_SERVICE_HOST", m_service.Authority());
    EXPECT_TRUE(net::StartUpload(m_jobs, file, sid));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int32_t s = 0;
    while ((s = m_jobs->Status(jobs::JobKind::kUpload)) < 100 &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return s;
  }
  std::vector<fs::path> Delivered(const std::string& digits) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fs::path(m_data.Path()) / "phones" / digits, ec))
      out.push_back(e.path());
    return out;
  }

  TempDir m_data;
  ServiceProcess m_service{m_data.Path()};
  httplib::Client m_client{"127.0.0.1", m_service.Port()};
  std::shared_ptr<jobs::JobState> m_jobs = std::make_shared<jobs::JobState>();
};

TEST_F(ServiceTest, SessionsNeedEveryField) {
  std::string ok = OpenSession("name=Ann%20Lee&phone=%2B44%20(0)20%207946-0000&network=Vodafone");
  EXPECT_TRUE(std::regex_match(ok, std::regex("OK [0-9a-f]{32}"))) << ok;
  EXPECT_EQ(OpenSession("phone=5550100&network=V"), "ERROR Please enter your name.");
  EXPECT_EQ(OpenSession("name=Ann&phone=12&network=V"),
            "ERROR Please enter your mobile phone number, with its area code.");
  EXPECT_EQ(OpenSession("name=Ann&phone=5550100&network=%20"),
            "ERROR Please choose your mobile network.");
  EXPECT_NE(OpenSession("name=A&phone=5550100&network=V"),
            OpenSession("name=A&phone=5550100&network=V"));
}

// The upload job's request is stored byte for byte and shown on the phone's
// page with a player; the file itself is served back unchanged.
TEST_F(ServiceTest, UploadsAreDeliveredToThePhonesPage) {
  std::string sid = OpenSession("name=Ann&phone=555-0100&network=V").substr(3);
  std::string tone = Bytes(300000);
  std::string file = m_data / "tone.mp3";
  std::ofstream(file, std::ios::binary) << tone;
  EXPECT_EQ(UploadWithTheJob(file, sid), 100);
  auto files = Delivered("5550100");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(ReadAll(files[0]) == tone);

  auto page = m_client.Get("/phone/5550100");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  std::string src = "/phone/5550100/" + files[0].filename().string();
  EXPECT_NE(page->body.find("<audio controls preload=\"none\" src=\"" + src + "\">"),
            std::string::npos);
  auto audio = m_client.Get(src);
  ASSERT_TRUE(audio);
  EXPECT_EQ(audio->get_header_value("Content-Type"), "audio/mpeg");
  EXPECT_TRUE(audio->body == tone);
  EXPECT_EQ(m_client.Get("/phone/5550100/../../sessions/" + sid)->status, 404);
  EXPECT_EQ(m_client.Get("/phone/5550199")->body.find("<audio"), std::string::npos);
}

// The service refuses them, but the program does not judge the answer.
TEST_F(ServiceTest, UploadsWithAnUnknownSessionAreRefused) {
  std::string file = m_data / "tone.mp3";
  std::ofstream(file, std::ios::binary) << Bytes(5000);
  EXPECT_EQ(UploadWithTheJob(file, "0123456789abcdef0123456789abcdef"), 100);
  EXPECT_EQ(UploadWithTheJob(file, "../sessions"), 100);
  auto r =
      m_client.Post("/cgi-bin/zbl_upload2.cgi?sid=nope&ver=260&aff=2", Bytes(10), "audio/mpeg");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 403);
  EXPECT_TRUE(fs::is_empty(fs::path(m_data.Path()) / "phones"));
  EXPECT_TRUE(fs::is_empty(fs::path(m_data.Path()) / "incoming"));
}

// A body cut short, by an orderly end of the connection or by a reset, is
// never stored, not even the part that came.
TEST_F(ServiceTest, AnIncompleteBodyIsNotStored) {
  std::string sid = OpenSession("name=Ann&phone=555-0100&network=V").substr(3);
  const std::string head = "POST /cgi-bin/zbl_upload2.cgi?sid=" + sid +
                           "&ver=260&aff=2 HTTP/1.0\r\nHost: x\r\nContent-Type: audio/mpeg\r\n"
                           "Content-Length: 100000\r\n\r\n";
  size_t dropped = 0;
  for (bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "reset" : "orderly end");
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(m_service.Port()));
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    std::string request = head + Bytes(60000);
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    if (reset) {
      linger l{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    } else {
      ::shutdown(fd, SHUT_WR);
      std::string answer;
      char buf[4096];
      ssize_t n;
      while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) answer.append(buf, static_cast<size_t>(n));
      // The server library sends nothing once a body read fails.
      EXPECT_EQ(answer.find("OK delivered"), std::string::npos) << answer;
    }
    ::close(fd);
    ++dropped;
    ASSERT_TRUE(WaitFor([&] { return Count(m_service.Log(), "upload cut short") == dropped; }))
        << m_service.Log();
    EXPECT_TRUE(Delivered("5550100").empty());
    EXPECT_TRUE(fs::is_empty(fs::path(m_data.Path()) / "incoming"));
  }
  EXPECT_NE(m_service.Log().find("upload cut short after 60000 of 100000 bytes"), std::string::npos)
      << m_service.Log();
}

TEST_F(ServiceTest, RedirectPages) {
  auto phone = m_client.Get("/redir.php?ver=260&aff=2&where=phone%3A555%200100");
  ASSERT_TRUE(phone);
  EXPECT_EQ(phone->status, 302);
  EXPECT_EQ(phone->get_header_value("Location"), "/phone/5550100");
  auto home = m_client.Get("/redir.php?ver=260&aff=2&where=homepage");
  ASSERT_TRUE(home);
  EXPECT_EQ(home->status, 200);
  EXPECT_NE(home->body.find("<form"), std::string::npos);
  auto other = m_client.Get("/redir.php?ver=260&aff=2&where=%3Cscript%3Ex%3C%2Fscript%3E");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->body.find("<script>"), std::string::npos);
  EXPECT_NE(other->body.find("&lt;script&gt;"), std::string::npos);
  EXPECT_EQ(m_client.Get("/redir.php?where=phone:x")->status, 404);
  EXPECT_EQ(m_client.Get("/no/such/page")->status, 404);
}

TEST_F(ServiceTest, CommandLineAndStop) {
  EXPECT_EQ(m_service.FirstLine().rfind("listening on http://127.0.0.1:", 0), 0u);
  int status = m_service.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  for (std::vector<std::string> args : {std::vector<std::string>{},
                                        {"--port", "70000", m_data.Path()},
                                        {"--bogus", m_data.Path()},
                                        {"/proc/no/such/folder"}}) {
    std::string cmd = std::string(ZIMBREL_SERVICE_BIN);
    for (auto& a : args) cmd += " '" + a + "'";
    EXPECT_EQ(WEXITSTATUS(std::system((cmd + " 2>/dev/null").c_str())), 2) << cmd;
  }
}

}  // namespace
}  // namespace zb
