// The program on each desktop it is tested on: the X display of the test run
// (Xvfb), GNOME's mutter, sway and KDE's KWin, the last three headless Wayland compositors
// of the test's own (see desktop.h). Page dialogs draw their page at the
// view's size from the first frame and sit on their owner; keys work with
// whatever time the compositor stamps them with (wtype stamps 0); boxes, the
// file chooser and the whole ringtone flow work from the keyboard; the
// title-bar close and the display going away end the program as a close does.
//
// The Wayland runs need an ordinary user (sway refuses root):
// scripts/test-wayland.sh runs them with ZIMBREL_WAYLAND_TESTS=1. Screenshots
// go to ShotDir(), named after the desktop.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "app/app_harness.h"
#include "app/desktop.h"

namespace zb::testing {
namespace {
namespace fs = std::filesystem;

constexpr unsigned kCyan = 0x00ffff, kMagenta = 0xff00ff, kGreen = 0x00ff00;
const char kMainTitle[] = "Zimbrel - The Ringtone Creator";

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

class OnDesktop : public ::testing::TestWithParam<DesktopKind> {
 protected:
  void SetUp() override {
    if (GetParam() == DesktopKind::kX11) {
      if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
    } else if (!std::getenv("ZIMBREL_WAYLAND_TESTS")) {
      GTEST_SKIP() << "Wayland runs: scripts/test-wayland.sh (as an ordinary user)";
    } else if (GetParam() == DesktopKind::kKWin) {
      for (const std::string& tool :
           {std::string("/usr/bin/kwin_wayland"), BuildDir() + "/tests/zimbrel-fake-input"})
        if (!fs::exists(tool))
          GTEST_SKIP() << tool << " is missing (kwin-wayland, plasma-wayland-protocols)";
    }
    m_desktop = std::make_unique<Desktop>(GetParam());
    ASSERT_TRUE(m_desktop->Ok()) << m_desktop->Log();
  }
  bool Wayland() const { return GetParam() != DesktopKind::kX11; }
  // Where the main window's 760 x 520 view is on the screen, once a
  // screenshot (saved as `name`) shows all of its cyan page (empty when it
  // never does).
  Box MainView(AppHarness& app, const std::string& name) {
    Box view;
    app.WaitUntil(
        [&] {
          view = Picture(Shot(name)).Bounds(kCyan);
          return view.width == 760 && view.height == 520;
        },
        20000);
    return view.width == 760 && view.height == 520 ? view : Box{};
  }
  // Waits until the window titled `title` has the keyboard focus: sway says
  // which window has it; elsewhere the window's page says (`pageSaysSo`).
  bool WaitForFocus(AppHarness& app, const std::string& title,
                    const std::function<bool()>& pageSaysSo) {
    if (GetParam() == DesktopKind::kSway)
      return app.WaitUntil([&] { return m_desktop->FocusedTitle() == title; }, 20000);
    return app.WaitUntil(pageSaysSo, 20000);
  }
  Desktop& Session() { return *m_desktop; }
  std::string Shot(const std::string& name) {
    std::string path = ShotDir() + "/" + m_desktop->Name() + "-" + name + ".png";
    EXPECT_TRUE(m_desktop->Screenshot(path)) << path;
    return path;
  }

  std::unique_ptr<Desktop> m_desktop;
};

// Marks a dialog page: a magenta frame on the edges of its viewport and a
// green 100 x 100 square 20 px in, drawn above the page; the page reports its
// viewport size when its script runs and in its first frame after load, and
// whether its window has the keyboard focus (files of their own, so that a
// page's content security policy lets them in).
const char kMarksCss[] =
    "#zb-frame{position:fixed;left:0;top:0;right:0;bottom:0;border:4px solid #ff00ff;"
    "box-sizing:border-box;pointer-events:none;z-index:2147483647}"
    "#zb-square{position:fixed;left:20px;top:20px;width:100px;height:100px;"
    "background:#00ff00;pointer-events:none;z-index:2147483647}";
const char kMarksJs[] = R"((function () {
  var x = window.external, name = location.pathname.replace(/^.*\//, '');
  var sizes = ['s' + innerWidth + 'x' + innerHeight];
  ['zb-frame', 'zb-square'].forEach(function (id) {
    var d = document.createElement('div'); d.id = id; document.body.appendChild(d);
  });
  function report() {
    x.ZBL_SetZBPhone(name + '|' + sizes.join(' ') + (document.hasFocus() ? ' focus' : ''));
  }
  addEventListener('load', function () {
    requestAnimationFrame(function () { requestAnimationFrame(function () {
      sizes.push('f' + innerWidth + 'x' + innerHeight); report();
    }); });
  });
  addEventListener('focus', function () { if (sizes.length > 1) report(); });
})();
)";

