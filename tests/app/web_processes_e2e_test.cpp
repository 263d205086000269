// The web processes under the program: the spare one that the next page
// dialog takes, what the UI and web processes load, and memory-pressure
// handling that never ends a page.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/app_harness.h"

namespace zb::testing {
namespace {

const char kMainTitle[] = "Zimbrel - The Ringtone Creator";

std::vector<pid_t> WebProcesses(const AppHarness& app) {
  auto v = AppHarness::ChildrenNamed(app.Pid(), "WebKitWebProces");
  std::sort(v.begin(), v.end());
  return v;
}

std::vector<pid_t> Minus(const std::vector<pid_t>& a, const std::vector<pid_t>& b) {
  std::vector<pid_t> out;
  for (pid_t p : a)
    if (std::find(b.begin(), b.end(), p) == b.end()) out.push_back(p);
  return out;
}

// The main page opens a page dialog on "o"; the dialog page hands back its
// argument on "c". Both report through the settings store.
void WriteDialogPages(AppHarness& app) {
  app.WritePage("selectSong.html", R"(<!doctype html><body><input id=f><script>
var x = window.external, n = 0;
var base = decodeURIComponent(location.pathname).replace(/[^/]*$/, '');
addEventListener('load', function () {
  document.getElementById('f').focus();
  x.ZBL_SetZBName('loaded');
});
addEventListener('keydown', function (e) {
  if (e.key !== 'o') return;
  n++;
  var r = x.ZBL_ShowModalDialog('Dialog ' + n, base + 'dialog.html', 'arg ' + n, 0, 0, 300, 200);
  x.ZBL_SetZBName('returned ' + r);
  document.getElementById('f').focus();
});
</script></body>)");
  app.WritePage("dialog.html", R"(<!doctype html><body><input id=f><script>
var x = window.external;
addEventListener('load', function () {
  document.getElementById('f').focus();
  x.ZBL_SetZBPhone('shown ' + x.ZBL_GetDialogArgument());
});
addEventListener('keydown', function (e) {
  if (e.key !== 'c') return;
  x.ZBL_SetDialogRetValue('back from ' + x.ZBL_GetDialogArgument());
  x.ZBL_CloseWindow();
});
</script></body>)");
}

TEST(WebProcesses, PageDialogsTakeTheSpareWebProcessAndAnswerThroughTheirOwnPage) {
  AppHarness app;
  WriteDialogPages(app);
  app.Start();
  ASSERT_TRUE(app.WaitForValue("ZBName", "loaded", 30000)) << app.Output();
  std::string mainId = app.FindWindow(kMainTitle);
  ASSERT_FALSE(mainId.empty());

  // Once the start page has loaded: its web process and the spare one.
  std::vector<pid_t> known;
  ASSERT_TRUE(app.WaitUntil(
      [&] {
        known = WebProcesses(app);
        return known.size() == 2;
      },
      30000));

  // Two dialogs in a row. Each runs in the spare prepared before it, not in a
  // process started for it nor in the main page's (blocked in its call
  // meanwhile); its page's calls reach the program as its own (argument,
  // return value, close); the process it took ends with it.
  pid_t pagePid = 0;
  for (int n = 1; n <= 2; ++n) {
    const std::string num = std::to_string(n);
    ASSERT_TRUE(app.Keys(mainId, {"o"}));
    std::string dialog = app.FindWindow("  Dialog " + num);
    ASSERT_FALSE(dialog.empty());
    ASSERT_TRUE(app.WaitForValue("ZBPhone", "shown arg " + num, 30000)) << app.Value("ZBPhone");
    // After the dialog's page has loaded, the next spare is prepared.
    std::vector<pid_t> open;
    ASSERT_TRUE(app.WaitUntil(
        [&] {
          open = WebProcesses(app);
          return open.size() == 3;
        },
        30000));
    EXPECT_TRUE(Minus(known, open).empty()) << "dialog " << n;
    ASSERT_TRUE(app.Keys(dialog, {"c"}));
    ASSERT_TRUE(app.WaitForValue("ZBName", "returned back from arg " + num, 30000))
        << app.Value("ZBName");
    std::vector<pid_t> after;
    ASSERT_TRUE(app.WaitUntil(
        [&] {
          after = WebProcesses(app);
          return after.size() == 2;
        },
        30000));
    std::vector<pid_t> ended = Minus(known, after), stayed = Minus(known, ended);
    ASSERT_EQ(ended.size(), 1u) << "dialog " << n << " was not in the spare";
    ASSERT_EQ(stayed.size(), 1u);
    if (n == 1) pagePid = stayed[0];
    EXPECT_EQ(stayed[0], pagePid) << "the main page's process changed";
    known = after;
  }
  EXPECT_TRUE(app.Running());
  AppHarness::RequestClose(mainId);
  int code = -1;
  EXPECT_TRUE(app.WaitExit(20000, &code));
  EXPECT_EQ(code, 0);
}

// Anonymous executable mappings of a process, in MB (the JIT's region).
std::vector<long> AnonymousExecutableMB(pid_t pid) {
  std::vector<long> out;
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::string line;
  while (std::getline(maps, line)) {
    std::istringstream f(line);
    std::string range, perms, offset, dev, inode, path;
    f >> range >> perms >> offset >> dev >> inode >> path;
    if (perms.size() < 3 || perms[2] != 'x' || !path.empty()) continue;
    auto dash = range.find('-');
    unsigned long lo = std::stoul(range.substr(0, dash), nullptr, 16);
    unsigned long hi = std::stoul(range.substr(dash + 1), nullptr, 16);
    out.push_back(static_cast<long>((hi - lo) >> 20));
  }
  return out;
}

TEST(WebProcesses, TheUiProcessLoadsNoMesaAndPagesRunWithoutTheJit) {
  AppHarness app;
  app.WritePage("selectSong.html", R"(<!doctype html><body><script>
var x = window.external;
addEventListener('load', function () {
  var s = 0;
  for (var i = 0; i < 100000; i++) s += i % 7;
  x.ZBL_SetZBName('loaded ' + s);
});
</script></body>)");
  app.Start();
  ASSERT_TRUE(app.WaitForValue("ZBName", "loaded 299995", 30000)) << app.Output();
  // The pages are drawn without the GPU: nothing in the UI process loads
  // Mesa (nor LLVM with it), and the window icon needs no SVG renderer.
  for (const std::string& f : AppHarness::MappedFiles(app.Pid())) {
    for (const char* lib :
         {"libLLVM", "swrast_dri", "libgallium", "libGLX_mesa", "libEGL_mesa", "librsvg"})
      EXPECT_EQ(f.find(lib), std::string::npos) << f;
  }
  // The pages' scripts run in the interpreter: no web process reserves the
  // JIT's executable region.
  auto web = WebProcesses(app);
  ASSERT_FALSE(web.empty());
  for (pid_t p : web)
    for (long mb : AnonymousExecutableMB(p)) EXPECT_LT(mb, 64) << "web process " << p;
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  EXPECT_TRUE(app.WaitExit(20000));
}

TEST(WebProcesses, APageAboveTheMemoryLimitIsNeitherEndedNorReloaded) {
  AppHarness app;
  // 300 MB held, above the web processes' 200 MB limit, and a load count that
  // a reload would raise.
  app.WritePage("selectSong.html", R"(<!doctype html><body><input id=f><script>
var x = window.external, held = [];
var loads = parseInt(x.ZBL_GetZBNVCheck(), 10) + 1;
x.ZBL_SetZBNVCheck(String(loads));
addEventListener('load', function () {
  for (var i = 0; i < 30; i++) { var a = new Float64Array(10 << 17); a.fill(i + 1); held.push(a); }
  document.getElementById('f').focus();
  x.ZBL_SetZBName('held ' + held.length);
});
addEventListener('keydown', function () {
  var sum = 0;
  for (var i = 0; i < held.length; i++) sum += held[i][12345];
  x.ZBL_SetZBName('still ' + sum);
});
</script></body>)");
  app.Start();
  ASSERT_TRUE(app.WaitForValue("ZBName", "held 30", 60000)) << app.Output();
  auto web = WebProcesses(app);
  ASSERT_FALSE(web.empty());
  // Two polls of the memory-pressure handler (every 5 s) and more.
  std::this_thread::sleep_for(std::chrono::seconds(12));
  auto later = WebProcesses(app);
  for (pid_t p : web) EXPECT_NE(std::find(later.begin(), later.end(), p), later.end());
  EXPECT_EQ(app.Value("ZBNVCheck"), "1");
  ASSERT_TRUE(app.Keys(app.FindWindow(kMainTitle), {"k"}));
  EXPECT_TRUE(app.WaitForValue("ZBName", "still 465", 20000)) << app.Value("ZBName");
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  EXPECT_TRUE(app.WaitExit(20000));
}

}  // namespace
}  // namespace zb::testing
