#include "app/page_dialog.h"

#include <algorithm>

#ifdef GDK_WINDOWING_WAYLAND
#include <gdk/gdkwayland.h>
#endif

namespace zb {

GdkRectangle OwnerWorkArea(GtkWindow* owner) {
  // The monitor that holds most of the owner (the primary one when the owner
  // is not on screen yet).
  GdkDisplay* display =
      owner ? gtk_widget_get_display(GTK_WIDGET(owner)) : gdk_display_get_default();
  GdkMonitor* mon = nullptr;
  if (owner && gtk_widget_get_window(GTK_WIDGET(owner)))
    mon = gdk_display_get_monitor_at_window(display, gtk_widget_get_window(GTK_WIDGET(owner)));
  if (!mon) mon = gdk_display_get_primary_monitor(display);
  if (!mon && gdk_display_get_n_monitors(display) > 0) mon = gdk_display_get_monitor(display, 0);
  GdkRectangle wa{0, 0, 0, 0};
  if (mon) gdk_monitor_get_workarea(mon, &wa);
  return wa;
}

GdkRectangle ScreenRect(GtkWindow* w) {
  GdkRectangle r{0, 0, 0, 0};
  gtk_window_get_position(w, &r.x, &r.y);
  gtk_window_get_size(w, &r.width, &r.height);
  if (GdkWindow* g = gtk_widget_get_window(GTK_WIDGET(w))) gdk_window_get_frame_extents(g, &r);
  return r;
}

void CPageDialog::OnInitDialog() {
  // The page first (usually in the spare view, whose web process is already
  // running), then the window around it.
  GtkWidget* view = m_webView.Create(nullptr);
  m_webView.Navigate2(m_args.url);
  CreateFrame(nullptr, TitleBarKind::kPageDialog);
  m_webView.SetOwner(GTK_WINDOW(m_window));
  if (m_args.icon) gtk_window_set_icon(GTK_WINDOW(m_window), m_args.icon);
  gtk_window_set_transient_for(GTK_WINDOW(m_window), m_owner);
  gtk_window_set_destroy_with_parent(GTK_WINDOW(m_window), TRUE);

  // Outer size as the opener asked; the client is what is left
  // inside this window's own frame (the whole client goes to the web view).
  int headerH = 0, headerNat = 0;
  gtk_widget_get_preferred_height(m_headerBar, &headerH, &headerNat);
  const int ownExtraW = 0, ownExtraH = headerNat;
  int clientW = std::clamp(m_args.width - ownExtraW, 1, 4096);
  int clientH = std::clamp(m_args.height - ownExtraH, 1, 4096);
  gtk_widget_set_size_request(view, clientW, clientH);
  gtk_container_add(GTK_CONTAINER(m_window), view);

  gtk_widget_show_all(m_headerBar);
  gtk_widget_show_all(view);
  gtk_window_set_title(GTK_WINDOW(m_window), m_args.title.c_str());
  // The title's leading blanks only indent it in the title bar; a screen
  // reader gets the name alone.
  gchar* name = g_strstrip(g_strdup(m_args.title.c_str()));
  atk_object_set_name(gtk_widget_get_accessible(m_window), name);
  g_free(name);
#ifdef GDK_WINDOWING_WAYLAND
  // A Wayland compositor places windows itself: it knows the owner (the
  // transient parent), that this is a modal dialog of a fixed size, and
  // centres it on its owner as the desktop does (GNOME: across the owner, a
  // third of the way down the room the owner leaves).
  if (GDK_IS_WAYLAND_DISPLAY(gtk_widget_get_display(m_window))) return;
#endif

  // Placed at (left, top), then centred on its owner within the work area of
  // the owner's monitor. The window's whole extent counts: GTK leaves out the
  // margins of client-side decorations, which show as a border when the
  // screen is not composited. Both windows have the same kind of frame, so
  // the owner tells how GTK's positions relate to the screen's.
  gtk_widget_realize(m_window);  // sizes the window from its contents
  GdkRectangle owner = ScreenRect(m_owner);
  int gtkX = 0, gtkY = 0;
  gtk_window_get_position(m_owner, &gtkX, &gtkY);
  const int offX = owner.x - gtkX, offY = owner.y - gtkY;
  GdkWindow* self = gtk_widget_get_window(m_window);
  const int outerW = gdk_window_get_width(self), outerH = gdk_window_get_height(self);
  int x = owner.x + (owner.width - outerW) / 2, y = owner.y + (owner.height - outerH) / 2;
  GdkRectangle wa = OwnerWorkArea(m_owner);
  if (wa.width > 0 && wa.height > 0) {
    x = std::clamp(x, wa.x, std::max(wa.x, wa.x + wa.width - outerW));
    y = std::clamp(y, wa.y, std::max(wa.y, wa.y + wa.height - outerH));
  }
  gtk_window_move(GTK_WINDOW(m_window), x - offX, y - offY);
}

bool CPageDialog::OnKeyPress(GdkEventKey* ev) {
  if (ev->keyval == GDK_KEY_Escape) {
    Cancel();
    return true;
  }
  return false;
}

void CPageDialog::Cancel() {
  if (m_onCancel) m_onCancel();
  EndModal(2);
}

}  // namespace zb
