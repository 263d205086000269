// The program's modal runs with real GTK windows and message boxes, on a
// display: which run is innermost, that a window with a run above it ignores
// its close, and that ending the runs ends them from the innermost out. Each
// set of runs is an object of its own: ending one leaves another as it was.
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/message_box.h"
#include "app/modal_runs.h"
#include "app/modal_window.h"

namespace zb {
namespace {

// Runs `step` once the innermost main loop is free (inside the runs started
// so far).
void Soon(std::function<void()> step) {
  g_idle_add_full(
      G_PRIORITY_DEFAULT_IDLE,
      +[](gpointer p) {
        (*static_cast<std::function<void()>*>(p))();
        return G_SOURCE_REMOVE;
      },
      new std::function<void()>(std::move(step)),
      +[](gpointer p) { delete static_cast<std::function<void()>*>(p); });
}

// A plain window of either kind that calls `whileRunning` once its run has
// started; the title-bar close ends it with 7.
class TestWindow : public ModalWindow {
 public:
  TestWindow(ModalRuns& runs, TitleBarKind kind, std::function<void()> whileRunning)
      : ModalWindow(runs), m_kind(kind), m_whileRunning(std::move(whileRunning)) {}

  // A close request as the window manager sends it; true when the window
  // took it as a close.
  bool RequestClose() {
    const int before = m_closes;
    GdkEvent* event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(m_window)));
    gtk_widget_event(m_window, event);
    gdk_event_free(event);
    return m_closes > before;
  }

 protected:
  void OnInitDialog() override {
    CreateFrame(nullptr, m_kind);
    gtk_window_set_title(GTK_WINDOW(m_window), "Run");
    gtk_container_add(GTK_CONTAINER(m_window), gtk_label_new("run"));
    if (m_whileRunning) Soon(m_whileRunning);
  }
  void OnClose() override {
    ++m_closes;
    EndModal(7);
  }

 private:
  TitleBarKind m_kind;
  std::function<void()> m_whileRunning;
  int m_closes = 0;
};

class ModalRunsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display"; }
};

TEST_F(ModalRunsTest, EndingAllRunsEndsThemInnermostFirstAndNoneStartsAfter) {
  ModalRuns runs, other;
  int boxResult = -1, dialogResult = -1;
  std::vector<std::string> ended;
  TestWindow* dialogPtr = nullptr;
  TestWindow main(runs, TitleBarKind::kMainWindow, [&] {
    EXPECT_EQ(runs.Active(), &main);
    EXPECT_FALSE(runs.PageDialogRunning());
    TestWindow dialog(runs, TitleBarKind::kPageDialog, [&] {
      EXPECT_EQ(runs.Active(), dialogPtr);
      EXPECT_TRUE(runs.PageDialogRunning());
      EXPECT_TRUE(runs.HasRunAbove(&main));
      EXPECT_FALSE(runs.HasRunAbove(dialogPtr));
      // Under the dialog the main window takes no close.
      EXPECT_FALSE(main.RequestClose());
      Soon([&] {
        // A box is a run, not a window: the dialog stays the innermost
        // window, but now has a run above it.
        EXPECT_EQ(runs.Active(), dialogPtr);
        EXPECT_TRUE(runs.HasRunAbove(dialogPtr));
        EXPECT_FALSE(dialogPtr->RequestClose());
        EXPECT_EQ(other.Active(), nullptr);
        runs.EndAllRuns(5);
        EXPECT_TRUE(runs.Ending());
        EXPECT_FALSE(other.Ending());
      });
      boxResult = ShowMessageBox(runs, dialogPtr->Window(), "box", "Run", MB_OKCANCEL);
      ended.push_back("box");
    });
    dialogPtr = &dialog;
    dialogResult = dialog.DoModal();
    ended.push_back("dialog");
    dialogPtr = nullptr;
  });
  EXPECT_EQ(main.DoModal(), 5);
  ended.push_back("main");

  EXPECT_EQ(boxResult, IDCANCEL);  // closed, as by its title bar
  EXPECT_EQ(dialogResult, 5);
  EXPECT_EQ(ended, (std::vector<std::string>{"box", "dialog", "main"}));
  EXPECT_EQ(runs.Active(), nullptr);
  EXPECT_FALSE(runs.PageDialogRunning());
  // From now on nothing runs on these runs; other runs are not ending.
  EXPECT_EQ(main.DoModal(), -1);
  EXPECT_EQ(ShowMessageBox(runs, nullptr, "late", "Run", MB_OK), 0);
  EXPECT_FALSE(other.Ending());
  TestWindow elsewhere(other, TitleBarKind::kMainWindow,
                       [&] { EXPECT_TRUE(elsewhere.RequestClose()); });
  EXPECT_EQ(elsewhere.DoModal(), 7);
}

TEST_F(ModalRunsTest, EndingTheRunsAboveAWindowLeavesItRunning) {
  ModalRuns runs;
  int boxResult = -1, dialogResult = -1;
  TestWindow* dialogPtr = nullptr;
  TestWindow main(runs, TitleBarKind::kMainWindow, [&] {
    TestWindow dialog(runs, TitleBarKind::kPageDialog, [&] {
      Soon([&] { runs.EndRunsAbove(&main); });
      boxResult = ShowMessageBox(runs, dialogPtr->Window(), "box", "Run", MB_YESNO);
    });
    dialogPtr = &dialog;
    dialogResult = dialog.DoModal();
    dialogPtr = nullptr;
    // The main window runs on, innermost again, and takes its close.
    EXPECT_TRUE(main.Running());
    EXPECT_EQ(runs.Active(), &main);
    EXPECT_FALSE(runs.HasRunAbove(&main));
    EXPECT_FALSE(runs.PageDialogRunning());
    EXPECT_FALSE(runs.Ending());
    EXPECT_TRUE(main.RequestClose());
  });
  EXPECT_EQ(main.DoModal(), 7);
  EXPECT_EQ(boxResult, 0);  // closed; a Yes/No box has no answer for that
  EXPECT_EQ(dialogResult, 2);
  EXPECT_EQ(runs.Active(), nullptr);
}

}  // namespace
}  // namespace zb
