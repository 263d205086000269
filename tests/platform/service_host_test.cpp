#include "platform/service_host.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "temp_dir.h"

namespace zb {
namespace {

// The socket forms: "unix:/path" and "user"; a TCP form read after a socket
// form leaves no socket behind; "user" is the user's own socket, placed in
// the runtime folder or, without one, where systemd puts it.
TEST(ServiceHostSocket, ParsesSocketFormsAndFindsTheUsersOwnSocket) {
  ServiceHost h;
  ASSERT_TRUE(ParseServiceHost("unix:/run/x/service.sock", &h));
  EXPECT_TRUE(h.OnSocket());
  EXPECT_EQ(h.socketPath, "/run/x/service.sock");
  EXPECT_EQ(h.BaseUrl(), "http://localhost");
  EXPECT_EQ(h.BrowserPrefix(), "");
  ASSERT_TRUE(ParseServiceHost("127.0.0.1:8765", &h));
  EXPECT_FALSE(h.OnSocket());
  EXPECT_EQ(h.BrowserPrefix(), "http://127.0.0.1:8765/");
  // Relative paths, empty paths and paths longer than a socket address holds.
  for (std::string bad :
       {std::string("unix:"), std::string("unix:relative.sock"), "unix:/" + std::string(107, 'a')})
    EXPECT_FALSE(ParseServiceHost(bad, &h)) << bad;
  EXPECT_TRUE(ParseServiceHost("unix:/" + std::string(106, 'a'), &h));

  {
    testing::ScopedEnv run("XDG_RUNTIME_DIR", "/run/user/4242/");
    testing::ScopedEnv user("ZIMBREL_SERVICE_HOST", "user");
    EXPECT_EQ(GetServiceHost().socketPath, "/run/user/4242/zimbrel/service.sock");
  }
  std::string fallback = "/run/user/" + std::to_string(::getuid()) + "/zimbrel/service.sock";
  {
    testing::ScopedEnv run("XDG_RUNTIME_DIR", std::nullopt);
    EXPECT_EQ(UserServiceSocket(), fallback);
  }
  {
    testing::ScopedEnv run("XDG_RUNTIME_DIR", "relative/dir");
    EXPECT_EQ(UserServiceSocket(), fallback);
  }
  // A malformed setting falls back to the build's default, never to a
  // relative socket.
  testing::ScopedEnv bad("ZIMBREL_SERVICE_HOST", "unix:nowhere");
  ServiceHost d = GetServiceHost();
  EXPECT_FALSE(d.host.empty());
  EXPECT_NE(d.socketPath, "nowhere");
}

}  // namespace
}  // namespace zb
