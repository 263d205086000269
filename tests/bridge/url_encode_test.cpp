#include "bridge/url_encode.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace zb {
namespace {

TEST(UrlEncode, EveryByteClass) {
  EXPECT_EQ(UrlEncode("homepage"), "homepage");
  EXPECT_EQ(UrlEncode("AZaz09"), "AZaz09");
  EXPECT_EQ(UrlEncode(" \t\n\v\f\r"), "++++++");
  EXPECT_EQ(UrlEncode("a/b"), "a%2Fb");
  EXPECT_EQ(UrlEncode("-_.~!*'()"), "%2D%5F%2E%7E%21%2A%27%28%29");
  EXPECT_EQ(UrlEncode(std::string("\0\x1f\x7f", 3)), "%00%1F%7F");
  EXPECT_EQ(UrlEncode("\xC3\xA9\xFF"), "%C3%A9%FF");
  EXPECT_EQ(UrlEncode(""), "");
  // Every byte: letters and digits kept, six blanks as '+', the rest %XX.
  for (int b = 0; b < 256; ++b) {
    std::string e = UrlEncode(std::string(1, static_cast<char>(b)));
    bool alnum = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9');
    bool blank = b == ' ' || (b >= 9 && b <= 13);
    EXPECT_EQ(e.size(), alnum || blank ? 1u : 3u) << b;
  }
}

TEST(UrlEncode, RedirectUrlUsesTheServiceHost) {
  testing::ScopedEnv env("ZIMBREL_SERVICE_HOST", "svc.test");
  EXPECT_EQ(BuildRedirectUrl("homepage"), "http://svc.test/redir.php?ver=260&aff=2&where=homepage");
  EXPECT_EQ(BuildRedirectUrl("phone:0700 123"),
            "http://svc.test/redir.php?ver=260&aff=2&where=phone%3A0700+123");
  testing::ScopedEnv env2("ZIMBREL_SERVICE_HOST", "127.0.0.1:8765");
  EXPECT_EQ(BuildRedirectUrl("faq"), "http://127.0.0.1:8765/redir.php?ver=260&aff=2&where=faq");
}

}  // namespace
}  // namespace zb
