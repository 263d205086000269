// Which documents are the program's own pages: judged by the file a URL
// names on disk, never by the URL's text.
#include "bridge/program_pages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "temp_dir.h"

namespace zb {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

class ProgramPagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(module / "res/steps");
    fs::create_directories(module / "res/tmp");
    fs::create_directories(dir / "outside");
    for (const char* f : {"res/page.html", "res/steps/inner.html", "res/a b%.html",
                          "res/tmp/work.html", "outside/evil.html"})
      std::ofstream(dir / ("module/" + std::string(f))) << "x";
    std::ofstream(dir / "outside/evil.html") << "x";
    fs::create_symlink(dir / "outside/evil.html", module / "res/link.html");
    fs::create_directory_symlink(dir / "outside", module / "res/linked");
    // The same module directory reached through a link of its own.
    fs::create_directory_symlink(module, dir / "alias");
    pages = ProgramPages(module.string() + "/res", module.string() + "/res/tmp");
  }
  std::string Uri(const std::string& path) { return "file://" + path; }

  TempDir dir;
  fs::path module = fs::path(dir.path()) / "module";
  ProgramPages pages;
};

TEST_F(ProgramPagesTest, PagesInsideResAreOursWhateverTheAddressLooksLike) {
  const std::string res = module.string() + "/res";
  EXPECT_EQ(pages.pagesDir(), res);
  for (const std::string& uri : std::vector<std::string>{
           Uri(res + "/page.html"),
           Uri(res + "/page.html?x=1#section"),
           Uri(res + "/steps/inner.html"),
           Uri(res + "/steps/../page.html"),
           Uri(res + "/steps/..%2fpage.html"),
           Uri(res + "/%70age.html"),
           Uri(res + "/a%20b%25.html"),
           "file://localhost" + res + "/page.html",
           "FILE://" + res + "/page.html",
           Uri(dir.path() + "/alias/res/page.html"),
       })
    EXPECT_TRUE(pages.Contains(uri)) << uri;
}

TEST_F(ProgramPagesTest, NothingElseIsOurs) {
  const std::string res = module.string() + "/res";
  for (const std::string& uri : std::vector<std::string>{
           // Out of res/ through encoded or plain dot segments.
           Uri(res + "/..%2f..%2foutside/evil.html"),
           Uri(res + "/%2e%2e/%2e%2e/outside/evil.html"),
           Uri(res + "/../../outside/evil.html"),
           Uri(res + "%2f..%2f..%2foutside/evil.html"),
           // A link inside res/ to a file elsewhere, or through a linked folder.
           Uri(res + "/link.html"),
           Uri(res + "/linked/evil.html"),
           // The work folder, a folder, files that do not exist.
           Uri(res + "/tmp/work.html"),
           Uri(res + "/steps"),
           Uri(res + "/nothing.html"),
           Uri(res),
           // Another host, malformed or NUL escapes, not a file URL at all.
           "file://example.org" + res + "/page.html",
           "file://localhost.example.org" + res + "/page.html",
           Uri(res + "/page.html%"),
           Uri(res + "/page.html%2"),
           Uri(res + "/page.html%00.png"),
           "http://127.0.0.1:8765" + res + "/page.html",
           "about:blank",
           "data:text/html,<p>x</p>",
           "file:relative/page.html",
           "",
       })
    EXPECT_FALSE(pages.Contains(uri)) << uri;
  EXPECT_FALSE(ProgramPages().Contains(Uri(res + "/page.html")));
  EXPECT_FALSE(ProgramPages("/no/such/folder", "").Contains(Uri(res + "/page.html")));
}

TEST_F(ProgramPagesTest, RealPathsAreDecodedAndResolved) {
  const std::string res = module.string() + "/res";
  EXPECT_EQ(RealPathOfFileUri(Uri(res + "/a%20b%25.html")), res + "/a b%.html");
  EXPECT_EQ(RealPathOfFileUri(Uri(res + "/..%2f..%2foutside/evil.html")),
            dir.path() + "/outside/evil.html");
  EXPECT_EQ(RealPathOfFileUri(Uri(res + "/link.html")), dir.path() + "/outside/evil.html");
  EXPECT_EQ(RealPathOfFileUri(Uri(res + "/nothing.html")), "");
}

}  // namespace
}  // namespace zb