void MarkPage(AppHarness& app, const std::string& page) {
  std::string html = Slurp(app.ModuleDir() + "/res/" + page);
  auto end = html.rfind("</body>");
  ASSERT_NE(end, std::string::npos) << page;
  html.insert(end, "<link rel=stylesheet href=zb-marks.css><script src=zb-marks.js></script>");
  app.WritePage(page, html);
  app.WritePage("zb-marks.css", kMarksCss);
  app.WritePage("zb-marks.js", kMarksJs);
}

// A start page in one colour that reports on ZBName; `script` runs after load.
std::string CyanPage(const std::string& script, const std::string& body = "") {
  return "<!doctype html><html><head><meta charset=utf-8><style>html,body{margin:0;height:100%;"
         "background:#00ffff}input{width:700px;font-size:30px}</style></head><body>" +
         body +
         "<script>var x = window.external;"
         "addEventListener('load', function () { setTimeout(function () {\n" +
         script + "\n}, 300); });</script></body></html>";
}

TEST_P(OnDesktop, EveryPageDialogDrawsItsPageAtTheViewSizeAndSitsOnItsOwner) {
  AppHarness app;
  struct Dialog {
    const char* page;
    const char* title;
    int width, height;  // the view: the page's size plus 2
  } dialogs[] = {
      {"aboutBox.html", "About Zimbrel", 249, 272},
      {"helpContact.html", "Zimbrel - FAQ and Contact us", 722, 522},
      {"helpCompatibility.html", "Zimbrel - Phone Compatibility Test", 702, 522},
      {"helpUsage.html", "Zimbrel - How to use the application", 702, 522},
  };
  for (const Dialog& d : dialogs) MarkPage(app, d.page);
  // The page opens the dialogs once Return is pressed, after the test has
  // seen where the main window's view is (a dialog and its shadow hide most
  // of it).
  app.WritePage("selectSong.html", CyanPage(R"(
var started = false;
function ready() { if (!started) x.ZBL_SetZBName(document.hasFocus() ? 'ready focus' : 'ready'); }
addEventListener('focus', ready); ready();
document.addEventListener('keydown', function (e) {
  if (e.key !== 'Enter' || started) return;
  started = true;
  setTimeout(function () {
    x.ZBL_ShowAboutBox(); x.ZBL_SetZBName('closed 1');
    x.ZBL_ShowContact(); x.ZBL_SetZBName('closed 2');
    x.ZBL_ShowCompatibility(); x.ZBL_SetZBName('closed 3');
    x.ZBL_ShowUsage(); x.ZBL_SetZBName('closed 4');
  }, 0);
});)"));
  app.Start();
  ASSERT_TRUE(app.WaitUntil([&] { return app.Value("ZBName").rfind("ready", 0) == 0; }, 30000))
      << app.Output();
  Box main = MainView(app, "0-main");
  ASSERT_EQ(main.width, 760);
  if (Wayland()) {
    ASSERT_TRUE(
        WaitForFocus(app, kMainTitle, [&] { return app.Value("ZBName") == "ready focus"; }));
    Session().Keys({"Return"});
  } else {
    app.Keys(app.FindWindow(kMainTitle), {"Return"});
  }
  int n = 0;
  for (const Dialog& d : dialogs) {
    SCOPED_TRACE(d.page);
    ++n;
    const std::string size = std::to_string(d.width) + "x" + std::to_string(d.height);
    // The page's viewport has the view's size when its script first runs and
    // in its first frame.
    ASSERT_TRUE(app.WaitUntil(
        [&] {
          return app.Value("ZBPhone").rfind(std::string(d.page) + "|s", 0) == 0 &&
                 app.Value("ZBPhone").find(" f") != std::string::npos;
        },
        60000))
        << app.Value("ZBPhone") << app.Output();
    std::string sizes = app.Value("ZBPhone").substr(std::strlen(d.page) + 1);
    EXPECT_EQ(sizes.substr(0, sizes.find(" focus")), "s" + size + " f" + size);

    // On the screen: the page fills its view at its own scale (the frame is
    // the view, the square 100 x 100 px), and the dialog is centred across
    // its owner, the main window. Vertically X11 and sway centre it; mutter
    // puts an owned dialog a third of the way down the room its owner
    // leaves (as GNOME does). Both title bars have the same height, so the
    // views tell where the windows are: the main window's view is inset by
    // 1 px.
    Box frame, square;
    std::string shot;
    for (int attempt = 0; attempt < 5; ++attempt) {  // the frame may still be on its way
      SleepMs(attempt == 0 ? 300 : 1000);
      shot = Shot(std::to_string(n) + "-" + d.page);
      Picture pic(shot);
      ASSERT_TRUE(pic.Ok()) << shot;
      frame = pic.Bounds(kMagenta);
      square = pic.Bounds(kGreen);
      if (frame.width == d.width && frame.height == d.height && square.width == 100) break;
    }
    EXPECT_EQ(frame.width, d.width) << shot;
    EXPECT_EQ(frame.height, d.height) << shot;
    EXPECT_EQ(square.width, 100) << shot;
    EXPECT_EQ(square.height, 100) << shot;
    EXPECT_EQ(square.x - frame.x, 20) << shot;
    EXPECT_EQ(square.y - frame.y, 20) << shot;
    EXPECT_NEAR(frame.Cx2(), main.Cx2(), 4) << shot;
    if (GetParam() == DesktopKind::kMutter)
      EXPECT_NEAR(frame.y, main.y - 1 + (522 - d.height) / 3, 2) << shot;
    else
      EXPECT_NEAR(frame.Cy2(), main.Cy2(), 4) << shot;

    // Esc closes it.
    if (Wayland()) {
      ASSERT_TRUE(
          WaitForFocus(app, std::string("  ") + d.title,
                       [&] { return app.Value("ZBPhone").find(" focus") != std::string::npos; }))
          << "the dialog never had the keyboard focus: " << app.Value("ZBPhone")
          << Session().FocusedTitle();
      Session().Keys({"Escape"});
    } else {
      app.Keys(app.FindWindow(std::string("  ") + d.title), {"Escape"});
    }
    ASSERT_TRUE(app.WaitForValue("ZBName", "closed " + std::to_string(n), 20000))
        << app.Value("ZBName");
  }
  app.WaitExit(0);
}

// A help viewer that records each start (the default for .chm files), and
// the environment that makes it the default.
struct HelpViewer {
  TempDir xdg;
  std::string log = xdg / "starts.txt";
  HelpViewer() {
    fs::create_directories(xdg / "data/applications");
    fs::create_directories(xdg / "config");
    std::string script = xdg / "fake-viewer";
    std::ofstream(script) << "#!/bin/sh\necho start >> '" << log << "'\n";
    fs::permissions(script, fs::perms::owner_all);
    std::ofstream(xdg / "data/applications/fake-viewer.desktop")
        << "[Desktop Entry]\nType=Application\nName=Fake Viewer\nExec=" << script
        << " %f\nMimeType=application/vnd.ms-htmlhelp;\n";
    std::ofstream(xdg / "config/mimeapps.list")
        << "[Default Applications]\napplication/vnd.ms-htmlhelp=fake-viewer.desktop\n";
  }
  std::map<std::string, std::string> Env() const {
    return {{"XDG_DATA_HOME", xdg / "data"}, {"XDG_CONFIG_HOME", xdg / "config"}};
  }
  int Starts() const {
    std::string s = Slurp(log);
    return static_cast<int>(std::count(s.begin(), s.end(), '\n'));
  }
};

TEST_P(OnDesktop, F1OpensHelpOncePerPressAndBrowserKeysAreSwallowedWhateverTheirTime) {
  AppHarness app;
  HelpViewer viewer;
  app.WriteFile("help.chm", "ITSF");
  app.WritePage("selectSong.html", CyanPage(R"(
var n = parseInt(x.ZBL_GetZBNVCheck(), 10); x.ZBL_SetZBNVCheck(String(n + 1));
var f = document.getElementById('f'); f.focus();
function ready() { x.ZBL_SetZBName(document.hasFocus() ? 'ready focus' : 'ready'); }
addEventListener('focus', ready); ready();
var keys = [];
document.addEventListener('keydown', function (e) {
  if (/^(Control|Shift|Alt|Meta)$/.test(e.key)) return;
  keys.push((e.ctrlKey ? 'C-' : '') + e.key); x.ZBL_SetZBNetwork(keys.join(','));
});)",
                                            "<input id=f>"));
  app.Start({}, viewer.Env());
  std::string main;
  if (Wayland()) {
    ASSERT_TRUE(app.WaitUntil([&] { return app.Value("ZBName").rfind("ready", 0) == 0; }, 30000));
    ASSERT_TRUE(WaitForFocus(app, kMainTitle, [&] { return app.Value("ZBName") == "ready focus"; }))
        << app.Value("ZBName");
  } else {
    ASSERT_TRUE(app.WaitUntil([&] { return app.Value("ZBName").rfind("ready", 0) == 0; }, 30000));
    main = app.FindWindow(kMainTitle);
    ASSERT_TRUE(AppHarness::FocusWindow(main));
  }
  // Each press opens the help once and goes on to the page.
  for (int press = 1; press <= 2; ++press) {
    Session().Keys({"F1"});
    ASSERT_TRUE(app.WaitUntil([&] { return viewer.Starts() == press; }, 15000))
        << "press " << press << ": " << viewer.Starts() << " starts";
    ASSERT_TRUE(app.WaitForValue("ZBNetwork", press == 1 ? "F1" : "F1,F1", 10000))
        << app.Value("ZBNetwork");
  }
  Session().Keys({"F5", "ctrl+p", "ctrl+r", "ctrl+o", "ctrl+n", "ctrl+f", "ctrl+s", "ctrl+u", "a",
                  "b", "ctrl+a", "ctrl+c", "BackSpace", "ctrl+v", "z"});
  EXPECT_TRUE(app.WaitForValue("ZBNetwork", "F1,F1,a,b,C-a,C-c,Backspace,C-v,z", 15000))
      << app.Value("ZBNetwork");
  SleepMs(500);
  EXPECT_EQ(viewer.Starts(), 2);
  EXPECT_EQ(app.Value("ZBNVCheck"), "1") << "the page was reloaded";
  app.WaitExit(0);
}

