// The windows on a desktop: the main window's title-bar buttons and what a
// real window manager lets the user do with it, and page dialogs placed on
// the monitor of the window that opened them. On an X server of the test's
// own with two monitors side by side; positions are asserted through GDK.
#include <gtest/gtest.h>

// After gtest: Xlib defines None.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdk.h>
#include <gdk/gdkx.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/app_harness.h"
#include "app/two_monitor_display.h"

namespace zb::testing {
namespace {

const char kMainTitle[] = "Zimbrel - The Ringtone Creator";

// The main page opens a dialog at each click (first 300 x 200, then
// 1000 x 600) and reports when it has closed; the dialog reports its
// client size. Starts the program on them and returns the main window's id
// once the page is ready (empty when it never is).
std::string StartWithPages(AppHarness& app) {
  app.WritePage("dlg.html",
                "<!doctype html><body style='margin:0'><script>"
                "window.external.ZBL_SetZBPhone('dialog ' + innerWidth + 'x' + innerHeight);"
                "</script></body>");
  app.WritePage("selectSong.html", R"(<!doctype html><body style="margin:0"><script>
var x = window.external, base = decodeURIComponent(location.pathname).replace(/[^/]*$/, '');
var sizes = [[300, 200], [1000, 600]], clicks = 0;
// Each click opens the next dialog.
document.addEventListener('mousedown', function () {
  var key = String(++clicks), s = sizes[clicks - 1];
  if (!s) return;
  setTimeout(function () {
    x.ZBL_SetZBPhone('');
    x.ZBL_ShowModalDialog('Placed', base + 'dlg.html', '', 0, 0, s[0], s[1]);
    x.ZBL_SetZBName('closed ' + key);
  }, 0);
});
x.ZBL_SetZBName('ready');
</script></body>)");
  app.Start();
  if (!app.WaitForValue("ZBName", "ready", 30000)) return {};
  return app.FindWindow(kMainTitle);
}

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  int Cx() const { return x + width / 2; }
  int Cy() const { return y + height / 2; }
  bool Inside(const GdkRectangle& r) const {
    return x >= r.x && y >= r.y && x + width <= r.x + r.width && y + height <= r.y + r.height;
  }
};

std::vector<int> Cardinals(const std::string& xid, const char* property);

// What GDK knows of another client's window: its frame on the screen and the
// monitor it is on.
class GdkView {
 public:
  GdkView() : m_display(gdk_display_open(nullptr)) {}
  ~GdkView() {
    if (m_display) gdk_display_close(m_display);
  }
  GdkDisplay* Display() const { return m_display; }
  int Monitors() const { return m_display ? gdk_display_get_n_monitors(m_display) : 0; }
  GdkMonitor* Monitor(int i) const { return gdk_display_get_monitor(m_display, i); }
  GdkRectangle WorkArea(GdkMonitor* m) const {
    GdkRectangle r{};
    gdk_monitor_get_workarea(m, &r);
    return r;
  }
  // The window as the user sees it: without the invisible margins that
  // client-side decorations keep for shadows (_GTK_FRAME_EXTENTS).
  Rect Frame(const std::string& xid) const {
    Rect r;
    GdkWindow* w = gdk_x11_window_foreign_new_for_display(m_display, std::stoul(xid));
    if (!w) return r;
    GdkRectangle f{};
    gdk_window_get_frame_extents(w, &f);
    r = {f.x, f.y, f.width, f.height};
    g_object_unref(w);
    auto m = Cardinals(xid, "_GTK_FRAME_EXTENTS");  // left, right, top, bottom
    if (m.size() == 4) r = {r.x + m[0], r.y + m[2], r.width - m[0] - m[1], r.height - m[2] - m[3]};
    return r;
  }
  GdkMonitor* MonitorOf(const std::string& xid) const {
    GdkWindow* w = gdk_x11_window_foreign_new_for_display(m_display, std::stoul(xid));
    if (!w) return nullptr;
    GdkMonitor* m = gdk_display_get_monitor_at_window(m_display, w);
    g_object_unref(w);
    return m;
  }

