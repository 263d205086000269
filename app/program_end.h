// How the program ends besides the title-bar close and ZBL_CloseWindow.
#pragma once

namespace zb {

// From now on SIGTERM, SIGINT and SIGHUP end the program as a close does:
// the modal runs (message boxes, page dialogs, the main window) end from the
// innermost out on the main loop, and start-up's usual end follows (tool
// children ended, settings written and traced). Call before the main window
// runs; a signal that comes before its loop runs is served once it does.
void EndOnSignals();

// From now on the display going away (the compositor or X server ends, the
// session ends) ends the program as a close does, instead of GDK ending the
// process with status 1. Call once GTK has opened the display.
void EndWhenTheDisplayGoes();

}  // namespace zb
