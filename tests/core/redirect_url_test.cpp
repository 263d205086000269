#include "core/redirect_url.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace zb {
namespace {

TEST(RedirectUrl, UsesTheServiceHostAndEncodesTheValue) {
  testing::ScopedEnv env("ZIMBREL_SERVICE_HOST", "svc.test");
  EXPECT_EQ(BuildRedirectUrl("homepage"), "http://svc.test/redir.php?ver=260&aff=2&where=homepage");
  EXPECT_EQ(BuildRedirectUrl("phone:0700 123"),
            "http://svc.test/redir.php?ver=260&aff=2&where=phone%3A0700+123");
  testing::ScopedEnv env2("ZIMBREL_SERVICE_HOST", "127.0.0.1:8765");
  EXPECT_EQ(BuildRedirectUrl("faq"), "http://127.0.0.1:8765/redir.php?ver=260&aff=2&where=faq");
}

// A service on a socket that does not answer gives no address at all, never
// one the browser cannot reach.
TEST(RedirectUrl, AServiceOnASocketThatDoesNotAnswerGivesNoAddress) {
  testing::TempDir dir;
  testing::ScopedEnv env("ZIMBREL_SERVICE_HOST", "unix:" + std::string(dir / "none.sock"));
  EXPECT_EQ(BuildRedirectUrl("homepage"), std::nullopt);
}

}  // namespace
}  // namespace zb
