#include "platform/utf.h"

#include <gtest/gtest.h>

#include "platform/service_host.h"
#include "temp_dir.h"

namespace zb {
namespace {

TEST(Utf, RoundTripsAndReplacesWhatCannotConvert) {
  std::string s = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5";  // a é € 🎵
  std::u16string w = Utf8ToUtf16(s);
  EXPECT_EQ(w, u"a\u00e9\u20ac\U0001F3B5");
  EXPECT_EQ(Utf16ToUtf8(w), s);
  EXPECT_EQ(Utf8ToUtf16("\xFF"
                        "a\xC3"),
            u"\uFFFDa\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
  EXPECT_EQ(SanitizeUtf8("ok\x80"), "ok\xEF\xBF\xBD");
}

TEST(ServiceHost, ParsesHostAndPortAndHonoursTheEnvironment) {
  ServiceHost h;
  ASSERT_TRUE(ParseServiceHost("example.test", &h));
  EXPECT_EQ(h.port, 80);
  EXPECT_EQ(h.BaseUrl(), "http://example.test");
  ASSERT_TRUE(ParseServiceHost("127.0.0.1:8765", &h));
  EXPECT_EQ(h.Authority(), "127.0.0.1:8765");
  ASSERT_TRUE(ParseServiceHost("[::1]:99", &h));
  EXPECT_EQ(h.host, "[::1]");
  for (const char* bad : {"", ":80", "h:", "h:0", "h:70000", "h:8x", "a b", "h/x"})
    EXPECT_FALSE(ParseServiceHost(bad, &h)) << bad;
  {
    testing::ScopedEnv env("ZIMBREL_SERVICE_HOST", "svc.test:1234");
    EXPECT_EQ(GetServiceHost().Authority(), "svc.test:1234");
  }
  testing::ScopedEnv bad("ZIMBREL_SERVICE_HOST", "not a host");
  EXPECT_FALSE(GetServiceHost().host.empty());
}

}  // namespace
}  // namespace zb
