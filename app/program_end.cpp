#include "app/program_end.h"

#include <glib-unix.h>
#include <signal.h>

#include "app/modal_window.h"

namespace zb {

void EndOnSignals() {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    g_unix_signal_add(
        sig,
        +[](gpointer) -> gboolean {
          CModalWindow::EndAllRuns(1);
          return G_SOURCE_CONTINUE;
        },
        nullptr);
  }
}

}  // namespace zb
