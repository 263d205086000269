// Which documents are the program's own pages, and what its scheme serves:
// judged by the file an address names on disk, never by the address's text.
#include "bridge/program_pages.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
    fs::create_directories(m_module / "res/steps");
    fs::create_directories(m_module / "res/tmp");
    fs::create_directories(m_work / "sub");
    fs::create_directories(m_dir / "outside");
    for (const char* f : {"res/page.html", "res/steps/inner.html", "res/a b%.html",
                          "res/tmp/work.html", "res/tmp/ring.mp3"})
      std::ofstream(m_module / f) << "module " << f;
    for (const char* f : {"ring.mp3", "a song #1.WAV", "work.html", "notes.txt", "sub/deep.mp3"})
      std::ofstream(m_work / f) << "work " << f;
    std::ofstream(m_dir / "outside/evil.html") << "evil";
    std::ofstream(m_dir / "outside/evil.mp3") << "evil";
    fs::create_symlink(m_dir / "outside/evil.html", m_module / "res/link.html");
    fs::create_directory_symlink(m_dir / "outside", m_module / "res/linked");
    fs::create_symlink(m_dir / "outside/evil.mp3", m_work / "linked.mp3");
    ASSERT_EQ(::mkfifo((m_work / "fifo.mp3").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((m_module / "res/fifo.html").c_str(), 0600), 0);
    // The same module directory reached through a link of its own.
    fs::create_directory_symlink(m_module, m_dir / "alias");
    m_pages = ProgramPages(m_module.string(), m_work.string());
  }
  std::string Res() const { return m_module.string() + "/res"; }
  std::string Uri(const std::string& path) const { return "file://" + path; }
  // What the scheme serves at `uri`, or "refused".
  std::string Served(const std::string& uri) const {
    ProgramPages::Opened f = m_pages.Open(uri);
    if (f.fd < 0) return "refused";
    char buf[256];
    ssize_t n = ::read(f.fd, buf, sizeof buf);
    ::close(f.fd);
    return f.mime + ": " + std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
  }

  TempDir m_dir;
  fs::path m_module = fs::path(m_dir.Path()) / "module";
  fs::path m_work = fs::path(m_dir.Path()) / "work";
  ProgramPages m_pages;
};

TEST_F(ProgramPagesTest, APageIsNamedByOurAddressWhateverNamedItFirst) {
  const std::string page = PageAddress(Res() + "/page.html");
  EXPECT_EQ(page, std::string(kPageOrigin) + Res() + "/page.html");
  EXPECT_EQ(PageAddress("/a b%/é.html"), std::string(kPageOrigin) + "/a%20b%25/%C3%A9.html");
  for (const std::string& named : std::vector<std::string>{
           Res() + "/page.html",
           Res() + "/steps/../page.html",
           m_dir.Path() + "/alias/res/page.html",
           Uri(Res() + "/page.html?x=1#section"),
           Uri(Res() + "/steps/..%2fpage.html"),
           Uri(Res() + "/%70age.html"),
           "file://localhost" + Res() + "/page.html",
           "FILE://" + Res() + "/page.html",
           page,
           page + "?x=1",
       })
    EXPECT_EQ(m_pages.AddressFor(named), page) << named;
  EXPECT_EQ(m_pages.AddressFor(Uri(Res() + "/a%20b%25.html")), PageAddress(Res() + "/a b%.html"));
  EXPECT_EQ(PathOfPageAddress(PageAddress(Res() + "/a b%.html")), Res() + "/a b%.html");
}

TEST_F(ProgramPagesTest, NoOtherFileIsAPageOfOurs) {
  for (const std::string& named : std::vector<std::string>{
           // Out of res/ through encoded or plain dot segments.
           Uri(Res() + "/..%2f..%2foutside/evil.html"),
           Uri(Res() + "/%2e%2e/%2e%2e/outside/evil.html"),
           Res() + "/../../outside/evil.html",
           std::string(kPageOrigin) + Res() + "/..%2f..%2foutside/evil.html",
           // Links inside res/ to files elsewhere; res/tmp; folders; nothing.
           Res() + "/link.html",
           Res() + "/linked/evil.html",
           Res() + "/tmp/work.html",
           PageAddress(Res() + "/tmp/work.html"),
           Res() + "/steps",
           Res() + "/nothing.html",
           Res(),
           // Other hosts, malformed or NUL escapes, other schemes.
           "file://example.org" + Res() + "/page.html",
           Uri(Res() + "/page.html%"),
           Uri(Res() + "/page.html%00.png"),
           "zimbrel://app.example.org" + Res() + "/page.html",
           "zimbrel://other" + Res() + "/page.html",
           "http://127.0.0.1:8765" + Res() + "/page.html",
           "about:blank",
           "data:text/html,<p>x</p>",
           "",
       })
    EXPECT_EQ(m_pages.AddressFor(named), "") << named;
  EXPECT_EQ(ProgramPages().AddressFor(Res() + "/page.html"), "");
}

