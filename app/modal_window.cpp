#include "app/modal_window.h"

#include <string>

namespace zb {

ModalWindow::~ModalWindow() {
  if (m_window) gtk_widget_destroy(m_window);
}

void ModalWindow::ApplyTitleBarLayout(ModalWindow* self) {
  gchar* desktop = nullptr;
  g_object_get(gtk_widget_get_settings(self->m_window), "gtk-decoration-layout", &desktop, nullptr);
  std::string layout = TitleBarLayout(desktop ? desktop : "", self->m_kind);
  g_free(desktop);
  gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(self->m_headerBar), layout.c_str());
}

void ModalWindow::OnRealize(GtkWidget* widget, gpointer self) {
  // What the window manager offers (its own menu, keys and allowed
  // actions) matches the title bar: move and close, and minimise for the
  // main window; never resize or maximise.
  auto* w = static_cast<ModalWindow*>(self);
  int functions = GDK_FUNC_MOVE | GDK_FUNC_CLOSE;
  if (w->m_kind == TitleBarKind::kMainWindow) functions |= GDK_FUNC_MINIMIZE;
  gdk_window_set_functions(gtk_widget_get_window(widget), static_cast<GdkWMFunction>(functions));
}

GtkWidget* ModalWindow::CreateFrame(GtkWidget* headerExtra, TitleBarKind kind) {
  m_kind = kind;
  m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  m_headerBar = gtk_header_bar_new();
  gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(m_headerBar), TRUE);
  ApplyTitleBarLayout(this);
  // Follows the desktop's layout while the window lives.
  g_object_set_data(G_OBJECT(m_window), "zimbrel-modal-window", this);
  g_signal_connect_object(gtk_widget_get_settings(m_window), "notify::gtk-decoration-layout",
                          G_CALLBACK(+[](GObject*, GParamSpec*, gpointer window) {
                            ApplyTitleBarLayout(static_cast<ModalWindow*>(
                                g_object_get_data(G_OBJECT(window), "zimbrel-modal-window")));
                          }),
                          m_window, G_CONNECT_DEFAULT);
  if (headerExtra) gtk_header_bar_pack_end(GTK_HEADER_BAR(m_headerBar), headerExtra);
  gtk_window_set_titlebar(GTK_WINDOW(m_window), m_headerBar);
  gtk_window_set_resizable(GTK_WINDOW(m_window), FALSE);
  gtk_window_set_type_hint(GTK_WINDOW(m_window), kind == TitleBarKind::kMainWindow
                                                     ? GDK_WINDOW_TYPE_HINT_NORMAL
                                                     : GDK_WINDOW_TYPE_HINT_DIALOG);
  g_signal_connect_after(m_window, "realize", G_CALLBACK(&ModalWindow::OnRealize), this);
  g_signal_connect(m_window, "delete-event", G_CALLBACK(&ModalWindow::OnDeleteEvent), this);
  g_signal_connect(m_window, "key-press-event", G_CALLBACK(&ModalWindow::OnKeyPressEvent), this);
  return m_window;
}

gboolean ModalWindow::OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
  auto* w = static_cast<ModalWindow*>(self);
  if (w->Running() && !w->m_runs.HasRunAbove(w)) w->OnClose();
  return TRUE;  // the window's life is ours
}

gboolean ModalWindow::OnKeyPressEvent(GtkWidget*, GdkEventKey* ev, gpointer self) {
  auto* w = static_cast<ModalWindow*>(self);
  if (!w->Running() || w->m_runs.HasRunAbove(w)) return FALSE;
  return w->OnKeyPress(ev) ? TRUE : FALSE;
}

int ModalWindow::DoModal() {
  if (m_runs.Ending()) return -1;
  if (!m_window) OnInitDialog();
  if (!m_window) return -1;
  m_runs.EnterWindow(this);
  m_loop = g_main_loop_new(nullptr, FALSE);
  gtk_window_set_modal(GTK_WINDOW(m_window), m_kind == TitleBarKind::kPageDialog);
  gtk_widget_show_all(m_window);
  gtk_window_present(GTK_WINDOW(m_window));
  g_main_loop_run(m_loop);
  g_main_loop_unref(m_loop);
  m_loop = nullptr;
  m_runs.LeaveWindow(this);
  gtk_widget_hide(m_window);
  return m_result;
}

void ModalWindow::EndModal(int result) {
  m_result = result;
  if (m_loop) g_main_loop_quit(m_loop);
}

}  // namespace zb
