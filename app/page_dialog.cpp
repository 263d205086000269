#include "app/page_dialog.h"

#include <algorithm>

#include "app/zimbrel_app.h"
#include "app/zimbrel_dlg.h"

namespace zb {

GdkRectangle OwnerWorkArea(GtkWindow* owner) {
  // The monitor that holds most of the owner (the primary one when the owner
  // is not on screen yet).
  GdkDisplay* display = owner ? gtk_widget_get_display(GTK_WIDGET(owner)) : gdk_display_get_default();
  GdkMonitor* mon = nullptr;
  if (owner && gtk_widget_get_window(GTK_WIDGET(owner)))
    mon = gdk_display_get_monitor_at_window(display, gtk_widget_get_window(GTK_WIDGET(owner)));
  if (!mon) mon = gdk_display_get_primary_monitor(display);
  if (!mon && gdk_display_get_n_monitors(display) > 0) mon = gdk_display_get_monitor(display, 0);
  GdkRectangle wa{0, 0, 0, 0};
  if (mon) gdk_monitor_get_workarea(mon, &wa);
  return wa;
}

void CPageDialog::OnInitDialog() {
  CreateFrame(nullptr, TitleBarKind::kPageDialog);
  m_page = m_main->m_pageUrl;
  m_value = m_main->dialogValue();
  gtk_window_set_icon(GTK_WINDOW(m_window), CZimbrelDlg::WindowIcon());
  gtk_window_set_transient_for(GTK_WINDOW(m_window), m_owner);
  gtk_window_set_destroy_with_parent(GTK_WINDOW(m_window), TRUE);

  // Outer size from the main window's state; the client is what is left
  // inside this window's own frame (the whole client goes to the web view).
  int headerH = 0, headerNat = 0;
  gtk_widget_get_preferred_height(m_headerBar, &headerH, &headerNat);
  const int ownExtraW = 0, ownExtraH = headerNat;
  int clientW = std::clamp(m_main->m_pageWidth - ownExtraW, 1, 4096);
  int clientH = std::clamp(m_main->m_pageHeight - ownExtraH, 1, 4096);
  GtkWidget* view = m_webView.Create(GTK_WINDOW(m_window));
  gtk_widget_set_size_request(view, clientW, clientH);
  gtk_container_add(GTK_CONTAINER(m_window), view);

  // Placed at (left, top), then centred on its owner within the work area.
  int ox = 0, oy = 0, ow = 0, oh = 0;
  gtk_window_get_position(m_owner, &ox, &oy);
  gtk_window_get_size(m_owner, &ow, &oh);
  int outerW = clientW + ownExtraW, outerH = clientH + ownExtraH;
  int x = ox + (ow - outerW) / 2, y = oy + (oh - outerH) / 2;
  GdkRectangle wa = OwnerWorkArea(m_owner);
  if (wa.width > 0 && wa.height > 0) {
    x = std::clamp(x, wa.x, std::max(wa.x, wa.x + wa.width - outerW));
    y = std::clamp(y, wa.y, std::max(wa.y, wa.y + wa.height - outerH));
  }
  gtk_window_move(GTK_WINDOW(m_window), x, y);
  gtk_window_set_title(GTK_WINDOW(m_window), m_main->m_pageTitle.c_str());
  m_webView.Navigate2(m_page);
}

bool CPageDialog::OnKeyPress(GdkEventKey* ev) {
  if (ev->keyval == GDK_KEY_Escape) {
    Cancel();
    return true;
  }
  return false;
}

void CPageDialog::Cancel() {
  m_main->ClearPageDialogRecord();
  theApp.m_pageDialogOpen = 0;
  EndModal(2);
}

}  // namespace zb
