// Where a view may go, decided on the addresses a hostile page or a careless
// click could ask for: only the program's own pages and about:blank load, a
// web address opens in the browser only on the user's own input, and what
// the user asked for and did not get is shown to them by its path.
#include "app/navigation_policy.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/view_keys.h"
#include "bridge/program_pages.h"
#include "temp_dir.h"

namespace zb {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using Choice = NavigationChoice;

class NavigationPolicyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_module / "res/tmp");
    fs::create_directories(m_work);
    fs::create_directories(m_outside);
    for (const char* f : {"res/page.html", "res/tmp/work.html"}) std::ofstream(m_module / f) << f;
    std::ofstream(m_work / "work.html") << "work";
    std::ofstream(m_outside / "evil.html") << "evil";
    m_pages = ProgramPages(m_module.string(), m_work.string());
  }
  // The choice for `uri` asked for as a navigation of the view.
  Choice Go(const std::string& uri, bool byUser, bool redirect = false) const {
    return DecideNavigation({uri, false, redirect, byUser}, m_pages);
  }
  // ... as a new window.
  Choice NewWindow(const std::string& uri, bool byUser) const {
    return DecideNavigation({uri, true, false, byUser}, m_pages);
  }
  std::string Res() const { return (m_module / "res").string(); }

  TempDir m_dir;
  fs::path m_module = fs::path(m_dir.Path()) / "module";
  fs::path m_work = fs::path(m_dir.Path()) / "work";
  fs::path m_outside = fs::path(m_dir.Path()) / "outside";
  ProgramPages m_pages;
};

TEST_F(NavigationPolicyTest, OnlyOurPagesAndBlankLoadWhoeverAsks) {
  for (bool byUser : {false, true}) {
    SCOPED_TRACE(byUser);
    EXPECT_EQ(Go(PageAddress(Res() + "/page.html"), byUser), Choice::kLoad);
    EXPECT_EQ(Go(PageAddress(Res() + "/page.html") + "?step=2#top", byUser), Choice::kLoad);
    EXPECT_EQ(Go("about:blank", byUser), Choice::kLoad);
  }
  // What is not ours: refused, with a box only when the user asked for it.
  const std::string hostile[] = {
      "file://" + Res() + "/page.html",  // our page, but not through the scheme
      "file:///etc/passwd",
      PageAddress(Res()) + "/..%2f..%2foutside%2fevil.html",   // res/ left by encoded slashes
      std::string(kPageOrigin) + Res() + "/../res/page.html",  // a ".." segment
      PageAddress((m_outside / "evil.html").string()),
      PageAddress(Res() + "/tmp/work.html"),  // the work folder is never a page
      "data:text/html,<script>window.external</script>",
      "javascript:window.external.ZBL_GetVersion()",
      "about:srcdoc",
      "blob:zimbrel://app/0d5a",
      "zimbrel://elsewhere" + Res() + "/page.html",
      "",
  };
  for (const std::string& uri : hostile) {
    SCOPED_TRACE(uri);
    EXPECT_EQ(Go(uri, true), Choice::kRefuseWithBox);
    EXPECT_EQ(Go(uri, false), Choice::kRefuseQuietly);
  }
}

TEST_F(NavigationPolicyTest, RedirectsAndNewWindowsNeverLoadEvenOurPages) {
  const std::string ours = PageAddress(Res() + "/page.html");
  // A redirect can only come from a page of the web, which no view shows.
  EXPECT_EQ(Go(ours, false, true), Choice::kRefuseQuietly);
  EXPECT_EQ(Go("about:blank", false, true), Choice::kRefuseQuietly);
  EXPECT_EQ(Go(ours, true, true), Choice::kRefuseWithBox);
  // No view opens a window; the user is not told about one script asked for.
  for (bool byUser : {false, true}) {
    EXPECT_EQ(NewWindow(ours, byUser), Choice::kRefuseQuietly);
    EXPECT_EQ(NewWindow("about:blank", byUser), Choice::kRefuseQuietly);
    EXPECT_EQ(NewWindow("file:///etc/passwd", byUser), Choice::kRefuseQuietly);
  }
}

