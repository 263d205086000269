#include "app/modal_window.h"

#include <algorithm>

namespace zb {
namespace {
// A window's run, or a box's run (message box, file chooser).
struct Run {
  ModalWindow* window;
  GtkDialog* box;
};
std::vector<Run> gModalStack;
bool gEnding = false;

auto FindWindowRun(const ModalWindow* w) {
  return std::find_if(gModalStack.begin(), gModalStack.end(),
                      [w](const Run& r) { return r.window == w; });
}
}  // namespace

ModalWindow::~ModalWindow() {
  if (m_window) gtk_widget_destroy(m_window);
}

ModalWindow* ModalWindow::Active() {
  for (auto it = gModalStack.rbegin(); it != gModalStack.rend(); ++it)
    if (it->window) return it->window;
  return nullptr;
}

bool ModalWindow::HasRunAbove(const ModalWindow* w) {
  auto it = FindWindowRun(w);
  return it != gModalStack.end() && it + 1 != gModalStack.end();
}

void ModalWindow::EndAllRuns(int result) {
  gEnding = true;
  for (auto it = gModalStack.rbegin(); it != gModalStack.rend(); ++it) {
    if (it->window)
      it->window->EndModal(result);
    else if (it->box)
      gtk_dialog_response(it->box, GTK_RESPONSE_DELETE_EVENT);
  }
}

void ModalWindow::EndRunsAbove(const ModalWindow* w) {
  auto at = std::find_if(gModalStack.begin(), gModalStack.end(),
                         [w](const Run& r) { return r.window == w; });
  if (at == gModalStack.end()) return;
  const std::vector<Run> above(at + 1, gModalStack.end());
  for (auto it = above.rbegin(); it != above.rend(); ++it) {
    if (it->window)
      it->window->EndModal(2);
    else if (it->box)
      gtk_dialog_response(it->box, GTK_RESPONSE_DELETE_EVENT);
  }
}

bool ModalWindow::Ending() {
  return gEnding;
}

bool ModalWindow::PageDialogRunning() {
  return std::any_of(gModalStack.begin(), gModalStack.end(), [](const Run& r) {
    return r.window && r.window->m_kind == TitleBarKind::kPageDialog;
  });
}

ModalWindow::BoxGuard::BoxGuard(GtkDialog* box) : m_box(box) {
  gModalStack.push_back(Run{nullptr, box});
}
ModalWindow::BoxGuard::~BoxGuard() {
  auto it = std::find_if(gModalStack.rbegin(), gModalStack.rend(),
                         [this](const Run& r) { return !r.window && r.box == m_box; });
  if (it != gModalStack.rend()) gModalStack.erase(std::next(it).base());
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
  if (w->Running() && !HasRunAbove(w)) w->OnClose();
  return TRUE;  // the window's life is ours
}

gboolean ModalWindow::OnKeyPressEvent(GtkWidget*, GdkEventKey* ev, gpointer self) {
  auto* w = static_cast<ModalWindow*>(self);
  if (!w->Running() || HasRunAbove(w)) return FALSE;
  return w->OnKeyPress(ev) ? TRUE : FALSE;
}

int ModalWindow::DoModal() {
  if (gEnding) return -1;
  if (!m_window) OnInitDialog();
  if (!m_window) return -1;
  gModalStack.push_back(Run{this, nullptr});
  m_loop = g_main_loop_new(nullptr, FALSE);
  gtk_window_set_modal(GTK_WINDOW(m_window), m_kind == TitleBarKind::kPageDialog);
  gtk_widget_show_all(m_window);
  gtk_window_present(GTK_WINDOW(m_window));
  g_main_loop_run(m_loop);
  g_main_loop_unref(m_loop);
  m_loop = nullptr;
  gModalStack.erase(FindWindowRun(this));
  gtk_widget_hide(m_window);
  return m_result;
}

void ModalWindow::EndModal(int result) {
  m_result = result;
  if (m_loop) g_main_loop_quit(m_loop);
}

}  // namespace zb