// Waits until a window covers part of the main view (`covered`) or until the
// view is whole again.
bool WaitCovered(Desktop& desktop, AppHarness& app, Box view, bool covered) {
  const long whole = static_cast<long>(view.width) * view.height;
  return app.WaitUntil(
      [&] {
        std::string path = ShotDir() + "/" + desktop.Name() + "-covered.png";
        desktop.Screenshot(path);
        long cyan = Picture(path).Count(kCyan, view);
        return covered ? cyan < whole * 97 / 100 : cyan == whole;
      },
      30000);
}

// Boxes and the file chooser, each opened by F2 on the page once its window
// has the focus back. Under mutter and KWin they are answered with keys. Under sway
// they are closed through the compositor (the title-bar close): each run of
// wtype brings a keymap of its own, and GTK's key bindings (the boxes'
// Return and Esc, unlike the keys a page or a page dialog reads) look keys up
// in the keymap they met first.
TEST_P(OnDesktop, MessageBoxesAndTheFileChooserAnswerTheKeyboard) {
  if (!Wayland()) GTEST_SKIP() << "on X11: ShellUi";
  const bool keys = GetParam() != DesktopKind::kSway;
  AppHarness app;
  std::string song = app.ModuleDir() + "/../My Song.MP3";
  std::ofstream(song) << "ID3";
  song = fs::canonical(song).string();
  const std::string steps = keys ? "[function () { return x.ZBL_MessageBox('Yes or no?', 4); },"
                                   " function () { return x.ZBL_MessageBox('OK or Cancel?', 1); },"
                                   " function () { return '[' + x.ZBL_SelectMediaFile() + ']'; },"
                                   " function () { return '[' + x.ZBL_SelectMediaFile() + ']'; }]"
                                 : "[function () { return x.ZBL_MessageBox('OK or Cancel?', 1); },"
                                   " function () { return x.ZBL_MessageBox('Just OK', 0); },"
                                   " function () { return '[' + x.ZBL_SelectMediaFile() + ']'; }]";
  // F2 opens the first; each next one opens half a second after the page's
  // window has the focus back. The page says which it is about to open (it
  // cannot speak while it waits in the call).
  app.WritePage("selectSong.html",
                CyanPage("var r = [], steps = " + steps + R"(, k = 0, busy = false;
function next() {
  if (busy || !steps.length || !document.hasFocus()) return;
  busy = true;
  x.ZBL_SetZBName(r.concat(['opening ' + (++k)]).join('|'));
  r.push(steps.shift()());
  x.ZBL_SetZBName(r.join('|'));
  busy = false;
}
addEventListener('focus', function () { if (k > 0) setTimeout(next, 500); });
document.addEventListener('keydown', function (e) { if (e.key === 'F2' && k === 0) setTimeout(next, 0); });
x.ZBL_SetZBName(document.hasFocus() ? 'ready focus' : 'ready');
addEventListener('focus', function () { if (k === 0) x.ZBL_SetZBName('ready focus'); });)"));
  app.Start();
  ASSERT_TRUE(app.WaitUntil([&] { return app.Value("ZBName").rfind("ready", 0) == 0; }, 30000))
      << app.Output();
  Box view = MainView(app, "boxes-0");
  ASSERT_EQ(view.width, 760);
  ASSERT_TRUE(WaitForFocus(app, kMainTitle, [&] { return app.Value("ZBName") == "ready focus"; }))
      << app.Value("ZBName");
  Session().Keys({"F2"});
  const std::string chooser = "Select audio file to use on mobile phone as ringtone";
  struct Answer {
    std::string title;
    std::vector<std::string> keys;  // none: the compositor closes it
    std::string typed;
    std::string expected;
  };
  std::vector<Answer> answers;
  if (keys)
    answers = {{"Zimbrel", {"alt+n"}, "", "7"},
               {"Zimbrel", {"Escape"}, "", "7|2"},
               {chooser, {"Escape"}, "", "7|2|[]"},
               {chooser, {"ctrl+l"}, song, "7|2|[]|[" + song + "]"}};
  else
    answers = {{"Zimbrel", {}, "", "2"}, {"Zimbrel", {}, "", "2|1"}, {chooser, {}, "", "2|1|[]"}};
  int n = 0;
  std::string done;
  for (const Answer& a : answers) {
    SCOPED_TRACE(a.expected);
    ++n;
    const std::string opening = (done.empty() ? "" : done + "|") + "opening " + std::to_string(n);
    ASSERT_TRUE(app.WaitForValue("ZBName", opening, 20000)) << app.Value("ZBName");
    done = a.expected;
    ASSERT_TRUE(WaitCovered(Session(), app, view, true)) << "no window over the main window";
    // (The page cannot say: it waits in its call.)
    ASSERT_TRUE(WaitForFocus(app, a.title, [] { return true; })) << Session().FocusedTitle();
    SleepMs(300);
    Shot("box-" + std::to_string(n));
    if (a.keys.empty()) Session().CloseFocusedWindow();
    Session().Keys(a.keys);
    if (!a.typed.empty()) {
      SleepMs(300);
      Session().Type(a.typed);
      SleepMs(300);
      Session().Keys({"Return"});
    }
    // (The page may already be on its way to the next one.)
    ASSERT_TRUE(app.WaitUntil(
        [&] {
          std::string v = app.Value("ZBName");
          return v == a.expected || v.rfind(a.expected + "|", 0) == 0;
        },
        15000))
        << app.Value("ZBName");
  }
  app.WaitExit(0);
}

TEST_P(OnDesktop, ASongReachesThePhoneWithTheKeyboard) {
  if (!Wayland()) GTEST_SKIP() << "on X11: Flow";
  Service service;
  ASSERT_GT(service.Port(), 0);
  TempDir music;
  const std::string song = music / "My Song.wav";
  ASSERT_TRUE(MakeSong(song, 4.0));

  // The start page's console lines (WebKit prints them on standard error,
  // which the program inherits from the test while it starts).
  AppHarness app;
  TempDir logDir;
  const std::string logPath = logDir / "console.txt";
  int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int saved = ::dup(2);
  ::dup2(log, 2);
  app.Start({song}, {{"ZIMBREL_SERVICE_HOST", service.Host()}, {"ZIMBREL_PAGE_CONSOLE", "1"}});
  ::dup2(saved, 2);
  ::close(saved);
  ::close(log);
  size_t cursor = 0;
  auto wait = [&](const std::string& what, int timeoutMs = 30000) {
    return app.WaitUntil(
        [&] {
          std::string out = Slurp(logPath);
          size_t at = out.find("zimbrel-page: " + what, cursor);
          if (at == std::string::npos) return false;
          cursor = at + 1;
          return true;
        },
        timeoutMs);
  };
  ASSERT_TRUE(wait("view viewSong", 60000)) << Slurp(logPath);
  SleepMs(500);  // the new window takes the keyboard focus
  ASSERT_TRUE(WaitForFocus(app, kMainTitle, [] { return true; })) << Session().FocusedTitle();
  Session().Keys({"Return"});
  // The part that rings: Return on it makes the ringtone.
  ASSERT_TRUE(wait("part ready ", 60000)) << Slurp(logPath);
  Session().Keys({"Return"});
  ASSERT_TRUE(wait("view viewMake")) << Slurp(logPath);
  ASSERT_TRUE(wait("view viewReady", 120000)) << Slurp(logPath);
  Shot("flow-ready");
  Session().Keys({"Return"});
  ASSERT_TRUE(wait("view viewProfile")) << Slurp(logPath);
  Session().Type("Ann Example");
  Session().Keys({"Tab"});
  Session().Type("+44 7700 900123");
  Session().Keys({"Tab"});
  Session().Type("Tellwave");
  Session().Keys({"Return"});
  ASSERT_TRUE(wait("view viewSend")) << Slurp(logPath);
  Session().Keys({"Return"});
  ASSERT_TRUE(wait("send done", 60000)) << Slurp(logPath);
  Shot("flow-sent");
  EXPECT_EQ(service.Deliveries("447700900123").size(), 1u);
  EXPECT_EQ(app.Value("ZBName"), "Ann Example");
  EXPECT_EQ(app.Value("ZBPhone"), "+447700900123");
  EXPECT_EQ(app.Value("ZBNetwork"), "Tellwave");

  Session().CloseFocusedWindow();  // the title-bar close
  int code = -1;
  EXPECT_TRUE(app.WaitExit(20000, &code));
  EXPECT_EQ(code, 0);
  ExpectTheSettingsTraceOfAnEnd(app.Output());
}

// The title bar's buttons under GNOME and KDE: minimise hides the main window, close
// ends the program as a close does. The buttons are found on the screen: the
// dark glyphs in the middle row of the title bar, from the right: close,
// minimise, the menu.
std::vector<int> TitleBarButtons(const Picture& pic, Box view) {
  const int middle = view.y - 1 - 24;  // the title bar is 47 px above the view
  auto darkColumn = [&](int x) {
    for (int y = middle - 9; y <= middle + 9; ++y) {
      unsigned rgb = pic.At(x, y);
      if (((rgb >> 16) & 0xff) + ((rgb >> 8) & 0xff) + (rgb & 0xff) < 3 * 110) return true;
    }
    return false;
  };
  std::vector<int> centres;
  int right = -1, gap = 0;
  for (int x = view.x + view.width; x >= view.x - 1; --x) {
    if (darkColumn(x)) {
      if (right < 0) right = x;
      gap = 0;
    } else if (right >= 0 && ++gap > 6) {
      centres.push_back((x + gap + right) / 2);
      right = -1;
    }
  }
  return centres;
}

TEST_P(OnDesktop, TitleBarMinimiseAndCloseButtons) {
  if (GetParam() != DesktopKind::kMutter && GetParam() != DesktopKind::kKWin)
    GTEST_SKIP() << "a pointer: mutter and KWin (X11: TitleBar)";
  for (const char* button : {"minimise", "close"}) {
    SCOPED_TRACE(button);
    AppHarness app;
    app.WritePage("selectSong.html", CyanPage("x.ZBL_SetZBPhone('+1 555 0100');"
                                              "x.ZBL_SetZBName('ready');"));
    app.Start();
    ASSERT_TRUE(app.WaitForValue("ZBName", "ready", 30000)) << app.Output();
    const std::string name = std::string("title-bar-") + button;
    Box view = MainView(app, name);
    ASSERT_EQ(view.width, 760);
    const std::string shot = ShotDir() + "/" + Session().Name() + "-" + name + ".png";
    std::vector<int> buttons = TitleBarButtons(Picture(shot), view);
    ASSERT_GE(buttons.size(), 2u) << shot;
    const int y = view.y - 1 - 24;
    if (std::string(button) == "minimise") {
      Session().Click(buttons[1], y);
      EXPECT_TRUE(app.WaitUntil(
          [&] { return Picture(Shot("title-bar-minimised")).Count(kCyan) == 0; }, 15000))
          << "the main window is still on the screen";
      EXPECT_TRUE(app.Running());
      app.WaitExit(0);
    } else {
      Session().Click(buttons[0], y);
      int code = -1;
      EXPECT_TRUE(app.WaitExit(20000, &code));
      EXPECT_EQ(code, 0);
      ExpectTheSettingsTraceOfAnEnd(app.Output());
    }
  }
}

// The compositor ends while a page dialog is open over a transcode: the
// program ends as a close does, with exit status 0, the settings written
// back, the transcoder ended, its partial output and the page bridge's
// socket folder removed.
TEST_P(OnDesktop, TheDisplayGoingAwayEndsTheProgramAsACloseDoes) {
  if (!Wayland()) GTEST_SKIP() << "the test ends the compositor";
  AppHarness app;
  TempDir tmp;
  std::string pidFile = app.ModuleDir() + "/ffmpeg.pid";
  FakeTranscoder(app, pidFile);
  app.WriteFile("song.wav", "RIFF");
  app.WritePage("inner.html",
                "<!doctype html><script>window.external.ZBL_SetZBPhone('inner');"
                "</script>");
  app.WritePage("selectSong.html", CyanPage(R"(
var dir = decodeURIComponent(location.pathname).replace(/res\/[^/]*$/, '');
x.ZBL_SetZBName('transcode ' + x.ZBL_TranscodeMedia(dir + 'song.wav', dir + 'res/tmp/ring.mp3'));
x.ZBL_ShowModalDialog('Inner', dir + 'res/inner.html', 'arg', 0, 0, 300, 200);)"));
  app.Start({}, {{"TMPDIR", tmp.Path()}});
  ASSERT_TRUE(app.WaitForValue("ZBName", "transcode true", 30000)) << app.Output();
  ASSERT_TRUE(app.WaitForValue("ZBPhone", "inner", 30000)) << app.Output();
  ASSERT_TRUE(app.WaitUntil([&] { return fs::exists(pidFile); }, 10000));
  pid_t ffmpeg = std::atoi(Slurp(pidFile).c_str());
  ASSERT_TRUE(fs::exists(app.WorkDir() + "/ring.mp3"));
  // The bridge's folder (with its socket) is in the session's runtime
  // folder (or, were that not private, in TMPDIR).
  auto bridgeFolders = [&] {
    int n = 0;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    for (const std::string& dir : {tmp.Path(), std::string(runtime ? runtime : "")}) {
      std::error_code ec;
      for (auto& e : fs::directory_iterator(dir, ec))
        if (e.path().filename().string().rfind("zimbrel-", 0) == 0 &&
            fs::exists(e.path() / "bridge"))
          ++n;
    }
    return n;
  };
  ASSERT_EQ(bridgeFolders(), 1);

  Session().KillCompositor();
  int code = -1;
  ASSERT_TRUE(app.WaitExit(30000, &code)) << app.Output();
  EXPECT_EQ(code, 0);
  ExpectTheSettingsTraceOfAnEnd(app.Output());
  char st = ProcessState(ffmpeg);
  EXPECT_TRUE(st == 0 || st == 'Z') << "the transcoder runs on: " << st;
  EXPECT_FALSE(fs::exists(app.WorkDir() + "/ring.mp3"));
  EXPECT_EQ(bridgeFolders(), 0);
}

INSTANTIATE_TEST_SUITE_P(Desktops, OnDesktop,
                         ::testing::Values(DesktopKind::kX11, DesktopKind::kMutter,
                                           DesktopKind::kSway, DesktopKind::kKWin),
                         [](const ::testing::TestParamInfo<DesktopKind>& info) {
                           return std::string(DesktopName(info.param));
                         });

}  // namespace
}  // namespace zb::testing
