// The program started for real: its start page reaches window.external.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/app_harness.h"

namespace zb::testing {
namespace {

TEST(HostSpine, StartPageReachesTheScriptingObject) {
  AppHarness app;
  app.WritePage("selectSong.html", R"(<!doctype html><html><body><script>
var x = window.external, out = [];
try {
  out.push(typeof x);
  out.push(x.ZBL_clFileName);
  out.push("[" + x.ZBL_clFileName + "]");
  out.push(x.ZBL_GetVersion());
  out.push(typeof x.ZBL_IsZBL === "function" && !!x.ZBL_IsZBL);
  out.push(x.ZBL_IsZBL());
  out.push(x.ZBL_GetVersion === x.ZBL_GetVersion);
  out.push(typeof x.ZBL_NoSuchMember);
  try { x.ZBL_NoSuchMember(); out.push("no throw"); } catch (e) { out.push("throws"); }
  out.push(typeof x.zbl_getversion);
  out.push(x.ZBL_GetZBName() === "" ? "empty" : "set");
  out.push(x.ZBL_GetZBAid());
  out.push(x.ZBL_GetZBNVCheck());
  x.ZBL_SetZBPhone("+44 7700 900123");
  out.push(x.ZBL_GetZBPhone());
  x.ZBL_SetZBNetwork("");
  out.push("[" + x.ZBL_GetZBNetwork() + "]");
  out.push(x.ZBL_tsStatus);
  out.push(typeof x.ZBL_xhResponse);
  out.push(x.ZBL_SetZBName.length >= 0);
} catch (e) { out.push("EXC " + e); }
x.ZBL_SetZBName(out.join("|"));
x.ZBL_CloseWindow();
</script></body></html>)");
  app.Start({"/home/user/My Music/song one.mp3"});
  int code = -1;
  ASSERT_TRUE(app.WaitExit(60000, &code)) << app.Output();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(app.Value("ZBName"),
            "object|/home/user/My Music/song one.mp3|[]|260|true|true|true|undefined|throws|"
            "undefined|empty|2|0|+44 7700 900123|[]|0|string|true");

  std::string data;
  uint32_t type = 0;
  ASSERT_TRUE(app.ReadValue("ZBInstDir", &data, &type));
  EXPECT_EQ(data, app.ModuleDir());
  EXPECT_EQ(type, 3u);  // REG_BINARY, no terminator
  ASSERT_TRUE(app.ReadValue("ZBAid", &data, &type));
  EXPECT_EQ(data, "2");
  EXPECT_EQ(type, 3u);
  // The trace of a start: the store, its six values, ZBInstDir written, ZBAid read.
  std::string out = app.Output();
  EXPECT_EQ(out.rfind("REG_TRACE:\tconstructing registry for \"Software\\Zimbrel\" ... OK\n"
                      "REG_TRACE:\tconstructed object registry::value with name \"ZBName\"\n",
                      0),
            0u);
  EXPECT_NE(out.find("REG_TRACE:\twriting current value of key \"ZBInstDir\""), std::string::npos);
  EXPECT_NE(out.find("REG_TRACE:\tdestructed object registry::value with name \"ZBName\"\n"
                     "REG_TRACE:\tdestructing registry\n"),
            std::string::npos);
}

TEST(HostSpine, TitleBarCloseEndsTheProgramAndACopiedFolderRunsFromThere) {
  AppHarness app;
  app.WritePage("selectSong.html", R"(<!doctype html><script>
window.external.ZBL_SetZBName("up " + window.innerWidth + "x" + window.innerHeight);
</script>)");
  app.Start();
  // The web view is 760 x 520, whatever the frame.
  ASSERT_TRUE(app.WaitForValue("ZBName", "up 760x520", 30000)) << app.Output();
  std::string id = app.FindWindow("Zimbrel - The Ringtone Creator");
  ASSERT_FALSE(id.empty());
  // Enter and Esc change nothing.
  app.Keys(id, {"Return", "Escape"});
  EXPECT_TRUE(app.Running());
  AppHarness::RequestClose(id);
  int code = -1;
  ASSERT_TRUE(app.WaitExit(20000, &code));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(app.Value("ZBInstDir"), app.ModuleDir());
}

}  // namespace
}  // namespace zb::testing

namespace zb::testing {
namespace {

TEST(HostSpine, CloseWindowEndsARunningTranscoderAndThenTheProgram) {
  AppHarness app;
  // A transcoder that never finishes and tells us who it is.
  std::string pidFile = app.ModuleDir() + "/ffmpeg.pid";
  std::filesystem::remove(app.ModuleDir() + "/res/ffmpeg");
  app.WriteFile("res/ffmpeg", "#!/bin/sh\necho $$ > '" + pidFile + ".tmp' && mv '" + pidFile +
                                  ".tmp' '" + pidFile + "'\nexec sleep 120\n");
  std::filesystem::permissions(app.ModuleDir() + "/res/ffmpeg", std::filesystem::perms::owner_all);
  app.WriteFile("song.wav", "RIFF");
  app.WritePage("selectSong.html", R"(<!doctype html><script>
var x = window.external;
var dir = decodeURIComponent(location.pathname).replace(/res\/[^/]*$/, '');
x.ZBL_SetZBName(String(x.ZBL_TranscodeMedia(dir + 'song.wav', dir + 'res/tmp/out.mp3')));
setTimeout(function () { x.ZBL_SetZBPhone('closing ' + x.ZBL_tsStatus); x.ZBL_CloseWindow(); }, 1500);
</script>)");
  app.Start();
  int code = -1;
  ASSERT_TRUE(app.WaitExit(30000, &code)) << app.Output();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(app.Value("ZBName"), "true");
  EXPECT_EQ(app.Value("ZBPhone"), "closing 0");  // still running when the window closed
  std::ifstream f(pidFile);
  pid_t pid = 0;
  ASSERT_TRUE(f >> pid);
  // The transcoder is gone (or a zombie waiting for its new parent).
  EXPECT_TRUE(app.WaitUntil(
      [&] {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string s;
        std::getline(stat, s);
        return s.empty() || s.find(") Z") != std::string::npos;
      },
      5000));
}

}  // namespace
}  // namespace zb::testing
