// The real pages in the real windows: the main window with its context menu
// and each help page in its dialog. With ZIMBREL_SCREENSHOTS=<folder> the
// test saves a PNG of each (docs/screenshots/ holds the committed ones).
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "app/app_harness.h"

namespace zb::testing {
namespace {

const char kMainTitle[] = "Zimbrel - The Ringtone Creator";

void Shot(const std::string& name) {
  const char* dir = std::getenv("ZIMBREL_SCREENSHOTS");
  if (!dir || !*dir) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // let the page paint
  EXPECT_TRUE(AppHarness::Screenshot(std::string(dir) + "/" + name + ".png"));
}

TEST(Screens, ContextMenuOpensEachHelpPageInItsDialog) {
  AppHarness app;
  app.Start();
  std::string id = app.FindWindow(kMainTitle, 30000);
  ASSERT_FALSE(id.empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  auto g = AppHarness::WindowGeometry(id);
  const int x = g.x + g.width / 2, y = g.y + g.height - 40;
  struct Entry {
    std::vector<std::string> keys;
    const char* title;
    const char* shot;
  } entries[] = {
      {{"p"}, "  Zimbrel - Phone Compatibility Test", "help-compatibility"},
      // The one item without a mnemonic: the third item down.
      {{"Down", "Down", "Down", "Return"}, "  Zimbrel - How to use the application", "help-usage"},
      {{"f"}, "  Zimbrel - FAQ and Contact us", "help-contact"},
      {{"a"}, "  About Zimbrel", "about"},
  };
  bool first = true;
  for (const auto& e : entries) {
    AppHarness::Xdo({"mousemove", "--sync", std::to_string(x), std::to_string(y)});
    AppHarness::Xdo({"click", "3"});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (first) Shot("context-menu");
    first = false;
    std::vector<std::string> args{"key", "--delay", "80"};
    args.insert(args.end(), e.keys.begin(), e.keys.end());
    AppHarness::Xdo(args);
    std::string dlg = app.FindWindow(e.title);
    ASSERT_FALSE(dlg.empty()) << e.title;
    Shot(e.shot);
    app.Keys(dlg, {"Escape"});
    ASSERT_TRUE(app.WaitUntil([&] { return app.FindWindow(e.title, 100).empty(); }, 10000));
  }
  AppHarness::RequestClose(id);
  EXPECT_TRUE(app.WaitExit(20000));
}

}  // namespace
}  // namespace zb::testing
