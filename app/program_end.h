// How the program ends besides the title-bar close and ZBL_CloseWindow: a
// signal or the display going away ends the program's modal runs as a close
// does.
#pragma once

#include <gdk/gdk.h>

#include <vector>

namespace zb {

class ModalRuns;

class ProgramEnd {
 public:
  // `runs` must outlive it.
  explicit ProgramEnd(ModalRuns& runs) : m_runs(runs) {}
  // Takes back what it set up: the signals have their default effect again,
  // and the display going away no longer reaches the runs.
  ~ProgramEnd();
  ProgramEnd(const ProgramEnd&) = delete;
  ProgramEnd& operator=(const ProgramEnd&) = delete;

  // From now on SIGTERM, SIGINT and SIGHUP end the program as a close does:
  // the modal runs (message boxes, page dialogs, the main window) end from
  // the innermost out on the main loop, and start-up's usual end follows
  // (tool children ended, settings written and traced). Call before the main
  // window runs; a signal that comes before its loop runs is served once it
  // does.
  void EndOnSignals();

  // From now on the display going away (the compositor or X server ends, the
  // session ends) ends the program as a close does, instead of GDK ending the
  // process with status 1. Call once GTK has opened the display.
  void EndWhenTheDisplayGoes();

 private:
  ModalRuns& m_runs;
  std::vector<guint> m_sources;     // on the default main context
  GdkDisplay* m_display = nullptr;  // a reference; it carries the runs for Xlib
};

}  // namespace zb
