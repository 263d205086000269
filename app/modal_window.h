// A GTK window run modally: a nested main loop that ends with EndModal.
// Its runs are among the program's modal runs (app/modal_runs.h); a window
// that has a run above it ignores close requests and keys until that run
// ends.
#pragma once

#include <gtk/gtk.h>

#include "app/modal_runs.h"
#include "app/title_bar_layout.h"

namespace zb {

class ModalWindow {
 public:
  // `runs`: the program's modal runs, which must outlive the window.
  explicit ModalWindow(ModalRuns& runs) : m_runs(runs) {}
  virtual ~ModalWindow();
  ModalWindow(const ModalWindow&) = delete;
  ModalWindow& operator=(const ModalWindow&) = delete;

  GtkWindow* Window() const { return GTK_WINDOW(m_window); }
  // Runs the window until EndModal; returns its result (-1 at once once
  // the modal runs are ending).
  int DoModal();
  void EndModal(int result);
  bool Running() const { return m_loop != nullptr; }

  // Whether it is the main window or a page dialog (set by CreateFrame).
  TitleBarKind Kind() const { return m_kind; }
  // The program's modal runs, this window's among them.
  ModalRuns& Runs() const { return m_runs; }

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
  ModalRuns& m_runs;
  TitleBarKind m_kind = TitleBarKind::kPageDialog;
  GMainLoop* m_loop = nullptr;
  int m_result = 0;
};

}  // namespace zb
