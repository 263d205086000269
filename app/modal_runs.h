// ModalRuns: the program's modal runs, innermost last: page dialogs and the
// main window (ModalWindow::DoModal) and boxes (message boxes, the file
// chooser: ModalRuns::BoxGuard). A window that has a run above it ignores
// close requests and keys until that run ends. EndAllRuns ends them from the
// innermost out (a signal or the display going away ends the program as a
// close does); from then on no new run starts and no box is shown.
//
// The application object owns the one ModalRuns and gives it by reference to
// what runs or ends modal runs; it ends after all of them. Main thread only.
#pragma once

#include <gtk/gtk.h>

#include <vector>

namespace zb {

class ModalWindow;

class ModalRuns {
 public:
  ModalRuns() = default;
  ModalRuns(const ModalRuns&) = delete;
  ModalRuns& operator=(const ModalRuns&) = delete;

  // The innermost window of a modal run (or null).
  ModalWindow* Active() const;
  // True when a modal run (a window or a box) is above `window`.
  bool HasRunAbove(const ModalWindow* window) const;
  // Ends every modal run, innermost first: boxes get a close response,
  // windows end with `result`. Later runs do not start.
  void EndAllRuns(int result);
  // Ends the runs above `window` (page dialogs with result 2, boxes with a
  // close response), innermost first; `window` runs on.
  void EndRunsAbove(const ModalWindow* window);
  // True once EndAllRuns has been called: boxes and dialogs are not shown.
  bool Ending() const { return m_ending; }
  // True while a page dialog runs (whichever window opened it).
  bool PageDialogRunning() const;

  // A window's run: from the start of its main loop to its end.
  void EnterWindow(ModalWindow* window);
  void LeaveWindow(const ModalWindow* window);

  // Marks a modal run that is not a ModalWindow (message boxes, the file
  // chooser) for the close-request rule and for EndAllRuns, for the guard's
  // life.
  class BoxGuard {
   public:
    BoxGuard(ModalRuns& runs, GtkDialog* box);
    ~BoxGuard();
    BoxGuard(const BoxGuard&) = delete;
    BoxGuard& operator=(const BoxGuard&) = delete;

   private:
    ModalRuns& m_runs;
    GtkDialog* m_box;
  };

 private:
  // A window's run, or a box's run.
  struct Run {
    ModalWindow* window;
    GtkDialog* box;
  };
  // Ends `run`: a window with `result`, a box with a close response.
  static void End(const Run& run, int result);

  std::vector<Run> m_runs;
  bool m_ending = false;
};

}  // namespace zb
