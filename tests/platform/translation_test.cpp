#include "platform/translation.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "temp_dir.h"

namespace zb {
namespace {

namespace fs = std::filesystem;
using zb::testing::ScopedEnv;
using zb::testing::TempDir;

TEST(LocaleDirectory, BesideTheModuleInABuildUnderThePrefixWhenInstalled) {
  TempDir dir;
  const std::string module = dir / "lib/zimbrel";
  fs::create_directories(module);
  // Installed: <prefix>/lib/zimbrel -> <prefix>/share/locale.
  EXPECT_EQ(LocaleDirectoryFor(module), module + "/../../share/locale");
  // A file named locale is no catalogue folder.
  std::ofstream(module + "/locale") << "";
  EXPECT_EQ(LocaleDirectoryFor(module), module + "/../../share/locale");
  fs::remove(module + "/locale");
  // A build folder holds locale/ beside the program.
  fs::create_directories(module + "/locale");
  EXPECT_EQ(LocaleDirectoryFor(module), module + "/locale");
}

TEST(ReplaceFirst, InsertsTheValueAsItIs) {
  EXPECT_EQ(ReplaceFirst("start over with %s?", "%s", "\"a %s b %d.mp3\""),
            "start over with \"a %s b %d.mp3\"?");
  EXPECT_EQ(ReplaceFirst("%s and %s", "%s", "x"), "x and %s");
  EXPECT_EQ(ReplaceFirst("no placeholder", "%s", "x"), "no placeholder");
  EXPECT_EQ(ReplaceFirst("text", "", "x"), "text");
}

// A real catalogue, made by msgfmt, read through the bound domain.
TEST(Translation, ReadsTheBoundCatalogueAndNeverTheHeader) {
  TempDir dir;
  const std::string module = dir / "module";
  fs::create_directories(module + "/locale/de/LC_MESSAGES");
  std::ofstream(dir / "de.po")
      << "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n"
         "\nmsgid \"Error\"\nmsgstr \"Fehler\"\n";
  const std::string mo = module + "/locale/de/LC_MESSAGES/zimbrel.mo";
  ASSERT_EQ(std::system(("msgfmt -o '" + mo + "' '" + (dir / "de.po") + "'").c_str()), 0);

  const std::string before = std::setlocale(LC_MESSAGES, nullptr);
  ASSERT_NE(std::setlocale(LC_MESSAGES, "de_DE.UTF-8"), nullptr)
      << "de_DE.UTF-8 is not generated (scripts/install-deps.sh --test)";
  {
    ScopedEnv language("LANGUAGE", std::nullopt);
    BindTextDomain(module);
    BindTextDomain(dir / "elsewhere");  // the first binding stays
    EXPECT_STREQ(Tr("Error"), "Fehler");
    EXPECT_EQ(Tr(std::string("Error")), "Fehler");
    EXPECT_STREQ(Tr("Not in the catalogue"), "Not in the catalogue");
    EXPECT_STREQ(Tr(""), "");  // the empty msgid would be the catalogue's header
  }
  std::setlocale(LC_MESSAGES, before.c_str());
  EXPECT_STREQ(Tr("Error"), "Error");
}

}  // namespace
}  // namespace zb