TEST_F(NavigationPolicyTest, WebAddressesOpenInTheBrowserOnlyOnTheUsersOwnInput) {
  EXPECT_EQ(Go("http://127.0.0.1:8765/help", true), Choice::kOpenInBrowser);
  EXPECT_EQ(Go("https://example.org/faq", true), Choice::kOpenInBrowser);
  EXPECT_EQ(NewWindow("https://example.org/faq", true), Choice::kOpenInBrowser);
  // Script alone (a click it makes, a form it submits, window.open).
  EXPECT_EQ(Go("http://127.0.0.1:8765/help", false), Choice::kRefuseQuietly);
  EXPECT_EQ(NewWindow("https://example.org/faq", false), Choice::kRefuseQuietly);
  // A redirect the user did not choose, not even to the web.
  EXPECT_EQ(Go("https://example.org/faq", true, true), Choice::kRefuseWithBox);
  EXPECT_EQ(Go("https://example.org/faq", false, true), Choice::kRefuseQuietly);
  // Only plain web addresses go to the browser; lookalikes are refused.
  for (const char* uri : {"httpx://example.org/", "ftp://example.org/", "http:example.org",
                          "view-source:http://example.org/", "HTTPS://example.org/"}) {
    SCOPED_TRACE(uri);
    EXPECT_EQ(Go(uri, true), Choice::kRefuseWithBox);
  }
}

TEST_F(NavigationPolicyTest, TheUserIsShownWhatTheyAskedForByItsPath) {
  EXPECT_EQ(ShownAddress("file:///home/me/My%20Song.html"), "/home/me/My Song.html");
  EXPECT_EQ(ShownAddress(PageAddress(Res() + "/a b%.html")), Res() + "/a b%.html");
  EXPECT_EQ(ShownAddress("https://example.org/a%20b"), "https://example.org/a%20b");
  EXPECT_EQ(ShownAddress(""), "");
  // A long address (a data: page) is cut.
  const std::string data = "data:text/html," + std::string(1000, 'x');
  EXPECT_EQ(ShownAddress(data), data.substr(0, 300) + "...");
}

TEST(ViewKeys, BrowserKeysStayOutOfThePagesWhileTypingAndCopyingDoNot) {
  auto swallowed = [](guint keyval, guint state) {
    bool f1 = true;
    const bool s = SwallowBrowserKey(keyval, static_cast<GdkModifierType>(state), &f1);
    EXPECT_FALSE(f1) << keyval;
    return s;
  };
  const guint ctrl = GDK_CONTROL_MASK, shift = GDK_SHIFT_MASK, alt = GDK_MOD1_MASK;
  // Reload, find, print, new windows, zoom, history: never the page's.
  EXPECT_TRUE(swallowed(GDK_KEY_F5, 0));
  EXPECT_TRUE(swallowed(GDK_KEY_r, ctrl));
  EXPECT_TRUE(swallowed(GDK_KEY_R, ctrl | shift));
  EXPECT_TRUE(swallowed(GDK_KEY_p, ctrl));
  EXPECT_TRUE(swallowed(GDK_KEY_n, ctrl));
  EXPECT_TRUE(swallowed(GDK_KEY_KP_Add, ctrl));
  EXPECT_TRUE(swallowed(GDK_KEY_Left, alt));
  EXPECT_TRUE(swallowed(GDK_KEY_Back, 0));
  // Typing, moving and the clipboard reach the page.
  EXPECT_FALSE(swallowed(GDK_KEY_r, 0));
  EXPECT_FALSE(swallowed(GDK_KEY_Left, 0));
  EXPECT_FALSE(swallowed(GDK_KEY_c, ctrl));
  EXPECT_FALSE(swallowed(GDK_KEY_V, ctrl | shift));
  EXPECT_FALSE(swallowed(GDK_KEY_a, ctrl));
  EXPECT_FALSE(swallowed(GDK_KEY_Tab, 0));
  // F1 goes on to the page too; the caller opens the help file.
  bool f1 = false;
  EXPECT_FALSE(SwallowBrowserKey(GDK_KEY_F1, static_cast<GdkModifierType>(0), &f1));
  EXPECT_TRUE(f1);
}

}  // namespace
}  // namespace zb
