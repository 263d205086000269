// What a page of the program can read: its own files in res/ and the audio
// files its jobs made, through the program's scheme, and nothing else, from
// every view. Also the small ways a page meets the program: a lone surrogate
// in a text, a dialog address that is not a page of ours.
#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/app_harness.h"
#include "bridge/program_pages.h"

namespace zb::testing {
namespace {

namespace fs = std::filesystem;
const char kMainTitle[] = "Zimbrel - The Ringtone Creator";

// Each address is read by fetch() and by a synchronous XHR: "R" when
// refused, "+" when something came; then one of the page's own files.
const char kProbe[] = R"(
function probe(targets, done) {
  var xhr = targets.map(function (t) {
    try {
      var r = new XMLHttpRequest();
      r.open('GET', t, false);
      r.send();
      return r.status === 200 || (r.status === 0 && r.responseText) ? '+' : 'R';
    } catch (e) { return 'R'; }
  }).join('');
  Promise.all(targets.map(function (t) {
    return fetch(t).then(function (r) { return r.ok ? r.text().then(function () { return '+'; }) : 'R'; },
                         function () { return 'R'; });
  })).then(function (got) {
    fetch('aboutBox.html').then(function (r) { return r.text(); }).then(function (own) {
      done('fetch ' + got.join('') + ' xhr ' + xhr + ' own ' + (own.indexOf('<') >= 0));
    }, function () { done('fetch ' + got.join('') + ' xhr ' + xhr + ' own failed'); });
  });
}
)";

TEST(PageReading, NoViewReadsAFileItWasNotGiven) {
  AppHarness app;
  const std::string res = app.ModuleDir() + "/res";
  app.WriteFile("secret.txt", "beside the program, outside res/");
  std::string way;  // res/ to secret.txt through encoded slashes
  for (char c : fs::relative(app.ModuleDir() + "/secret.txt", res).string())
    way += c == '/' ? std::string("%2f") : c == ' ' ? "%20" : std::string(1, c);
  const std::vector<std::string> targets = {
      "file:///etc/passwd",
      FileUri(app.RegistryDir() + "/HKEY_CURRENT_USER/Software/Zimbrel/ZBInstDir"),
      FileUri(app.ModuleDir() + "/secret.txt"),
      FileUri(res + "/aboutBox.html"),
      PageAddress("/etc/passwd"),
      PageAddress(app.ModuleDir() + "/secret.txt"),
      PageAddress(res) + "/" + way,
      PageAddress(res + "/tmp/secret.txt"),
  };
  std::string list;
  for (const std::string& t : targets) list += (list.empty() ? "'" : ",'") + t + "'";
  app.WritePage("probe.js", kProbe + ("var targets = [" + list + "];\n"));
  app.WritePage("selectSong.html", R"(<!doctype html><script src="probe.js"></script><script>
var x = window.external;
probe(targets, function (main) {
  x.ZBL_SetZBName(main);
  var dir = decodeURIComponent(location.pathname);
  dir = dir.substring(0, dir.lastIndexOf('/'));
  x.ZBL_ShowModalDialog('probe', dir + '/dialog.html', '', 100, 100, 300, 200);
  x.ZBL_SetZBNetwork('done');
});
</script>)");
  app.WritePage("dialog.html", R"(<!doctype html><script src="probe.js"></script><script>
probe(targets, function (r) { window.external.ZBL_SetZBPhone(r); window.external.ZBL_CloseWindow(); });
</script>)");
  app.Start();
  ASSERT_TRUE(app.WaitForValue("ZBNetwork", "done", 60000)) << app.Output();
  EXPECT_EQ(app.Value("ZBName"), "fetch RRRRRRRR xhr RRRRRRRR own true");
  EXPECT_EQ(app.Value("ZBPhone"), "fetch RRRRRRRR xhr RRRRRRRR own true");
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  EXPECT_TRUE(app.WaitExit(20000));
}

// A frame of ours for tmp/work.html, with a work.html both in the module's
// res/tmp and in the work folder, gets neither: the scheme serves only audio
// files there, so neither page's script ever reaches its parent's object.
TEST(PageReading, AFrameForAWorkFileNameGetsNeitherFile) {
  AppHarness app;
  const char kTake[] = "<!doctype html><script>parent.external.ZBL_SetZBPhone('%s');</script>";
  char text[256];
  std::snprintf(text, sizeof text, kTake, "from the module");
  app.WritePage("tmp/work.html", text);
  fs::create_directories(app.WorkDir());
  std::snprintf(text, sizeof text, kTake, "from the work folder");
  std::ofstream(app.WorkDir() + "/work.html") << text;
  app.WritePage("selectSong.html", R"(<!doctype html><body><script>
var f = document.createElement('iframe');
f.src = 'tmp/work.html';
document.body.appendChild(f);
setTimeout(function () { window.external.ZBL_SetZBName('framed'); }, 2000);
</script></body>)");
  app.Start();
  ASSERT_TRUE(app.WaitForValue("ZBName", "framed", 30000)) << app.Output();
  EXPECT_EQ(app.Value("ZBPhone"), "");
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  EXPECT_TRUE(app.WaitExit(20000));
}

// The ringtone plays from the work folder through the scheme (read into a
// blob: address, which WebKit's media player takes), under the pages' own
// Content-Security-Policy, and seeks; a file the scheme refuses fails.
TEST(PageReading, TheRingtonePlaysAndSeeksUnderThePagesPolicy) {
  AppHarness app;
  fs::create_directories(app.WorkDir());
  ASSERT_TRUE(MakeSong(app.WorkDir() + "/ring #1.mp3", 12, true));
  app.WritePage("audio-check.js", R"(
var x = window.external, a = document.getElementById('a');
a.addEventListener('loadedmetadata', function () { a.currentTime = 8; }, {once: true});
a.addEventListener('seeked', function () {
  x.ZBL_SetZBName('seeked ' + Math.round(a.currentTime) + ' of ' + Math.round(a.duration) +
                  ' ranges ' + a.seekable.length + ' end ' + Math.round(a.seekable.end(0)));
}, {once: true});
a.addEventListener('error', function () { x.ZBL_SetZBName('error ' + (a.error && a.error.code) + ' ' + (a.error && a.error.message)); });
var missing = document.getElementById('m');
missing.addEventListener('error', function () { x.ZBL_SetZBPhone('missing fails'); });
missing.src = 'tmp/missing.mp3';
a.src = 'tmp/' + encodeURIComponent('ring #1.mp3');
)");
  app.WritePage("selectSong.html", R"(<!doctype html><html><head>
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; media-src 'self' blob:; connect-src 'self'; base-uri 'none'; form-action 'none'">
</head><body><audio id=a preload=auto></audio><audio id=m preload=auto></audio><script src="audio-check.js"></script></body></html>)");
  app.Start();
  ASSERT_TRUE(app.WaitUntil([&] { return !app.Value("ZBName").empty(); }, 30000)) << app.Output();
  EXPECT_EQ(app.Value("ZBName"), "seeked 8 of 12 ranges 1 end 12");
  EXPECT_TRUE(app.WaitForValue("ZBPhone", "missing fails", 20000));
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  EXPECT_TRUE(app.WaitExit(20000));
}

// A text with a lone surrogate keeps all of its text, the surrogate becoming
// U+FFFD; a whole pair stays the character it is.
TEST(PageReading, ALoneSurrogateBecomesAReplacementCharacter) {
  AppHarness app;
  app.WritePage("selectSong.html", R"(<!doctype html><script>
var x = window.external;
x.ZBL_SetZBPhone('x\uDC00y\uD83D\uDE00');
x.ZBL_SetZBName('\uD800abc');
</script>)");
  app.Start();
  ASSERT_TRUE(app.WaitUntil([&] { return !app.Value("ZBName").empty(); }, 30000)) << app.Output();
  EXPECT_EQ(app.Value("ZBName"),
            "\xEF\xBF\xBD"
            "abc");
  EXPECT_EQ(app.Value("ZBPhone"), "x\xEF\xBF\xBDy\xF0\x9F\x98\x80");
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  EXPECT_TRUE(app.WaitExit(20000));
}

// A dialog whose address is not a page of ours never opens: the call hands
// its argument back at once and the page goes on.
TEST(PageReading, ARefusedDialogAddressOpensNoDialog) {
  AppHarness app;
  app.WriteFile("beside.html", "<p>outside res/</p>");
  app.WritePage("selectSong.html", R"(<!doctype html><script>
var x = window.external, got = [];
[')" + FileUri(app.ModuleDir() + "/beside.html") +
                                       R"(', '/etc/passwd', 'http://127.0.0.1:65001/page.html',
 'tmp/ring.mp3', 'data:text/html,hi'].forEach(function (url, i) {
  got.push(x.ZBL_ShowModalDialog('Refused ' + i, url, 'arg' + i, 100, 100, 300, 200));
});
x.ZBL_SetZBName(got.join(' '));
</script>)");
  app.Start();
  ASSERT_TRUE(app.WaitUntil([&] { return !app.Value("ZBName").empty(); }, 30000)) << app.Output();
  EXPECT_EQ(app.Value("ZBName"), "arg0 arg1 arg2 arg3 arg4");
  for (int i = 0; i < 5; ++i) EXPECT_EQ(app.FindWindow("  Refused " + std::to_string(i), 0), "");
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  EXPECT_TRUE(app.WaitExit(20000));
}

}  // namespace
}  // namespace zb::testing
