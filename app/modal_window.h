// A GTK window run modally: a nested main loop that ends with EndModal.
// The application keeps a stack of the modal runs; a window that has a run
// above it ignores close requests until that run ends. EndAllRuns ends the
// program's runs from the innermost out (a signal ends the program as a
// close does); from then on no new run starts.
#pragma once

#include <gtk/gtk.h>

#include <vector>

#include "app/title_bar_layout.h"

namespace zb {

class ModalWindow {
 public:
  ModalWindow() = default;
  virtual ~ModalWindow();
  ModalWindow(const ModalWindow&) = delete;
  ModalWindow& operator=(const ModalWindow&) = delete;

  GtkWindow* Window() const { return GTK_WINDOW(m_window); }
  // Runs the window until EndModal; returns its result (-1 at once once
  // EndAllRuns has been called).
  int DoModal();
  void EndModal(int result);
  bool Running() const { return m_loop != nullptr; }

  // The innermost window of a modal run (or null).
  static ModalWindow* Active();
  // True when a modal run (a window or a box) is above `w`.
  static bool HasRunAbove(const ModalWindow* w);
  // Ends every modal run, innermost first: boxes get a close response,
  // windows end with `result`. Later runs do not start.
  static void EndAllRuns(int result);
  // Ends the runs above `w` (page dialogs with result 2, boxes with a close
  // response), innermost first; `w` runs on.
  static void EndRunsAbove(const ModalWindow* w);
  // True once EndAllRuns has been called: boxes and dialogs are not shown.
  static bool Ending();
  // True while a page dialog runs (whichever window opened it).
  static bool PageDialogRunning();
  // Marks a modal run that is not a ModalWindow (message boxes, the file
  // chooser) for the close-request rule and for EndAllRuns.
  class BoxGuard {
   public:
    explicit BoxGuard(GtkDialog* box);
    ~BoxGuard();
    BoxGuard(const BoxGuard&) = delete;
    BoxGuard& operator=(const BoxGuard&) = delete;

   private:
    GtkDialog* m_box;
  };

 protected:
  // Creates the window with a header bar whose buttons follow the desktop's
  // layout for that kind of window (and its later changes); `title` is set
  // later. A page dialog is modal to the window it is transient for; the
  // main window is modal to nothing, so the desktop lets it be minimised.
  GtkWidget* CreateFrame(GtkWidget* headerExtra, TitleBarKind kind);
  // Called once the window exists, before it is shown.
  virtual void OnInitDialog() = 0;
  // Title-bar close or Alt+F4 (only while no run is above this window).
  virtual void OnClose() = 0;
  // Keys that reach the window before its children; true to swallow.
  virtual bool OnKeyPress(GdkEventKey*) { return false; }

  GtkWidget* m_window = nullptr;
  GtkWidget* m_headerBar = nullptr;

 private:
  static gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self);
  static gboolean OnKeyPressEvent(GtkWidget*, GdkEventKey*, gpointer self);
  static void ApplyTitleBarLayout(ModalWindow* self);
  static void OnRealize(GtkWidget*, gpointer self);
  TitleBarKind m_kind = TitleBarKind::kPageDialog;
  GMainLoop* m_loop = nullptr;
  int m_result = 0;
};

}  // namespace zb