 private:
  GdkDisplay* m_display;
};

// Reads up to `maxItems` 32-bit items of a window property of the type named
// `typeName` and hands them, with the display they belong to, to `use`.
// Nothing is handed over when the window or property is missing.
template <class Use>
void ReadProperty(const std::string& xid, const char* property, const char* typeName, long maxItems,
                  Use use) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return;
  Atom name = XInternAtom(d, property, False);
  Atom type = XInternAtom(d, typeName, False);
  Atom actualType;
  int format;
  unsigned long n = 0, after;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d, std::stoul(xid), name, 0, maxItems, False, type, &actualType, &format,
                         &n, &after, &data) == Success &&
      data)
    use(d, reinterpret_cast<long*>(data), n);
  if (data) XFree(data);
  XCloseDisplay(d);
}

std::vector<int> Cardinals(const std::string& xid, const char* property) {
  std::vector<int> values;
  ReadProperty(xid, property, "CARDINAL", 16,
               [&](Display*, long* items, unsigned long n) { values.assign(items, items + n); });
  return values;
}

std::set<std::string> AtomList(const std::string& xid, const char* property) {
  std::set<std::string> names;
  ReadProperty(xid, property, "ATOM", 64, [&](Display* d, long* items, unsigned long n) {
    for (unsigned long i = 0; i < n; ++i) {
      char* name = XGetAtomName(d, static_cast<Atom>(items[i]));
      if (name) names.insert(name);
      XFree(name);
    }
  });
  return names;
}

// WM_STATE: 1 normal, 3 iconic (minimised), -1 none.
long WmState(const std::string& xid) {
  long state = -1;
  ReadProperty(xid, "WM_STATE", "WM_STATE", 2, [&](Display*, long* items, unsigned long n) {
    if (n >= 1) state = items[0];
  });
  return state;
}

