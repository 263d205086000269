// One program per user: a second start hands its song to the running
// program, which comes to the front and starts over with it (asking first
// while a ringtone is being made), and ends with status 0. Without a session
// bus each program works in a folder of its own and never touches another's
// ringtone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/app_harness.h"
#include "temp_dir.h"

namespace zb::testing {
namespace {

namespace fs = std::filesystem;
const char kMainTitle[] = "Zimbrel - The Ringtone Creator";

// A start page that notes each song it is started with in ZBName and, when
// there is one, makes it a ringtone in res/tmp/ring.mp3 (the status in
// ZBNetwork once the job has ended).
const char kSongPage[] = R"(<!doctype html><body><script>
var x = window.external;
var dir = decodeURIComponent(location.pathname);
dir = dir.substring(0, dir.lastIndexOf('/'));
var song = x.ZBL_clFileName;
x.ZBL_SetZBName(x.ZBL_GetZBName() + '[' + song + ']');
if (song && x.ZBL_TranscodeMedia(song, dir + '/tmp/ring.mp3')) {
  x.ZBL_SetZBNetwork('converting');
  (function poll() {
    var s = x.ZBL_tsStatus;
    if (s === 0) { setTimeout(poll, 100); return; }
    x.ZBL_SetZBNetwork('status ' + s);
  })();
}
</script></body>)";

TEST(OneProgram, ASecondStartHandsItsSongToTheRunningProgramAndEnds) {
  TempDir songs;
  const std::string first = songs.Path() + "/first song.wav", second = songs.Path() + "/second.wav";
  ASSERT_TRUE(MakeSong(first, 3));
  ASSERT_TRUE(MakeSong(second, 3));
  AppHarness app;
  app.WritePage("selectSong.html", kSongPage);
  app.Start({first});
  ASSERT_TRUE(app.WaitForValue("ZBNetwork", "status 1", 60000)) << app.Output();
  const std::string ring = app.WorkDir() + "/ring.mp3";
  ASSERT_TRUE(fs::exists(ring));
  const auto made = fs::file_size(ring);

  // A second start, from another folder, with a relative name: it ends with
  // 0, and the running program starts over with the song, by its full path.
  fs::current_path(songs.Path());
  EXPECT_EQ(app.StartAgain({"second.wav"}, 60000), 0);
  EXPECT_TRUE(app.WaitForValue("ZBName", "[" + first + "][" + second + "]", 30000))
      << app.Value("ZBName");
  EXPECT_TRUE(app.WaitForValue("ZBNetwork", "status 1", 60000));
  EXPECT_TRUE(app.Running());
  // A start without a song only brings the window to the front.
  EXPECT_EQ(app.StartAgain({}, 60000), 0);
  EXPECT_TRUE(app.Running());
  EXPECT_EQ(app.Value("ZBName"), "[" + first + "][" + second + "]");
  EXPECT_TRUE(fs::exists(ring));
  EXPECT_GT(made, 0u);
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  int code = -1;
  EXPECT_TRUE(app.WaitExit(20000, &code));
  EXPECT_EQ(code, 0);
}

TEST(OneProgram, WhileARingtoneIsBeingMadeTheUserIsAskedAndNoKeepsIt) {
  TempDir songs;
  const std::string first = songs.Path() + "/first.wav", second = songs.Path() + "/second.wav";
  std::ofstream(first) << "a song";
  std::ofstream(second) << "another";
  AppHarness app;
  FakeTranscoder(app, songs.Path() + "/ffmpeg.pid");  // never ends
  app.WritePage("selectSong.html", kSongPage);
  app.Start({first});
  ASSERT_TRUE(app.WaitForValue("ZBNetwork", "converting", 30000)) << app.Output();
  ASSERT_TRUE(app.WaitUntil([&] { return fs::exists(songs.Path() + "/ffmpeg.pid"); }, 30000));

  // No: nothing changes, the job goes on.
  EXPECT_EQ(app.StartAgain({second}, 60000), 0);
  std::string box = app.FindWindow("Zimbrel", 20000);
  ASSERT_FALSE(box.empty());
  ASSERT_TRUE(app.Keys(box, {"alt+n"}));
  ASSERT_TRUE(app.WaitUntil([&] { return app.FindWindow("Zimbrel", 0).empty(); }, 20000));
  EXPECT_EQ(app.Value("ZBName"), "[" + first + "]");
  EXPECT_EQ(app.Value("ZBNetwork"), "converting");
  EXPECT_TRUE(fs::exists(app.WorkDir() + "/ring.mp3"));

  // Yes: the job is stopped and the page starts over with the new song.
  EXPECT_EQ(app.StartAgain({second}, 60000), 0);
  box = app.FindWindow("Zimbrel", 20000);
  ASSERT_FALSE(box.empty());
  ASSERT_TRUE(app.Keys(box, {"alt+y"}));
  EXPECT_TRUE(app.WaitForValue("ZBName", "[" + first + "][" + second + "]", 30000))
      << app.Value("ZBName");
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  EXPECT_TRUE(app.WaitExit(20000));
}

// A song handed over while a page dialog is open: the dialog closes and the
// start page starts over with the song.
TEST(OneProgram, ADialogOpenAboveTheStartPageClosesForTheNewSong) {
  TempDir songs;
  const std::string first = songs.Path() + "/first.wav", second = songs.Path() + "/second.wav";
  std::ofstream(first) << "a song";
  std::ofstream(second) << "another";
  AppHarness app;
  app.WritePage("stay.html",
                "<!doctype html><p>stays</p><script>"
                "window.external.ZBL_SetZBPhone('dialog shown');</script>");
  app.WritePage("selectSong.html", R"(<!doctype html><body><script>
var x = window.external;
var dir = decodeURIComponent(location.pathname);
dir = dir.substring(0, dir.lastIndexOf('/'));
var song = x.ZBL_clFileName;
x.ZBL_SetZBName(x.ZBL_GetZBName() + '[' + song + ']');
if (song.indexOf('first') >= 0)
  x.ZBL_ShowModalDialog('Stays open', dir + '/stay.html', '', 100, 100, 300, 200);
</script></body>)");
  app.Start({first});
  ASSERT_TRUE(app.WaitForValue("ZBPhone", "dialog shown", 30000)) << app.Output();
  ASSERT_FALSE(app.FindWindow("  Stays open", 20000).empty());
  EXPECT_EQ(app.StartAgain({second}, 60000), 0);
  EXPECT_TRUE(app.WaitForValue("ZBName", "[" + first + "][" + second + "]", 30000))
      << app.Value("ZBName");
  EXPECT_TRUE(app.WaitUntil([&] { return app.FindWindow("  Stays open", 0).empty(); }, 20000));
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  EXPECT_TRUE(app.WaitExit(20000));
}

TEST(OneProgram, WithoutASessionBusEachProgramKeepsToAWorkFolderOfItsOwn) {
  TempDir songs, runtime;
  fs::permissions(runtime.Path(), fs::perms::owner_all);
  const std::string song = songs.Path() + "/song.wav";
  ASSERT_TRUE(MakeSong(song, 3));
  AppHarness one, two;
  const std::string cache = fs::path(one.WorkDir()).parent_path().parent_path();
  const std::map<std::string, std::string> noBus = {{"DBUS_SESSION_BUS_ADDRESS", ""},
                                                    {"XDG_RUNTIME_DIR", runtime.Path()},
                                                    {"XDG_CACHE_HOME", cache}};
  one.WritePage("selectSong.html", kSongPage);
  two.WritePage("selectSong.html", kSongPage);
  one.Start({song}, noBus);
  ASSERT_TRUE(one.WaitForValue("ZBNetwork", "status 1", 60000)) << one.Output();
  // A folder left by a killed program, with its lock free, goes at the next
  // start; the running one's stays.
  fs::create_directories(one.WorkDir() + "/run-killed");
  std::ofstream(one.WorkDir() + "/run-killed/.lock");
  std::ofstream(one.WorkDir() + "/run-killed/old.mp3") << "old";
  two.Start({song}, noBus);
  ASSERT_TRUE(two.WaitForValue("ZBNetwork", "status 1", 60000)) << two.Output();
  EXPECT_TRUE(one.Running());
  EXPECT_FALSE(fs::exists(one.WorkDir() + "/run-killed"));
  std::vector<std::string> rings;
  for (const auto& e : fs::directory_iterator(one.WorkDir()))
    if (fs::exists(e.path() / "ring.mp3") && fs::file_size(e.path() / "ring.mp3") > 0)
      rings.push_back(e.path().filename());
  EXPECT_EQ(rings.size(), 2u);  // both ringtones, each in its own program's folder
  AppHarness::RequestClose(one.FindWindow(kMainTitle));
  EXPECT_TRUE(one.WaitExit(20000));
  AppHarness::RequestClose(two.FindWindow(kMainTitle));
  EXPECT_TRUE(two.WaitExit(20000));
  // Each program takes its folder with it.
  size_t left = 0;
  for (const auto& e : fs::directory_iterator(one.WorkDir()))
    left += e.path().filename().string().rfind("run-", 0) == 0;
  EXPECT_EQ(left, 0u);
}

}  // namespace
}  // namespace zb::testing
