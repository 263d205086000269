#include "app/program_end.h"

#include <gdk/gdk.h>
#include <glib-unix.h>
#include <signal.h>

#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif
#ifdef GDK_WINDOWING_X11
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#endif

#include "app/modal_window.h"

namespace zb {

void EndOnSignals() {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    g_unix_signal_add(
        sig,
        +[](gpointer) -> gboolean {
          ModalWindow::EndAllRuns(1);
          return G_SOURCE_CONTINUE;
        },
        nullptr);
  }
}

namespace {
#ifdef GDK_WINDOWING_X11
// Xlib calls this when a request finds the connection gone; GDK's own
// handler would end the process at once with status 1.
int OnXConnectionLost(Display*) {
  ModalWindow::EndAllRuns(1);
  return 0;
}
void KeepRunningAfterXConnectionLost(Display*, void*) {}
#endif
}  // namespace

void EndWhenTheDisplayGoes() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return;
  int fd = -1;
#ifdef GDK_WINDOWING_WAYLAND
  if (GDK_IS_WAYLAND_DISPLAY(display))
    fd = wl_display_get_fd(gdk_wayland_display_get_wl_display(display));
#endif
#ifdef GDK_WINDOWING_X11
  if (GDK_IS_X11_DISPLAY(display)) {
    Display* x = gdk_x11_display_get_xdisplay(display);
    fd = ConnectionNumber(x);
    XSetIOErrorHandler(OnXConnectionLost);
    XSetIOErrorExitHandler(x, KeepRunningAfterXConnectionLost, nullptr);
  }
#endif
  if (fd < 0) return;
  // Checked before GDK's event source (which reads the connection at the
  // default priority): once this source is ready, the main loop neither
  // checks nor dispatches GDK's, so GDK never sees the error it would end
  // the process on. The hang-up stays, so the source stays ready while the
  // modal runs unwind.
  GSource* source = g_unix_fd_source_new(fd, static_cast<GIOCondition>(G_IO_HUP | G_IO_ERR));
  g_source_set_priority(source, G_PRIORITY_HIGH);
  GUnixFDSourceFunc ended = [](gint, GIOCondition, gpointer) -> gboolean {
    ModalWindow::EndAllRuns(1);
    return G_SOURCE_CONTINUE;
  };
  g_source_set_callback(source, G_SOURCE_FUNC(ended), nullptr, nullptr);
  g_source_attach(source, nullptr);
  g_source_unref(source);
}

}  // namespace zb
