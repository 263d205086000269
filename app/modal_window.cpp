#include "app/modal_window.h"

#include <algorithm>

namespace zb {
namespace {
// A window's run, or a box's run (message box, file chooser).
struct Run {
  CModalWindow* window;
  GtkDialog* box;
};
std::vector<Run> gModalStack;
bool gEnding = false;

auto FindWindowRun(const CModalWindow* w) {
  return std::find_if(gModalStack.begin(), gModalStack.end(),
                      [w](const Run& r) { return r.window == w; });
}
}  // namespace

CModalWindow::~CModalWindow() {
  if (m_window) gtk_widget_destroy(m_window);
}

CModalWindow* CModalWindow::Active() {
  for (auto it = gModalStack.rbegin(); it != gModalStack.rend(); ++it)
    if (it->window) return it->window;
  return nullptr;
}

bool CModalWindow::HasRunAbove(const CModalWindow* w) {
  auto it = FindWindowRun(w);
  return it != gModalStack.end() && it + 1 != gModalStack.end();
}

void CModalWindow::EndAllRuns(int result) {
  gEnding = true;
  for (auto it = gModalStack.rbegin(); it != gModalStack.rend(); ++it) {
    if (it->window)
      it->window->EndModal(result);
    else if (it->box)
      gtk_dialog_response(it->box, GTK_RESPONSE_DELETE_EVENT);
  }
}

bool CModalWindow::Ending() {
  return gEnding;
}

CModalWindow::BoxGuard::BoxGuard(GtkDialog* box) : m_box(box) {
  gModalStack.push_back(Run{nullptr, box});
}
CModalWindow::BoxGuard::~BoxGuard() {
  auto it = std::find_if(gModalStack.rbegin(), gModalStack.rend(),
                         [this](const Run& r) { return !r.window && r.box == m_box; });
  if (it != gModalStack.rend()) gModalStack.erase(std::next(it).base());
}

GtkWidget* CModalWindow::CreateFrame(GtkWidget* headerExtra) {
  m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  m_headerBar = gtk_header_bar_new();
  gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(m_headerBar), TRUE);
  gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(m_headerBar), "icon:close");
  if (headerExtra) gtk_header_bar_pack_end(GTK_HEADER_BAR(m_headerBar), headerExtra);
  gtk_window_set_titlebar(GTK_WINDOW(m_window), m_headerBar);
  gtk_window_set_resizable(GTK_WINDOW(m_window), FALSE);
  gtk_window_set_type_hint(GTK_WINDOW(m_window), GDK_WINDOW_TYPE_HINT_DIALOG);
  g_signal_connect(m_window, "delete-event", G_CALLBACK(&CModalWindow::OnDeleteEvent), this);
  g_signal_connect(m_window, "key-press-event", G_CALLBACK(&CModalWindow::OnKeyPressEvent), this);
  return m_window;
}

gboolean CModalWindow::OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
  auto* w = static_cast<CModalWindow*>(self);
  if (w->running() && !HasRunAbove(w)) w->OnClose();
  return TRUE;  // the window's life is ours
}

gboolean CModalWindow::OnKeyPressEvent(GtkWidget*, GdkEventKey* ev, gpointer self) {
  auto* w = static_cast<CModalWindow*>(self);
  if (!w->running() || HasRunAbove(w)) return FALSE;
  return w->OnKeyPress(ev) ? TRUE : FALSE;
}

int CModalWindow::DoModal() {
  if (gEnding) return -1;
  if (!m_window) OnInitDialog();
  if (!m_window) return -1;
  gModalStack.push_back(Run{this, nullptr});
  m_loop = g_main_loop_new(nullptr, FALSE);
  gtk_window_set_modal(GTK_WINDOW(m_window), TRUE);
  gtk_widget_show_all(m_window);
  gtk_window_present(GTK_WINDOW(m_window));
  g_main_loop_run(m_loop);
  g_main_loop_unref(m_loop);
  m_loop = nullptr;
  gModalStack.erase(FindWindowRun(this));
  gtk_widget_hide(m_window);
  return m_result;
}

void CModalWindow::EndModal(int result) {
  m_result = result;
  if (m_loop) g_main_loop_quit(m_loop);
}

}  // namespace zb
