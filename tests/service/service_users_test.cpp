// Two ordinary users on one machine, each with their own service: each
// reaches only their own, on the Unix socket and on the browser's port,
// also when the other has taken a port first. Needs root (to make the users
// and run a service as each); skipped otherwise.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "netns.h"
#include "socket_service.h"
#include "temp_dir.h"

namespace zb {
namespace {

using testing::SocketService;
using testing::TempDir;

struct User {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
  bool made = false;
};

bool OnPath(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// An ordinary user for the test (made when missing, removed afterwards).
User TestUser(const std::string& name) {
  User u{name};
  if (!::getpwnam(name.c_str())) {
    testing::RunTool(
        {"useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", name});
    u.made = true;
  }
  if (passwd* pw = ::getpwnam(name.c_str())) {
    u.uid = pw->pw_uid;
    u.gid = pw->pw_gid;
  }
  return u;
}

std::vector<std::string> As(const User& u, std::vector<std::string> argv = {}) {
  std::vector<std::string> all = {"setpriv", "--reuid=" + std::to_string(u.uid),
                                  "--regid=" + std::to_string(u.gid), "--clear-groups"};
  all.insert(all.end(), argv.begin(), argv.end());
  return all;
}

// curl as `u`: "<http code> <body>" (the code is 000 when nothing came).
std::string CurlAs(const User& u, std::vector<std::string> args) {
  std::vector<std::string> argv = {"curl", "-s", "--max-time", "20", "-w", " %{http_code}"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string out;
  testing::RunTool(As(u, argv), &out);
  return out;
}

class TwoUsers : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make users and run services as them";
    if (!OnPath("setpriv") || !OnPath("useradd") || !OnPath("curl"))
      GTEST_SKIP() << "needs setpriv, useradd and curl";
    m_ann = TestUser("zbtest-ann");
    m_bob = TestUser("zbtest-bob");
    ASSERT_NE(m_ann.uid, 0u);
    ASSERT_NE(m_bob.uid, 0u);
    ::chmod(m_dir.Path().c_str(), 0711);  // each reaches only their own folder below
    for (const User* u : {&m_ann, &m_bob}) {
      std::string home = m_dir / u->name;
      std::filesystem::create_directories(home);
      ::chown(home.c_str(), u->uid, u->gid);
      ::chmod(home.c_str(), 0700);
    }
  }
  void TearDown() override {
    for (const User* u : {&m_ann, &m_bob})
      if (u->made) testing::RunTool({"userdel", u->name});
  }
  std::unique_ptr<SocketService> ServiceOf(const User& u) {
    return std::make_unique<SocketService>(m_dir / (u.name + "/run/zimbrel/service.sock"),
                                           m_dir / (u.name + "/data"), std::vector<std::string>{},
                                           As(u));
  }
  TempDir m_dir;
  User m_ann, m_bob;
};

TEST_F(TwoUsers, EachReachesOnlyTheirOwnService) {
  // Bob has taken the old fixed port (and another) first, with a service of
  // his own listening on TCP.
  SocketService::TcpSquatter squat(
      As(m_bob, {ZIMBREL_SERVICE_BIN, "--port", "8765", "--data", m_dir / "zbtest-bob/squat"}));
  auto annService = ServiceOf(m_ann);
  auto bobService = ServiceOf(m_bob);
  ASSERT_TRUE(annService->Ok()) << annService->Log();
  ASSERT_TRUE(bobService->Ok()) << bobService->Log();
  const std::string annSock = annService->Socket(), bobSock = bobService->Socket();

  // Ann delivers a ringtone through her own socket.
  std::string session =
      CurlAs(m_ann, {"--unix-socket", annSock,
                     "http://localhost/cgi-bin/zbl_session.cgi?name=Ann&network=V&"
                     "phone=07700900123"});
  ASSERT_EQ(session.rfind("OK ", 0), 0u) << session;
  const std::string sid = session.substr(3, 32);
  const std::string tone = m_dir / "tone.mp3";
  std::ofstream(tone, std::ios::binary) << std::string(3000, 'a');
  ::chmod(tone.c_str(), 0644);
  EXPECT_NE(CurlAs(m_ann, {"--unix-socket", annSock, "--data-binary", "@" + tone,
                           "http://localhost/cgi-bin/zbl_upload2.cgi?sid=" + sid})
                .find("OK delivered"),
            std::string::npos);
  // Her pages: for her on her browser port.
  const std::string annPage = annService->BrowserUrl() + "phone/07700900123";
  EXPECT_NE(CurlAs(m_ann, {annPage}).find(".mp3"), std::string::npos);

  // Bob cannot reach her socket at all (its folder and the socket are hers
  // alone)...
  EXPECT_EQ(CurlAs(m_bob, {"--unix-socket", annSock, "http://localhost/cgi-bin/zbl_browser.cgi"}),
            " 000");
  // ...nor when the modes would let him: the service checks who connects.
  for (const char* d : {"zbtest-ann", "zbtest-ann/run", "zbtest-ann/run/zimbrel"})
    ::chmod((m_dir / d).c_str(), 0777);
  ::chmod(annSock.c_str(), 0666);
  EXPECT_EQ(CurlAs(m_bob, {"--unix-socket", annSock, "http://localhost/cgi-bin/zbl_browser.cgi"}),
            " 000");
  EXPECT_EQ(
      CurlAs(m_bob, {"--unix-socket", annSock,
                     "http://localhost/cgi-bin/zbl_session.cgi?name=B&network=V&phone=0770090"}),
      " 000");
  // Her browser port gives Bob nothing, not even for a page that exists.
  EXPECT_EQ(CurlAs(m_bob, {annPage}), " 000");
  // Bob's own service knows nothing of her ringtone.
  EXPECT_EQ(CurlAs(m_bob, {bobService->BrowserUrl() + "phone/07700900123"}).find(".mp3"),
            std::string::npos);

  // Ports: each service chose a free one of its own, never the port Bob
  // took first, and nothing Ann asked reached Bob's squatting service.
  EXPECT_NE(annService->BrowserPort(), 8765);
  EXPECT_NE(annService->BrowserPort(), bobService->BrowserPort());
  EXPECT_NE(CurlAs(m_ann, {"--unix-socket", annSock, "http://localhost/cgi-bin/zbl_browser.cgi"})
                .find(annService->BrowserUrl()),
            std::string::npos);
  EXPECT_EQ(squat.Log().find("GET"), std::string::npos) << squat.Log();
  EXPECT_TRUE(squat.Ok()) << squat.Log();
}

}  // namespace
}  // namespace zb
