#include "app/title_bar_layout.h"

#include <gtest/gtest.h>

namespace zb {
namespace {

TEST(TitleBarLayout, KeepsTheDesktopsOrderAndSidesWithoutMaximise) {
  const auto main = TitleBarKind::kMainWindow;
  // GTK's own default, GNOME's, and a layout with the buttons on the left.
  EXPECT_EQ(TitleBarLayout("menu:minimize,maximize,close", main), "menu:minimize,close");
  EXPECT_EQ(TitleBarLayout("appmenu:close", main), "appmenu:minimize,close");
  EXPECT_EQ(TitleBarLayout("close,minimize,maximize:", main), "close,minimize:");
  EXPECT_EQ(TitleBarLayout("close,maximize:icon", main), "minimize,close:icon");
  EXPECT_EQ(TitleBarLayout("icon:close,minimize", main), "icon:close,minimize");
  // No colon: everything is on the left, as GTK reads it.
  EXPECT_EQ(TitleBarLayout("close", main), "minimize,close:");
  // Spaces, empty names and repeats are dropped.
  EXPECT_EQ(TitleBarLayout(" menu : minimize , ,close,close", main), "menu:minimize,close");
}

TEST(TitleBarLayout, AlwaysHasCloseAndPageDialogsOnlyClose) {
  EXPECT_EQ(TitleBarLayout("", TitleBarKind::kMainWindow), ":minimize,close");
  EXPECT_EQ(TitleBarLayout("menu:", TitleBarKind::kMainWindow), "menu:minimize,close");
  EXPECT_EQ(TitleBarLayout("minimize:menu", TitleBarKind::kMainWindow), "minimize:menu,close");
  const auto dlg = TitleBarKind::kPageDialog;
  EXPECT_EQ(TitleBarLayout("menu:minimize,maximize,close", dlg), "menu:close");
  EXPECT_EQ(TitleBarLayout("close,minimize:", dlg), "close:");
  EXPECT_EQ(TitleBarLayout("minimize:", dlg), ":close");
}

}  // namespace
}  // namespace zb
