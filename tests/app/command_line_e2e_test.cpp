// The program started for real with one argument as a file manager, "Open
// With" or a shell hands it over: the start page reads it through
// ZBL_clFileName and gets it back byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/app_harness.h"

namespace zb::testing {
namespace {

// The page keeps both reads of ZBL_clFileName: the second is empty.
constexpr char kPage[] = R"(<!doctype html><script>
var x = window.external;
var first = x.ZBL_clFileName;
x.ZBL_SetZBPhone("[" + x.ZBL_clFileName + "]");
x.ZBL_SetZBName(first);
x.ZBL_CloseWindow();
</script>)";

struct Start {
  std::string value;  // what the page read
  std::string error;  // the program's standard error
};

// Runs the program with `args`; what the page read, and its standard error.
Start RunWith(const std::vector<std::string>& args) {
  AppHarness app;
  app.WritePage("selectSong.html", kPage);
  // The program's standard error goes to a file while it starts.
  std::string errFile = app.ModuleDir() + "/../stderr.txt";
  int saved = dup(2);
  int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(fd, 2);
  close(fd);
  app.Start(args);
  dup2(saved, 2);
  close(saved);
  Start out;
  int code = -1;
  if (!app.WaitExit(60000, &code) || code != 0) {
    ADD_FAILURE() << "the program did not end cleanly (" << code << ")\n" << app.Output();
    return out;
  }
  EXPECT_EQ(app.Value("ZBPhone"), "[]") << "the file is handed out once";
  out.value = app.Value("ZBName");
  std::ifstream f(errFile, std::ios::binary);
  out.error.assign(std::istreambuf_iterator<char>(f), {});
  return out;
}

TEST(CommandLineE2E, AnyFileNameReachesThePageWhole) {
  for (std::string name :
       {"/home/u/Music/it's \"quoted\" song.mp3", "/home/u/two  spaces.mp3",
        "/home/u/three   spaces.mp3", "/home/u/tab\there.mp3", "/home/u/trailing space.mp3 ",
        "\"/home/u/leading quote.mp3", "/home/u/ends in quote.mp3\"", "/home/u/Señor – ♫ 曲.mp3"}) {
    Start s = RunWith({name});
    EXPECT_EQ(s.value, name);
    EXPECT_EQ(s.error.find("ignoring"), std::string::npos) << s.error;
  }
}

TEST(CommandLineE2E, ASwitchIsDroppedWithOneLineOnStandardError) {
  // A switch before the file: the file still arrives.
  Start s = RunWith({"-x", "/home/u/My Music/a  b.mp3"});
  EXPECT_EQ(s.value, "/home/u/My Music/a  b.mp3");
  EXPECT_NE(s.error.find("zimbrel: ignoring the switch \"-x\"\n"), std::string::npos) << s.error;
  // A relative name that begins with '-' is a switch: nothing is chosen,
  // and the user is told why.
  s = RunWith({"-song.mp3"});
  EXPECT_EQ(s.value, "");
  EXPECT_NE(s.error.find("zimbrel: ignoring the switch \"-song.mp3\""), std::string::npos)
      << s.error;
}

TEST(CommandLineE2E, ANameThatIsNotUtf8ArrivesWithItsBadBytesReplaced) {
  // Such a name cannot be given to a page as it is; the program goes on.
  Start s = RunWith({"/home/u/\xff\xfe-raw.mp3"});
  EXPECT_EQ(s.value, "/home/u/\xEF\xBF\xBD\xEF\xBF\xBD-raw.mp3");
}

}  // namespace
}  // namespace zb::testing
