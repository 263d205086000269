// The program under a German locale: its native texts (the main window's
// title, the file chooser's title) come from the German catalogue that the
// build put beside it, found from the program's own folder.
#include <gtest/gtest.h>

#include <clocale>
#include <map>
#include <string>

#include "app/app_harness.h"

namespace zb::testing {
namespace {

// The environment of a German desktop session: only LANG says the language.
const std::map<std::string, std::string> kGerman = {
    {"LANG", "de_DE.UTF-8"}, {"LANGUAGE", ""}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}};

bool GermanLocaleGenerated() {
  locale_t german = newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr);
  if (german) freelocale(german);
  return german != nullptr;
}

TEST(TranslationE2E, GermanSessionShowsGermanWindowAndChooserTitles) {
  ASSERT_TRUE(GermanLocaleGenerated())
      << "de_DE.UTF-8 is not generated (scripts/install-deps.sh --test)";
  AppHarness app;
  // The start page asks for a song once it is up and reports the answer.
  app.WritePage("selectSong.html", R"(<!doctype html><body><script>
var x = window.external;
x.ZBL_SetZBName('ready');
setTimeout(function () { x.ZBL_SetZBName('chosen:' + x.ZBL_SelectMediaFile()); }, 0);
</script></body>)");
  app.Start({}, kGerman);
  ASSERT_TRUE(app.WaitForValue("ZBName", "ready", 30000)) << app.Output();
  EXPECT_FALSE(app.FindWindow("Zimbrel - Klingeltöne selbst gemacht").empty())
      << "the main window's title is not German";
  const std::string chooser = app.FindWindow("Audiodatei als Klingelton für Ihr Handy wählen");
  ASSERT_FALSE(chooser.empty()) << "the file chooser's title is not German";
  ASSERT_TRUE(app.Keys(chooser, {"Escape"}));
  EXPECT_TRUE(app.WaitForValue("ZBName", "chosen:", 20000));
}

}  // namespace
}  // namespace zb::testing
