#include "app/program_end.h"

#include <glib-unix.h>
#include <signal.h>

#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif
#ifdef GDK_WINDOWING_X11
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#endif

#include "app/modal_runs.h"

namespace zb {
namespace {

// The display's data that names the runs Xlib's handler ends.
constexpr char kRunsKey[] = "zimbrel-modal-runs";

gboolean OnSignal(gpointer runs) {
  static_cast<ModalRuns*>(runs)->EndAllRuns(1);
  return G_SOURCE_CONTINUE;
}

gboolean OnDisplayHangUp(gint, GIOCondition, gpointer runs) {
  static_cast<ModalRuns*>(runs)->EndAllRuns(1);
  return G_SOURCE_CONTINUE;
}

#ifdef GDK_WINDOWING_X11
// Xlib calls this when a request finds the connection gone; GDK's own
// handler would end the process at once with status 1. Xlib hands over no
// data of ours: the runs come from the GdkDisplay of the connection.
int OnXConnectionLost(Display* x) {
  if (GdkDisplay* display = gdk_x11_lookup_xdisplay(x))
    if (auto* runs = static_cast<ModalRuns*>(g_object_get_data(G_OBJECT(display), kRunsKey)))
      runs->EndAllRuns(1);
  return 0;
}
void KeepRunningAfterXConnectionLost(Display*, void*) {}
#endif

}  // namespace

ProgramEnd::~ProgramEnd() {
  for (guint source : m_sources) g_source_remove(source);
  if (m_display) {
    g_object_set_data(G_OBJECT(m_display), kRunsKey, nullptr);
    g_object_unref(m_display);
  }
}

void ProgramEnd::EndOnSignals() {
  for (int sig : {SIGTERM, SIGINT, SIGHUP})
    m_sources.push_back(g_unix_signal_add(sig, OnSignal, &m_runs));
}

void ProgramEnd::EndWhenTheDisplayGoes() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return;
  int fd = -1;
#ifdef GDK_WINDOWING_WAYLAND
  if (GDK_IS_WAYLAND_DISPLAY(display))
    fd = wl_display_get_fd(gdk_wayland_display_get_wl_display(display));
#endif
#ifdef GDK_WINDOWING_X11
  if (GDK_IS_X11_DISPLAY(display)) {
    m_display = GDK_DISPLAY(g_object_ref(display));
    g_object_set_data(G_OBJECT(m_display), kRunsKey, &m_runs);
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
  g_source_set_callback(source, G_SOURCE_FUNC(OnDisplayHangUp), &m_runs, nullptr);
  m_sources.push_back(g_source_attach(source, nullptr));
  g_source_unref(source);
}

}  // namespace zb
