#include "app/spare_view.h"

namespace zb {

SpareView::~SpareView() {
  Drop();
}

void SpareView::PrepareSoon() {
  if (m_view || m_makeSource) return;
  m_makeSource = g_idle_add_full(
      G_PRIORITY_LOW,
      +[](gpointer self) {
        auto* spare = static_cast<SpareView*>(self);
        spare->m_makeSource = 0;
        spare->Make();
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
}

void SpareView::Make() {
  if (m_view) return;
  m_view = m_makeView();
  g_signal_connect(m_view, "web-process-terminated", G_CALLBACK(OnTerminated), this);
  // Starts its web process.
  webkit_web_view_load_uri(m_view, "about:blank");
}

void SpareView::OnTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self) {
  // Not inside the view's own signal: once the main loop is free.
  auto* spare = static_cast<SpareView*>(self);
  if (spare->m_dropSource) return;
  spare->m_dropSource = g_idle_add(
      +[](gpointer self) {
        auto* spare = static_cast<SpareView*>(self);
        spare->m_dropSource = 0;
        spare->Drop();
        return G_SOURCE_REMOVE;
      },
      spare);
}

WebKitWebView* SpareView::Take() {
  if (m_dropSource) {
    // Its web process has ended: the caller makes a view of its own.
    Drop();
    return nullptr;
  }
  return Release();
}

WebKitWebView* SpareView::Release() {
  WebKitWebView* view = m_view;
  m_view = nullptr;
  if (view) g_signal_handlers_disconnect_by_data(view, this);
  return view;
}

void SpareView::Drop() {
  if (m_makeSource) g_source_remove(m_makeSource);
  m_makeSource = 0;
  if (m_dropSource) g_source_remove(m_dropSource);
  m_dropSource = 0;
  if (WebKitWebView* view = Release()) {
    gtk_widget_destroy(GTK_WIDGET(view));  // ends its web process
    g_object_unref(view);
  }
}

}  // namespace zb
