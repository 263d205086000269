// Page script that misuses every member, and a web process that dies in the
// middle of a call: the program neither crashes nor blocks.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/app_harness.h"

namespace zb::testing {
namespace {

const char kMainTitle[] = "Zimbrel - The Ringtone Creator";

// Answers every window the program opens besides its main window: Esc, and
// Return for a box that Esc cannot close.
void AnswerDialogs(AppHarness& app, const std::string& mainId, const std::function<bool()>& done,
                   int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done() && std::chrono::steady_clock::now() < deadline && app.Running()) {
    std::istringstream ids(AppHarness::Xdo(
        {"search", "--all", "--onlyvisible", "--pid", std::to_string(app.Pid()), "--name", "."}));
    std::string id, other;
    while (ids >> id)
      if (id != mainId) other = id;
    if (other.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    app.Keys(other, {"Escape"});
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    std::string still = AppHarness::Xdo(
        {"search", "--all", "--onlyvisible", "--pid", std::to_string(app.Pid()), "--name", "."});
    if (still.find(other) != std::string::npos) app.Keys(other, {"Return"});
  }
}

TEST(Robustness, EveryMemberSurvivesEveryKindOfWrongArgument) {
  AppHarness app;
  TempDir xdg;
  app.WritePage("selectSong.html", R"(<!doctype html><script>
var x = window.external;
var withArgs = { ZBL_ShowModalDialog: 7, ZBL_SetZBName: 1, ZBL_SetZBPhone: 1, ZBL_SetZBNetwork: 1,
  ZBL_SetZBAid: 1, ZBL_SetZBNVCheck: 1, ZBL_SetDialogRetValue: 1, ZBL_NavigateURL: 1,
  ZBL_MessageBox: 2, ZBL_MakeHttpRequest: 1, ZBL_TranscodeMedia: 2, ZBL_UploadFile: 2,
  ZBL_GrabAudioDataFromCD: 3, ZBL_GetTracksInfo: 1, ZBL_NormalizeAudio: 1 };
var noArgs = ['ZBL_IsZBL', 'ZBL_GetZBName', 'ZBL_GetZBPhone', 'ZBL_GetZBNetwork', 'ZBL_GetZBAid',
  'ZBL_GetZBNVCheck', 'ZBL_GetVersion', 'ZBL_GetDialogArgument', 'ZBL_ShowAboutBox',
  'ZBL_ShowContact', 'ZBL_ShowCompatibility', 'ZBL_ShowUsage', 'ZBL_SelectMediaFile',
  'ZBL_GetDrivesInfo', 'ZBL_BreakAsyncOperation'];
var props = ['ZBL_xhStatus', 'ZBL_xhResponse', 'ZBL_tsStatus', 'ZBL_upStatus', 'ZBL_ripStatus',
  'ZBL_clFileName', 'ZBL_norStatus'];
var big = new Array((1 << 20) + 1).join('x');
var kinds = [42, 2.5, true, null, undefined, { a: 1 }, [1, 2], big];
var calls = 0, errors = [];
function call(name, args) {
  try { x[name].apply(x, args); calls++; } catch (e) { errors.push(name + ': ' + e); }
}
setTimeout(function () {
  Object.keys(withArgs).forEach(function (name) {
    var n = withArgs[name];
    call(name, []);
    call(name, new Array(n + 5).fill('extra'));
    kinds.forEach(function (k) { call(name, new Array(n).fill(k)); });
  });
  noArgs.forEach(function (name) {
    call(name, []);
    call(name, [1, 2, 3]);
    call(name, [big]);
  });
  props.forEach(function (p) { void x[p]; void x[p]; });
  // Let the jobs started with nonsense end, then every status reads a number.
  var tries = 0;
  (function wait() {
    var st = [x.ZBL_xhStatus, x.ZBL_tsStatus, x.ZBL_upStatus, x.ZBL_ripStatus, x.ZBL_norStatus];
    var settled = st[0] === 1 && st[1] !== 0 && st[2] >= 100 && st[3] >= 100 && st[4] >= 100;
    if (!settled && ++tries < 200) { setTimeout(wait, 100); return; }
    x.ZBL_SetZBName('done ' + calls + ' ' + errors.length + ' ' +
      st.map(function (v) { return typeof v; }).join(',') + ' ' + typeof x.ZBL_xhResponse);
    x.ZBL_CloseWindow(1, 2, 3);
  })();
}, 100);
</script>)");
  // No default web browser for ZBL_NavigateURL to start.
  app.Start({}, {{"XDG_DATA_HOME", xdg.Path()}, {"XDG_CONFIG_HOME", xdg.Path()}});
  std::string mainId = app.FindWindow(kMainTitle, 30000);
  ASSERT_FALSE(mainId.empty());
  AnswerDialogs(
      app, mainId, [&] { return app.Value("ZBName").rfind("done", 0) == 0; }, 240000);
  int code = -1;
  ASSERT_TRUE(app.WaitExit(30000, &code)) << app.Value("ZBName");
  EXPECT_EQ(code, 0);
  // 15 members with arguments x 10 calls, 15 without x 3.
  EXPECT_EQ(app.Value("ZBName"), "done 195 0 number,number,number,number,number string");
}

TEST(Robustness, AWebProcessThatDiesMidCallLeavesTheProgramWorking) {
  AppHarness app;
  app.WritePage("selectSong.html", R"(<!doctype html><script>
var x = window.external;
var loads = parseInt(x.ZBL_GetZBNVCheck(), 10) + 1;
x.ZBL_SetZBNVCheck(String(loads));
x.ZBL_SetZBName('load ' + loads);
if (loads === 1) setTimeout(function () { x.ZBL_MessageBox('Kill me', 0); }, 50);
</script>)");
  app.Start();
  ASSERT_TRUE(app.WaitForValue("ZBName", "load 1", 30000));
  std::string box = app.FindWindow("Zimbrel");
  ASSERT_FALSE(box.empty());
  // The page is blocked in its call: kill its web process, the first one
  // started. (The spare may be starting meanwhile; WebKit ends the program
  // when a sandboxed process dies before it has told its process id.)
  auto webProcs = AppHarness::ChildrenNamed(app.Pid(), "WebKitWebProces");
  ASSERT_FALSE(webProcs.empty());
  auto started = [](pid_t p) {
    std::ifstream in("/proc/" + std::to_string(p) + "/stat");
    std::string line;
    std::getline(in, line);
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22 && rest >> field; ++i) {
    }
    return std::stoull(field);  // field 22: start time
  };
  ::kill(*std::min_element(webProcs.begin(), webProcs.end(),
                           [&](pid_t a, pid_t b) { return started(a) < started(b); }),
         SIGKILL);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  app.Keys(box, {"Return"});  // the reply has nowhere to go
  // The UI process lives on and the view reloads its page in a new process.
  EXPECT_TRUE(app.WaitForValue("ZBName", "load 2", 30000)) << app.Value("ZBName");
  EXPECT_TRUE(app.Running());
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  int code = -1;
  EXPECT_TRUE(app.WaitExit(20000, &code));
  EXPECT_EQ(code, 0);
}

// Arguments that no bridge frame can carry (66 MiB of text) fail only that
// call, with an exception; the page's later calls still reach the program.
TEST(Robustness, ArgumentsTooLargeForTheBridgeFailOnlyThatCall) {
  AppHarness app;
  app.WritePage("selectSong.html", R"(<!doctype html><script>
var x = window.external, out = [];
var big = new Array((66 << 20) + 1).join('x');
try { x.ZBL_SetDialogRetValue(big); out.push('no throw'); } catch (e) { out.push(String(e)); }
big = null;
out.push(x.ZBL_GetVersion());
x.ZBL_SetDialogRetValue('small');
out.push(x.ZBL_GetDialogArgument());
x.ZBL_SetZBName(out.join('|'));
</script>)");
  app.Start();
  EXPECT_TRUE(
      app.WaitForValue("ZBName", "Error: Zimbrel: the arguments are too large|260|small", 60000))
      << app.Value("ZBName");
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  EXPECT_TRUE(app.WaitExit(20000));
}

}  // namespace
}  // namespace zb::testing
