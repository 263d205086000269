// The web view behaves as an application: keys, menus, script dialogs, page
// dialogs, message boxes, the file chooser, help, the homepage and the
// trusted-origin rule, driven with real key presses and clicks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "app/app_harness.h"

namespace zb::testing {
namespace {

const char kMainTitle[] = "Zimbrel - The Ringtone Creator";

// A page with a shared prelude: `x` is window.external, report() appends to
// ZBName, and every key the page sees goes into ZBNetwork.
std::string Page(const std::string& body, const std::string& script) {
  return "<!doctype html><html><head><meta charset=utf-8><style>body{margin:0}"
         "input{width:740px;height:120px;font-size:30px}</style></head><body>" +
         body +
         "<script>var x = window.external; var log = [];"
         "function report(s) { log.push(s); x.ZBL_SetZBName(log.join('|')); }"
         "var keys = []; document.addEventListener('keydown', function (e) {"
         "  if (/^(Control|Shift|Alt|Meta)$/.test(e.key)) return;"
         "  keys.push((e.ctrlKey ? 'C-' : '') + e.key); x.ZBL_SetZBNetwork(keys.join(',')); });"
         "var base = decodeURIComponent(location.pathname).replace(/[^/]*$/, '');\n" +
         script + "</script></body></html>";
}

struct ViewOrigin {
  int x, y;
};

// Where the 760 x 520 web view of the main window is on the screen.
ViewOrigin MainViewOrigin(const std::string& windowId) {
  auto g = AppHarness::WindowGeometry(windowId);
  int border = (g.width - 762) / 2;  // client-side decoration extents, if any
  return {g.x + border + 1, g.y + g.height - border - 1 - 520};
}

void Click(int x, int y, int button) {
  AppHarness::Xdo({"mousemove", "--sync", std::to_string(x), std::to_string(y)});
  AppHarness::Xdo({"click", std::to_string(button)});
}

TEST(ShellUi, BrowserKeysAreSwallowedAndEditingKeysPass) {
  AppHarness app;
  app.WritePage(
      "selectSong.html",
      Page("<input id=f>",
           "var n = parseInt(x.ZBL_GetZBNVCheck(), 10); x.ZBL_SetZBNVCheck(String(n + 1));"
           "document.getElementById('f').focus(); report('ready');"));
  app.Start();
  ASSERT_TRUE(app.WaitForValue("ZBName", "ready", 30000)) << app.Output();
  std::string id = app.FindWindow(kMainTitle);
  app.Keys(id, {"F5", "ctrl+p", "ctrl+r", "ctrl+o", "ctrl+n", "ctrl+f", "ctrl+s", "ctrl+u",
                "ctrl+plus", "alt+Left", "a", "b", "ctrl+a", "ctrl+c", "BackSpace", "ctrl+v", "z"});
  // Only the editing keys reach the page; nothing reloaded it.
  EXPECT_TRUE(app.WaitForValue("ZBNetwork", "a,b,C-a,C-c,Backspace,C-v,z", 10000))
      << app.Value("ZBNetwork");
  EXPECT_EQ(app.Value("ZBNVCheck"), "1");
  AppHarness::RequestClose(id);
  EXPECT_TRUE(app.WaitExit(20000));
}

TEST(ShellUi, F1OpensTheHelpFileOrSaysItIsMissingAndTheKeyGoesOn) {
  AppHarness app;  // the copy has no help.chm
  app.WritePage("selectSong.html", Page("", "report('ready');"));
  app.Start();
  ASSERT_TRUE(app.WaitForValue("ZBName", "ready", 30000));
  std::string id = app.FindWindow(kMainTitle);
  app.Keys(id, {"F1"});
  std::string box = app.FindWindow("Error");
  ASSERT_FALSE(box.empty()) << "no help box";
  app.Keys(box, {"Return"});
  EXPECT_TRUE(app.WaitForValue("ZBNetwork", "F1", 10000)) << app.Value("ZBNetwork");
  AppHarness::RequestClose(id);
  EXPECT_TRUE(app.WaitExit(20000));
}

TEST(ShellUi, ScriptDialogsUseTheProgramCaptionAndConfirmGivesNoChoice) {
  AppHarness app;
  app.WritePage("selectSong.html", Page("",
                                        "report('ready'); setTimeout(function () { alert('Hello');"
                                        "report('confirm=' + confirm('Sure?')); }, 50);"));
  app.Start();
  ASSERT_TRUE(app.WaitForValue("ZBName", "ready", 30000));
  std::string box = app.FindWindow("  Zimbrel");
  ASSERT_FALSE(box.empty());
  app.Keys(box, {"Return"});
  app.WaitUntil([&] { return app.FindWindow("  Zimbrel", 200) != box; }, 5000);
  std::string box2 = app.FindWindow("  Zimbrel");
  ASSERT_FALSE(box2.empty());
  app.Keys(box2, {"Return"});
  EXPECT_TRUE(app.WaitForValue("ZBName", "ready|confirm=false", 10000)) << app.Value("ZBName");
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  EXPECT_TRUE(app.WaitExit(20000));
}

TEST(ShellUi, PageDialogsReturnValuesNestAndAreCentred) {
  AppHarness app;
  app.WritePage("dlg.html", Page("", R"(
var arg = x.ZBL_GetDialogArgument();
x.ZBL_SetZBPhone('size ' + innerWidth + 'x' + innerHeight + ' ' + arg);
if (arg === 'close') { x.ZBL_SetDialogRetValue('ret-close'); x.ZBL_CloseWindow(); }
if (arg === 'esc') { x.ZBL_SetDialogRetValue('last-set'); }
if (arg === 'inner') { x.ZBL_SetDialogRetValue('from-inner'); x.ZBL_CloseWindow(); }
if (arg === 'outer') {
  setTimeout(function () {
    var r = x.ZBL_ShowModalDialog('Inner', base + 'dlg.html', 'inner', 0, 0, 200, 100);
    x.ZBL_SetZBPhone('outer got ' + r + ' ' + x.ZBL_GetDialogArgument());
    x.ZBL_CloseWindow();
  }, 50);
}
)"));
  app.WritePage("selectSong.html", Page("", R"(
report('ready');
setTimeout(function () {
  report(x.ZBL_ShowModalDialog('One', base + 'dlg.html', 'close', 5, 5, 300, 200));
  report(x.ZBL_GetDialogArgument());
  report(x.ZBL_ShowModalDialog('Two', base + 'dlg.html', 'esc', 900, 900, 300, 200));
  report(x.ZBL_ShowModalDialog('Three', base + 'dlg.html', 'untouched', 0, 0, 300, 200));
  report(x.ZBL_ShowModalDialog('Outer', base + 'dlg.html', 'outer', 0, 0, 400, 300));
}, 50);
)"));
  app.Start();
  ASSERT_TRUE(app.WaitUntil(
      [&] { return app.Value("ZBName").find("ret-close|ret-close") != std::string::npos; }, 30000))
      << app.Value("ZBName");
  // The second dialog waits for Esc: 300 x 200 asked, 302 x 202 of client,
  // centred on the main window whatever left and top were.
  std::string two = app.FindWindow("  Two");
  ASSERT_FALSE(two.empty());
  ASSERT_TRUE(app.WaitForValue("ZBPhone", "size 302x202 esc", 10000)) << app.Value("ZBPhone");
  auto gm = AppHarness::WindowGeometry(app.FindWindow(kMainTitle));
  auto gd = AppHarness::WindowGeometry(two);
  EXPECT_NEAR(gd.x + gd.width / 2, gm.x + gm.width / 2, 2);
  EXPECT_NEAR(gd.y + gd.height / 2, gm.y + gm.height / 2, 2);
  // The main window ignores close requests while the dialog runs.
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(app.Running());
  app.Keys(two, {"Escape"});
  // The third dialog is closed from the title bar and hands back its argument.
  std::string three = app.FindWindow("  Three");
  ASSERT_FALSE(three.empty());
  AppHarness::RequestClose(three);
  EXPECT_TRUE(app.WaitUntil(
      [&] {
        return app.Value("ZBName").find("|outer got") != std::string::npos ||
               app.Value("ZBName").find("from-inner") != std::string::npos;
      },
      30000))
      << app.Value("ZBName");
  EXPECT_EQ(app.Value("ZBName"), "ready|ret-close|ret-close|last-set|untouched|from-inner");
  EXPECT_EQ(app.Value("ZBPhone"), "outer got from-inner from-inner");
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  EXPECT_TRUE(app.WaitExit(20000));
}

TEST(ShellUi, MessageBoxesFollowTheStyleBitsAndReturnButtonIds) {
  AppHarness app;
  app.WritePage("selectSong.html", Page("", R"(
report('ready');
setTimeout(function () {
  var types = [0, 1, 2, 0x33, 4, 0x104, 5, 6, 4];
  var r = [];
  for (var i = 0; i < types.length; i++) r.push(x.ZBL_MessageBox('Box ' + i, types[i]));
  report(r.join(','));
}, 50);
)"));
  app.Start();
  ASSERT_TRUE(app.WaitForValue("ZBName", "ready", 30000));
  const std::vector<std::vector<std::string>> answers = {
      {"Return"}, {"Escape"}, {"alt+r"}, {"alt+n"},          {"alt+y"},
      {"Return"}, {"Escape"}, {"alt+o"}, {"Escape", "alt+y"}};
  std::string prev;
  for (size_t i = 0; i < answers.size(); ++i) {
    std::string box;
    ASSERT_TRUE(app.WaitUntil(
        [&] {
          box = app.FindWindow("Zimbrel", 200);
          return !box.empty() && box != prev;
        },
        10000))
        << "box " << i << " prev " << prev << " now " << box
        << " all: " << AppHarness::Xdo({"search", "--name", "Zimbrel"});
    if (answers[i].size() == 2) {
      app.Keys(box, {answers[i][0]});  // Esc cannot close a Yes/No box
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      EXPECT_EQ(app.FindWindow("Zimbrel", 200), box);
      app.Keys(box, {answers[i][1]});
    } else {
      app.Keys(box, answers[i]);
    }
    prev = box;
  }
  EXPECT_TRUE(app.WaitForValue("ZBName", "ready|1,2,4,7,6,7,2,11,6", 10000)) << app.Value("ZBName");
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  EXPECT_TRUE(app.WaitExit(20000));
}

TEST(ShellUi, FileChooserCancelledGivesEmptyAndAChosenFileItsPath) {
  AppHarness app;
  std::string song = app.ModuleDir() + "/../My Song.MP3";
  std::ofstream(song) << "ID3";
  song = std::filesystem::canonical(song).string();
  app.WritePage("selectSong.html", Page("", R"(
report('ready');
setTimeout(function () {
  report('[' + x.ZBL_SelectMediaFile() + ']');
  report('[' + x.ZBL_SelectMediaFile() + ']');
}, 50);
)"));
  app.Start();
  ASSERT_TRUE(app.WaitForValue("ZBName", "ready", 30000));
  const char kTitle[] = "Select audio file to use on mobile phone as ringtone";
  std::string dlg = app.FindWindow(kTitle);
  ASSERT_FALSE(dlg.empty());
  app.Keys(dlg, {"Escape"});
  ASSERT_TRUE(app.WaitForValue("ZBName", "ready|[]", 10000));
  std::string dlg2;
  ASSERT_TRUE(app.WaitUntil(
      [&] {
        dlg2 = app.FindWindow(kTitle, 200);
        return !dlg2.empty() && dlg2 != dlg;
      },
      10000));
  app.Keys(dlg2, {"ctrl+l"});
  AppHarness::Xdo({"type", "--delay", "20", song});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  app.Keys(dlg2, {"Return"});
  EXPECT_TRUE(app.WaitForValue("ZBName", "ready|[]|[" + song + "]", 10000)) << app.Value("ZBName");
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  EXPECT_TRUE(app.WaitExit(20000));
}

TEST(ShellUi, ContextMenuIsTheProgramsExceptInFieldsAndGoesHome) {
  AppHarness app;
  TempDir xdg;
  // A default web browser that records what it was asked to open.
  std::string record = xdg / "browser-args.txt";
  std::filesystem::create_directories(xdg / "data/applications");
  std::filesystem::create_directories(xdg / "config");
  {
    std::ofstream s(xdg / "fake-browser");
    s << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << record << ".tmp' && mv '" << record << ".tmp' '"
      << record << "'\n";
  }
  std::filesystem::permissions(xdg / "fake-browser", std::filesystem::perms::owner_all);
  std::ofstream(xdg / "data/applications/fake-browser.desktop")
      << "[Desktop Entry]\nType=Application\nName=Fake Browser\nExec=" << xdg / "fake-browser"
      << " %u\nMimeType=x-scheme-handler/http;\n";
  std::ofstream(xdg / "config/mimeapps.list")
      << "[Default Applications]\nx-scheme-handler/http=fake-browser.desktop\n";

  app.WritePage(
      "selectSong.html",
      Page("<input id=f value=hello><div style='height:380px'></div>",
           "document.getElementById('f').addEventListener('select', function (e) {"
           "  report('selected ' + e.target.selectionStart + '-' + e.target.selectionEnd);"
           "}); report('ready');"));
  app.Start({}, {{"XDG_DATA_HOME", xdg / "data"},
                 {"XDG_CONFIG_HOME", xdg / "config"},
                 {"ZIMBREL_SERVICE_HOST", "example.test"}});
  ASSERT_TRUE(app.WaitForValue("ZBName", "ready", 30000));
  std::string id = app.FindWindow(kMainTitle);
  AppHarness::Xdo({"windowfocus", "--sync", id});
  ViewOrigin v = MainViewOrigin(id);
  // In the text field: WebKit's edit menu ("Select All").
  Click(v.x + 300, v.y + 60, 3);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  AppHarness::Xdo({"key", "a"});
  EXPECT_TRUE(app.WaitForValue("ZBName", "ready|selected 0-5", 10000)) << app.Value("ZBName");
  AppHarness::Xdo({"key", "Escape"});
  // Elsewhere: the program's menu; "About Zimbrel" opens the about dialog.
  Click(v.x + 300, v.y + 400, 3);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  AppHarness::Xdo({"key", "a"});
  std::string about = app.FindWindow("  About Zimbrel");
  ASSERT_FALSE(about.empty());
  app.Keys(about, {"Escape"});
  ASSERT_TRUE(app.WaitUntil([&] { return app.FindWindow("  About Zimbrel", 100).empty(); }, 10000));
  // "Go to Homepage" opens the default browser on the redirect URL.
  Click(v.x + 300, v.y + 400, 3);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  AppHarness::Xdo({"key", "g"});
  ASSERT_TRUE(app.WaitUntil([&] { return std::filesystem::exists(record); }, 10000));
  std::ifstream r(record);
  std::string url;
  std::getline(r, url);
  EXPECT_EQ(url, "http://example.test/redir.php?ver=260&aff=2&where=homepage");
  AppHarness::RequestClose(id);
  EXPECT_TRUE(app.WaitExit(20000));
}

}  // namespace
}  // namespace zb::testing
