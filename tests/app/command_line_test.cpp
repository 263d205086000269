#include "app/command_line.h"

#include <gtest/gtest.h>

namespace zb {
namespace {

std::string ValueOf(const std::vector<std::string>& argv, std::string* sw = nullptr) {
  CCommandLineParser p(RebuildCommandLine(argv));
  std::string s, v;
  p.Parse(s, v);
  if (sw) *sw = s;
  return v;
}

std::string ValueOfLine(const std::string& line) {
  CCommandLineParser p(line);
  std::string s, v;
  p.Parse(s, v);
  return v;
}

TEST(CommandLine, RebuildQuotesArgumentsWithBlanksOrNothing) {
  EXPECT_EQ(RebuildCommandLine({"/opt/z/zimbrel", "/m/a b.mp3", "", "x\ty", "plain"}),
            "/opt/z/zimbrel \"/m/a b.mp3\" \"\" \"x\ty\" plain");
}

TEST(CommandLine, TheArgumentIsTheSecondItem) {
  // A quoted path with spaces comes back without quotes, spaces kept.
  EXPECT_EQ(ValueOf({"/opt/Zimbrel Home/zimbrel", "/home/u/My Music/a  b.mp3"}),
            "/home/u/My Music/a b.mp3");  // runs of spaces inside quotes collapse
  EXPECT_EQ(ValueOf({"/opt/zimbrel", "/home/u/song.mp3"}), "/home/u/song.mp3");
  EXPECT_EQ(ValueOf({"/opt/zimbrel"}), "");
  std::string sw;
  EXPECT_EQ(ValueOf({"/opt/zimbrel", "-x", "song.mp3"}, &sw), "song.mp3");
  EXPECT_EQ(sw, "x");
  // A trailing switch gives an empty value.
  EXPECT_EQ(ValueOf({"/opt/zimbrel", "-x"}), "");
  // An unclosed quote takes the rest of the line.
  EXPECT_EQ(ValueOfLine("zimbrel \"/a b/c d"), "/a b/c d");
  // Tabs are part of a token; blanks around the line are trimmed.
  EXPECT_EQ(ValueOfLine("  zimbrel a\tb  "), "a\tb");
  EXPECT_EQ(ValueOfLine(""), "");
  EXPECT_EQ(ValueOfLine("\"\""), "");
  // A quoted value that starts with '-' is a value, not a switch.
  EXPECT_EQ(ValueOf({"zimbrel", "-odd name.mp3"}), "-odd name.mp3");
  // Only the item after the program path counts.
  EXPECT_EQ(ValueOf({"zimbrel", "/a.mp3", "/b.mp3"}), "/a.mp3");
}

}  // namespace
}  // namespace zb
