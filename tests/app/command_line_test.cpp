#include "app/command_line.h"

#include <gtest/gtest.h>

#include "platform/stderr_notice.h"

namespace zb {
namespace {

std::string ValueOf(const std::vector<std::string>& argv, std::string* sw = nullptr,
                    std::string* switchArgument = nullptr) {
  CCommandLineParser p(argv);
  std::string s, v;
  p.Parse(s, v);
  if (sw) *sw = s;
  if (switchArgument) *switchArgument = p.SwitchArgument();
  return v;
}

TEST(CommandLine, EveryArgumentIsTakenWhole) {
  // What a file manager, "Open With" or a shell hands over arrives byte for
  // byte: no quote is stripped or matched, no blank trimmed or collapsed.
  for (std::string name :
       {"/m/it's \"quoted\" song.mp3", "/m/two  spaces.mp3", "/m/three   spaces.mp3",
        "/m/tab\there.mp3", "/m/trailing space.mp3 ", "\"/m/leading quote.mp3",
        "/m/ends in quote.mp3\"", "/m/\"", "  /m/leading blanks.mp3", "/m/Señor – ♫ 曲.mp3",
        "relative/song.mp3", "", "/m/\xff\xfe not UTF-8.mp3"})
    EXPECT_EQ(ValueOf({"/opt/z/zimbrel", name}), name);
}

TEST(CommandLine, TheArgumentIsTheSecondItem) {
  EXPECT_EQ(ValueOf({"/opt/zimbrel"}), "");
  EXPECT_EQ(ValueOf({}), "");
  // Only the item after the program path counts.
  EXPECT_EQ(ValueOf({"zimbrel", "/a.mp3", "/b.mp3"}), "/a.mp3");
  // A program path with blanks is one token too.
  EXPECT_EQ(ValueOf({"/opt/Zimbrel Home/zimbrel", "/m/a b.mp3"}), "/m/a b.mp3");
}

TEST(CommandLine, ASwitchIsDroppedAndNamed) {
  std::string sw, arg;
  // A switch before the file: the file is the value.
  EXPECT_EQ(ValueOf({"/opt/zimbrel", "-x", "/m/it's \"quoted\"  song.mp3"}, &sw, &arg),
            "/m/it's \"quoted\"  song.mp3");
  EXPECT_EQ(sw, "x");
  EXPECT_EQ(arg, "-x");
  // A trailing switch gives an empty value; so does a relative name that
  // begins with '-', which is a switch as before.
  EXPECT_EQ(ValueOf({"/opt/zimbrel", "-song.mp3"}, &sw, &arg), "");
  EXPECT_EQ(sw, "song.mp3");
  EXPECT_EQ(arg, "-song.mp3");
  EXPECT_EQ(ValueOf({"/opt/zimbrel", "./-song.mp3"}), "./-song.mp3");
  // A bare "-" is a switch with no name; "--" one named "-".
  EXPECT_EQ(ValueOf({"/opt/zimbrel", "-"}, &sw, &arg), "");
  EXPECT_EQ(arg, "-");
  EXPECT_EQ(ValueOf({"/opt/zimbrel", "--", "/a.mp3"}, &sw), "/a.mp3");
  EXPECT_EQ(sw, "-");
  // Two switches: the second starts the third item, which is ignored.
  EXPECT_EQ(ValueOf({"/opt/zimbrel", "-a", "-b", "/a.mp3"}, &sw, &arg), "");
  EXPECT_EQ(arg, "-a");
  // No switch read: nothing to name.
  EXPECT_EQ(ValueOf({"/opt/zimbrel", "/a.mp3", "-late"}, &sw, &arg), "/a.mp3");
  EXPECT_EQ(arg, "");
}

TEST(CommandLine, ParsingAgainGivesTheSameItems) {
  CCommandLineParser p({"zimbrel", "-x", "/a b.mp3"});
  std::string s1, v1, s2, v2;
  p.Parse(s1, v1);
  p.Parse(s2, v2);
  EXPECT_EQ(s1, s2);
  EXPECT_EQ(v1, v2);
  EXPECT_EQ(v2, "/a b.mp3");
}

TEST(CommandLine, TheNoticeNamesTheSwitchAndHowToGiveAFileOfThatName) {
  EXPECT_EQ(NoticeLine(IgnoredSwitchNotice("-x", false)), "zimbrel: ignoring the switch \"-x\"\n");
  EXPECT_EQ(NoticeLine(IgnoredSwitchNotice("-song.mp3", true)),
            "zimbrel: ignoring the switch \"-song.mp3\" (to open the file of that name, give it "
            "as \"./-song.mp3\")\n");
}

}  // namespace
}  // namespace zb