TEST_F(ProgramPagesTest, OnlyOurAddressesOfResAreOurPagesToTheWebProcess) {
  EXPECT_TRUE(m_pages.Contains(PageAddress(Res() + "/page.html")));
  EXPECT_TRUE(m_pages.Contains(PageAddress(Res() + "/steps/inner.html") + "#x"));
  for (const std::string& uri : std::vector<std::string>{
           Uri(Res() + "/page.html"),
           PageAddress(Res() + "/tmp/work.html"),
           PageAddress(Res() + "/tmp/ring.mp3"),
           std::string(kPageOrigin) + Res() + "/steps/%2e%2e/page.html",
           std::string(kPageOrigin) + Res() + "/..%2f..%2foutside/evil.html",
           PageAddress(m_dir.Path() + "/outside/evil.html"),
           PageAddress(Res()),
           "zimbrel://app.example.org" + Res() + "/page.html",
           "blob:zimbrel://app/0a1b",
           "about:srcdoc",
       })
    EXPECT_FALSE(m_pages.Contains(uri)) << uri;
}

TEST_F(ProgramPagesTest, TheSchemeServesResAndTheWorkFoldersAudioFilesOnly) {
  EXPECT_EQ(Served(PageAddress(Res() + "/page.html")), "text/html: module res/page.html");
  EXPECT_EQ(Served(PageAddress(Res() + "/a b%.html") + "?q#f"), "text/html: module res/a b%.html");
  // res/tmp/<name> is the work folder's <name>, never the module's file of
  // that name, and only an audio file.
  EXPECT_EQ(Served(PageAddress(Res() + "/tmp/ring.mp3")), "audio/mpeg: work ring.mp3");
  EXPECT_EQ(Served(PageAddress(Res() + "/tmp/a song #1.WAV")), "audio/wav: work a song #1.WAV");
  for (const std::string& uri : std::vector<std::string>{
           PageAddress(Res() + "/tmp/work.html"),
           PageAddress(Res() + "/tmp/notes.txt"),
           PageAddress(Res() + "/tmp/sub/deep.mp3"),
           PageAddress(Res() + "/tmp/linked.mp3"),
           PageAddress(Res() + "/tmp/fifo.mp3"),
           PageAddress(Res() + "/tmp/missing.mp3"),
           PageAddress(Res() + "/tmp/"),
           PageAddress(Res() + "/fifo.html"),
           PageAddress(Res() + "/link.html"),
           PageAddress(Res() + "/linked/evil.html"),
           PageAddress(Res() + "/steps"),
           std::string(kPageOrigin) + Res() + "/..%2f..%2foutside/evil.html",
           std::string(kPageOrigin) + Res() + "%2f..%2f..%2foutside/evil.html",
           PageAddress(m_dir.Path() + "/outside/evil.html"),
           PageAddress("/etc/passwd"),
           Uri(Res() + "/page.html"),
       })
    EXPECT_EQ(Served(uri), "refused") << uri;
  // Without a work folder no work file is served.
  EXPECT_EQ(ProgramPages(m_module.string(), "").Open(PageAddress(Res() + "/tmp/ring.mp3")).fd, -1);
}

TEST(PageScheme, ByteRangesAreClippedToTheFile) {
  uint64_t a = 0, b = 0;
  EXPECT_TRUE(ParseByteRange("bytes=0-", 100, &a, &b));
  EXPECT_EQ(a, 0u);
  EXPECT_EQ(b, 99u);
  EXPECT_TRUE(ParseByteRange("bytes=10-19", 100, &a, &b));
  EXPECT_EQ(a, 10u);
  EXPECT_EQ(b, 19u);
  EXPECT_TRUE(ParseByteRange("bytes=90-500", 100, &a, &b));
  EXPECT_EQ(b, 99u);
  EXPECT_TRUE(ParseByteRange("bytes=-30", 100, &a, &b));
  EXPECT_EQ(a, 70u);
  EXPECT_EQ(b, 99u);
  EXPECT_TRUE(ParseByteRange("bytes=-300", 100, &a, &b));
  EXPECT_EQ(a, 0u);
  for (const char* bad : {"bytes=100-", "bytes=20-10", "bytes=-0", "bytes=1-2,4-5", "items=0-1",
                          "bytes=x-1", "bytes=", "bytes=-", "bytes=18446744073709551616-"})
    EXPECT_FALSE(ParseByteRange(bad, 100, &a, &b)) << bad;
  EXPECT_FALSE(ParseByteRange("bytes=0-", 0, &a, &b));
  EXPECT_EQ(MimeTypeOf("/a/b.CSS"), "text/css");
  EXPECT_EQ(MimeTypeOf("/a.b/c"), "application/octet-stream");
}

}  // namespace
}  // namespace zb