void MoveWindow(const std::string& xid, int x, int y) {
  AppHarness::Xdo({"windowmove", "--sync", xid, std::to_string(x), std::to_string(y)});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

// Opens the dialog of `key` and returns its window id (empty when none).
std::string OpenDialog(AppHarness& app, const std::string& mainId) {
  auto g = AppHarness::WindowGeometry(mainId);
  AppHarness::Xdo({"mousemove", "--sync", std::to_string(g.x + g.width / 2),
                   std::to_string(g.y + g.height / 2), "click", "1"});
  if (!app.WaitUntil([&] { return app.Value("ZBPhone").rfind("dialog ", 0) == 0; }, 20000))
    return "";
  return app.FindWindow("  Placed");
}

void CloseDialog(AppHarness& app, const std::string& dialogId, const std::string& key) {
  AppHarness::RequestClose(dialogId);
  EXPECT_TRUE(app.WaitForValue("ZBName", "closed " + key, 10000)) << app.Value("ZBName");
  app.WaitUntil([&] { return app.FindWindow("  Placed", 100).empty(); }, 5000);
}

void CheckPlacement(bool withWindowManager) {
  TwoMonitorDisplay screen(withWindowManager);
  ASSERT_TRUE(screen.Ok()) << screen.Log();
  GdkView gdk;
  ASSERT_NE(gdk.Display(), nullptr);
  ASSERT_EQ(gdk.Monitors(), 2);
  GdkMonitor* left = gdk.Monitor(0);
  GdkMonitor* right = gdk.Monitor(1);
  ASSERT_TRUE(gdk_monitor_is_primary(left));
  const GdkRectangle rightArea = gdk.WorkArea(right);
  ASSERT_EQ(rightArea.x, 1280);

  AppHarness app;
  std::string main = StartWithPages(app);
  ASSERT_FALSE(main.empty()) << app.Output();
  // The main window starts centred on the primary monitor.
  EXPECT_EQ(gdk.MonitorOf(main), left);

  // Moved to the middle of the right monitor: a small dialog is centred on it.
  MoveWindow(main, 1280 + 254, 200);
  ASSERT_EQ(gdk.MonitorOf(main), right);
  std::string dlg = OpenDialog(app, main);
  ASSERT_FALSE(dlg.empty()) << app.Value("ZBPhone");
  EXPECT_EQ(app.Value("ZBPhone"), "dialog 302x202");
  Rect m = gdk.Frame(main), d = gdk.Frame(dlg);
  EXPECT_EQ(gdk.MonitorOf(dlg), right);
  EXPECT_NEAR(d.Cx(), m.Cx(), 2) << d.x << "," << d.y;
  EXPECT_NEAR(d.Cy(), m.Cy(), 2) << d.x << "," << d.y;
  CloseDialog(app, dlg, "1");

  // At the bottom left corner of the right monitor, a dialog larger than
  // the main window would reach into the left monitor and below the screen
  // if centred: it is kept within the right monitor's work area instead.
  MoveWindow(main, 1280, 1024 - 578);
  dlg = OpenDialog(app, main);
  ASSERT_FALSE(dlg.empty()) << app.Value("ZBPhone");
  d = gdk.Frame(dlg);
  m = gdk.Frame(main);
  EXPECT_EQ(gdk.MonitorOf(dlg), right);
  EXPECT_TRUE(d.Inside(rightArea)) << d.x << "," << d.y << " " << d.width << "x" << d.height;
  EXPECT_EQ(d.x, rightArea.x);
  EXPECT_EQ(d.y + d.height, rightArea.y + rightArea.height);
  CloseDialog(app, dlg, "2");

  AppHarness::RequestClose(main);
  EXPECT_TRUE(app.WaitExit(20000));
}

TEST(Windows, PageDialogsOpenOnTheirOwnersMonitor) {
  CheckPlacement(false);
}

TEST(Windows, PageDialogsOpenOnTheirOwnersMonitorUnderAWindowManager) {
  CheckPlacement(true);
}

TEST(Windows, MainWindowMinimisesAndNeitherWindowResizesOrMaximises) {
  TwoMonitorDisplay screen(true);
  ASSERT_TRUE(screen.Ok()) << screen.Log();
  AppHarness app;
  std::string main = StartWithPages(app);
  ASSERT_FALSE(main.empty()) << app.Output();

  // What the window manager offers follows the windows' own hints.
  auto actions = AtomList(main, "_NET_WM_ALLOWED_ACTIONS");
  EXPECT_TRUE(actions.count("_NET_WM_ACTION_MINIMIZE")) << actions.size();
  EXPECT_TRUE(actions.count("_NET_WM_ACTION_CLOSE"));
  EXPECT_FALSE(actions.count("_NET_WM_ACTION_MAXIMIZE_HORZ"));
  EXPECT_FALSE(actions.count("_NET_WM_ACTION_MAXIMIZE_VERT"));
  EXPECT_FALSE(actions.count("_NET_WM_ACTION_RESIZE"));

  std::string dlg = OpenDialog(app, main);
  ASSERT_FALSE(dlg.empty());
  auto dialogActions = AtomList(dlg, "_NET_WM_ALLOWED_ACTIONS");
  EXPECT_TRUE(dialogActions.count("_NET_WM_ACTION_CLOSE"));
  EXPECT_FALSE(dialogActions.count("_NET_WM_ACTION_MINIMIZE"));
  EXPECT_FALSE(dialogActions.count("_NET_WM_ACTION_MAXIMIZE_HORZ"));
  EXPECT_FALSE(dialogActions.count("_NET_WM_ACTION_RESIZE"));
  CloseDialog(app, dlg, "1");

  // Minimised and back.
  AppHarness::Xdo({"windowminimize", "--sync", main});
  EXPECT_TRUE(app.WaitUntil([&] { return WmState(main) == 3; }, 10000)) << WmState(main);
  AppHarness::Xdo({"windowactivate", "--sync", main});
  EXPECT_TRUE(app.WaitUntil([&] { return WmState(main) == 1; }, 10000)) << WmState(main);
  AppHarness::RequestClose(main);
  EXPECT_TRUE(app.WaitExit(20000));
}

}  // namespace
}  // namespace zb::testing
