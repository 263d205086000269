// The three percent-encodings, pinned byte by byte.
#include "net/percent_encode.h"

#include <gtest/gtest.h>

namespace zb::net {
namespace {

std::string One(int b, const PercentEncoding& e) {
  return PercentEncode(std::string(1, static_cast<char>(b)), e);
}

TEST(PercentEncode, QueryValueKeepsLettersAndDigitsAndTurnsWhiteSpaceIntoPlus) {
  EXPECT_EQ(PercentEncode("homepage", kQueryValue), "homepage");
  EXPECT_EQ(PercentEncode(" \t\n\v\f\r", kQueryValue), "++++++");
  EXPECT_EQ(PercentEncode("a/b", kQueryValue), "a%2Fb");
  EXPECT_EQ(PercentEncode("-_.~!*'()", kQueryValue), "%2D%5F%2E%7E%21%2A%27%28%29");
  EXPECT_EQ(PercentEncode(std::string("\0\x1f\x7f", 3), kQueryValue), "%00%1F%7F");
  EXPECT_EQ(PercentEncode("\xC3\xA9\xFF", kQueryValue), "%C3%A9%FF");
  EXPECT_EQ(PercentEncode("", kQueryValue), "");
  for (int b = 0; b < 256; ++b) {
    bool alnum = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9');
    bool blank = b == ' ' || (b >= 9 && b <= 13);
    const char* hex = "0123456789ABCDEF";
    std::string encoded = {'%', hex[b >> 4], hex[b & 15]};
    EXPECT_EQ(One(b, kQueryValue), alnum   ? std::string(1, static_cast<char>(b))
                                   : blank ? "+"
                                           : encoded)
        << b;
  }
}

TEST(PercentEncode, UrlKeepsPrintableAsciiOnly) {
  EXPECT_EQ(PercentEncode("http://h/a?b=c&d=e#f", kUrl), "http://h/a?b=c&d=e#f");
  EXPECT_EQ(PercentEncode("/x y\tz", kUrl), "/x%20y%09z");
  EXPECT_EQ(PercentEncode("/caf\xC3\xA9", kUrl), "/caf%C3%A9");
  EXPECT_EQ(PercentEncode("\x7f", kUrl), "%7F");
  for (int b = 0; b < 256; ++b) EXPECT_EQ(One(b, kUrl).size(), b > 0x20 && b < 0x7F ? 1u : 3u) << b;
}

TEST(PercentEncode, SessionIdKeepsNonAsciiButNotWhatBreaksTheRequestLine) {
  EXPECT_EQ(PercentEncode("abc-123_=+/?&%", kSessionId), "abc-123_=+/?&%");
  EXPECT_EQ(PercentEncode("a b#c\r\n", kSessionId), "a%20b%23c%0D%0A");
  EXPECT_EQ(PercentEncode("\xC3\xA9\xFF", kSessionId), "\xC3\xA9\xFF");
  EXPECT_EQ(PercentEncode("\x7f", kSessionId), "%7F");
  for (int b = 0; b < 256; ++b)
    EXPECT_EQ(One(b, kSessionId).size(), b > 0x20 && b != 0x7F && b != '#' ? 1u : 3u) << b;
}

}  // namespace
}  // namespace zb::net
