// Where the bridge socket lives, and the folders of killed runs that the
// next start removes.
#include "bridge/bridge_folder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "bridge/bridge_server.h"
#include "bridge/external_dispatch.h"
#include "page_host.h"
#include "temp_dir.h"

namespace zb {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnv;
using testing::TempDir;

// A socket bound at `path`; listening when `listen`, else closed at once (as
// a killed program leaves it).
int BoundSocket(const std::string& path, bool listen) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << path;
  if (listen) {
    EXPECT_EQ(::listen(fd, 1), 0);
    return fd;
  }
  ::close(fd);
  return -1;
}

// A folder of the layout without a lock, last changed `age` seconds ago.
std::string OldLayoutFolder(const std::string& parent, const std::string& name, bool listening,
                            int age, int* listenFd = nullptr) {
  std::string dir = parent + "/" + name;
  fs::create_directory(dir);
  int fd = BoundSocket(dir + "/bridge", listening);
  if (listenFd) *listenFd = fd;
  utimbuf t{::time(nullptr) - age, ::time(nullptr) - age};
  ::utime(dir.c_str(), &t);
  return dir;
}

fs::perms Mode(const std::string& path) {
  return fs::status(path).permissions() & fs::perms::all;
}

class BridgeFolderTest : public ::testing::Test {
 protected:
  TempDir m_runtime, m_tmp, m_reg;
  ScopedEnv m_runtimeEnv{"XDG_RUNTIME_DIR", m_runtime.Path()};
  ScopedEnv m_tmpEnv{"TMPDIR", m_tmp.Path()};
  ScopedEnv m_regEnv{"ZIMBREL_REGISTRY_DIR", m_reg.Path()};
  CoreHost m_host{m_reg.Path(), testing::Quiet()};
  CExternalDispatch m_disp{[this]() -> CoreHost* { return &m_host; }};
};

TEST_F(BridgeFolderTest, TheSocketLivesInAPrivateRuntimeFolderOrElseInTheTemporaryOne) {
  fs::permissions(m_runtime.Path(), fs::perms::owner_all);
  std::string dir;
  {
    BridgeServer server(&m_disp);
    ASSERT_TRUE(server.Start());
    dir = server.Folder();
    EXPECT_EQ(fs::path(dir).parent_path(), fs::path(m_runtime.Path()));
    EXPECT_EQ(fs::path(dir).filename().string().rfind("zimbrel-", 0), 0u);
    EXPECT_EQ(Mode(dir), fs::perms::owner_all);
    EXPECT_EQ(server.SocketPath(), dir + "/bridge");
    EXPECT_TRUE(fs::is_socket(server.SocketPath()));
    EXPECT_TRUE(fs::is_regular_file(dir + "/lock"));
  }
  EXPECT_FALSE(fs::exists(dir));  // gone with the server

  // A runtime folder others may enter, or none: the temporary folder.
  fs::permissions(m_runtime.Path(),
                  fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  {
    BridgeServer server(&m_disp);
    ASSERT_TRUE(server.Start());
    EXPECT_EQ(fs::path(server.Folder()).parent_path(), fs::path(m_tmp.Path()));
  }
  ScopedEnv none("XDG_RUNTIME_DIR", std::nullopt);
  BridgeServer server(&m_disp);
  ASSERT_TRUE(server.Start());
  EXPECT_EQ(fs::path(server.Folder()).parent_path(), fs::path(m_tmp.Path()));
}

TEST_F(BridgeFolderTest, AStartRemovesWhatKilledRunsLeftAndNothingElse) {
  fs::permissions(m_runtime.Path(), fs::perms::owner_all);
  // A run killed while its server ran: its lock is free again.
  int pipefd[2];
  ASSERT_EQ(::pipe(pipefd), 0);
  pid_t child = ::fork();
  if (child == 0) {
    std::string dir;
    int lock = -1;
    if (!MakeBridgeFolder(m_runtime.Path(), &dir, &lock)) ::_exit(1);
    BoundSocket(dir + "/bridge", true);
    if (::write(pipefd[1], dir.data(), dir.size()) != static_cast<ssize_t>(dir.size())) ::_exit(1);
    ::kill(::getpid(), SIGKILL);
  }
  ::close(pipefd[1]);
  char buf[512] = {0};
  ASSERT_GT(::read(pipefd[0], buf, sizeof buf - 1), 0);
  ::close(pipefd[0]);
  int status;
  ::waitpid(child, &status, 0);
  const std::string killed = buf;
  ASSERT_TRUE(fs::exists(killed + "/lock"));

  // A run still going (its lock held, here by this process).
  BridgeServer running(&m_disp);
  ASSERT_TRUE(running.Start());
  // Folders of the layout without a lock: left a while ago by a killed run,
  // just made, and still served.
  std::string oldDead = OldLayoutFolder(m_tmp.Path(), "zimbrel-aaaaaa", false, 120);
  std::string oldYoung = OldLayoutFolder(m_tmp.Path(), "zimbrel-bbbbbb", false, 0);
  int served = -1;
  std::string oldServed = OldLayoutFolder(m_tmp.Path(), "zimbrel-cccccc", true, 120, &served);
  // Not ours to remove: a folder with something else in it, a file of that
  // name, and (when the test may make one) another user's folder.
  std::string foreign = OldLayoutFolder(m_tmp.Path(), "zimbrel-dddddd", false, 120);
  std::ofstream(foreign + "/notes.txt") << "mine";
  std::ofstream(m_tmp / "zimbrel-eeeeee") << "a file";
  std::string otherUser;
  if (::geteuid() == 0) {
    otherUser = OldLayoutFolder(m_tmp.Path(), "zimbrel-ffffff", false, 120);
    ASSERT_EQ(::chown(otherUser.c_str(), 65534, 65534), 0);
  }

  BridgeServer next(&m_disp);
  ASSERT_TRUE(next.Start());
  EXPECT_FALSE(fs::exists(killed));
  EXPECT_FALSE(fs::exists(oldDead));
  EXPECT_TRUE(fs::exists(running.SocketPath()));
  EXPECT_TRUE(fs::exists(oldYoung + "/bridge"));
  EXPECT_TRUE(fs::exists(oldServed + "/bridge"));
  EXPECT_TRUE(fs::exists(foreign + "/bridge"));
  EXPECT_TRUE(fs::exists(foreign + "/notes.txt"));
  EXPECT_TRUE(fs::is_regular_file(m_tmp / "zimbrel-eeeeee"));
  if (!otherUser.empty()) {
    EXPECT_TRUE(fs::exists(otherUser + "/bridge"));
  }
  ::close(served);
}

}  // namespace
}  // namespace zb
