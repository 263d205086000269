// The title bars of the program's windows as GTK builds them, in this
// process, on a display of the test's own with a real window manager: which
// buttons show, in which order, and that the minimise button minimises.
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/app_harness.h"
#include "app/modal_window.h"
#include "app/two_monitor_display.h"

namespace zb::testing {
namespace {

class Frame : public ModalWindow {
 public:
  Frame(ModalRuns& runs, TitleBarKind kind) : ModalWindow(runs), m_kind(kind) { OnInitDialog(); }
  GtkWidget* Widget() const { return m_window; }
  GtkWidget* Header() const { return m_headerBar; }

 protected:
  void OnInitDialog() override {
    CreateFrame(nullptr, m_kind);
    gtk_window_set_title(GTK_WINDOW(m_window), "Frame");
    GtkWidget* body = gtk_label_new("body");
    gtk_widget_set_size_request(body, 400, 200);
    gtk_container_add(GTK_CONTAINER(m_window), body);
  }
  void OnClose() override {}

 private:
  TitleBarKind m_kind;
};

void Pump(int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

struct TitleButton {
  std::string name;
  GtkWidget* widget;
  int x;
};

void Collect(GtkWidget* w, GtkWidget* top, std::vector<TitleButton>* out) {
  GtkStyleContext* sc = gtk_widget_get_style_context(w);
  if (GTK_IS_BUTTON(w) && gtk_style_context_has_class(sc, "titlebutton") &&
      gtk_widget_get_visible(w)) {
    for (const char* name : {"minimize", "maximize", "close"}) {
      if (!gtk_style_context_has_class(sc, name)) continue;
      int x = 0, y = 0;
      gtk_widget_translate_coordinates(w, top, 0, 0, &x, &y);
      out->push_back({name, w, x});
    }
  }
  if (GTK_IS_CONTAINER(w)) {
    struct Ctx {
      GtkWidget* top;
      std::vector<TitleButton>* out;
    } ctx{top, out};
    gtk_container_forall(
        GTK_CONTAINER(w),
        +[](GtkWidget* child, gpointer p) {
          auto* c = static_cast<Ctx*>(p);
          Collect(child, c->top, c->out);
        },
        &ctx);
  }
}

// The title buttons from left to right.
std::vector<TitleButton> Buttons(const Frame& f) {
  std::vector<TitleButton> out;
  Collect(f.Header(), f.Widget(), &out);
  std::sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.x < b.x; });
  return out;
}

std::string Names(const std::vector<TitleButton>& b) {
  std::string s;
  for (auto& t : b) s += (s.empty() ? "" : ",") + t.name;
  return s;
}

TEST(TitleBar, ButtonsFollowTheDesktopAndMinimiseWorks) {
  TwoMonitorDisplay screen(true);
  ASSERT_TRUE(screen.Ok()) << screen.Log();
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  GtkSettings* settings = gtk_settings_get_default();
  // Buttons on the left, with maximise and without minimise.
  g_object_set(settings, "gtk-decoration-layout", "close,maximize:menu", nullptr);

  ModalRuns runs;
  Frame main(runs, TitleBarKind::kMainWindow);
  gtk_widget_show_all(main.Widget());
  Frame dialog(runs, TitleBarKind::kPageDialog);
  gtk_window_set_transient_for(GTK_WINDOW(dialog.Widget()), GTK_WINDOW(main.Widget()));
  gtk_window_set_modal(GTK_WINDOW(dialog.Widget()), TRUE);
  gtk_widget_show_all(dialog.Widget());
  Pump(500);

  auto buttons = Buttons(main);
  EXPECT_EQ(Names(buttons), "minimize,close");
  int width = gtk_widget_get_allocated_width(main.Widget());
  for (auto& b : buttons) EXPECT_LT(b.x, width / 2) << b.name << " is not on the left";
  EXPECT_EQ(Names(Buttons(dialog)), "close");

  // The desktop's layout changes while the windows are open.
  g_object_set(settings, "gtk-decoration-layout", "icon:minimize,maximize,close", nullptr);
  Pump(300);
  buttons = Buttons(main);
  EXPECT_EQ(Names(buttons), "minimize,close");
  for (auto& b : buttons) EXPECT_GT(b.x, width / 2) << b.name << " is not on the right";
  EXPECT_EQ(Names(Buttons(dialog)), "close");
  gtk_widget_hide(dialog.Widget());
  Pump(200);

  // A click on the minimise button minimises the window.
  ASSERT_FALSE(buttons.empty());
  GtkWidget* minimise = buttons.front().widget;
  int ox = 0, oy = 0, bx = 0, by = 0;
  gdk_window_get_origin(gtk_widget_get_window(main.Widget()), &ox, &oy);
  gtk_widget_translate_coordinates(minimise, main.Widget(),
                                   gtk_widget_get_allocated_width(minimise) / 2,
                                   gtk_widget_get_allocated_height(minimise) / 2, &bx, &by);
  AppHarness::Xdo(
      {"mousemove", "--sync", std::to_string(ox + bx), std::to_string(oy + by), "click", "1"});
  bool iconified = false;
  for (int i = 0; i < 200 && !iconified; ++i) {
    Pump(25);
    iconified =
        gdk_window_get_state(gtk_widget_get_window(main.Widget())) & GDK_WINDOW_STATE_ICONIFIED;
  }
  EXPECT_TRUE(iconified);
}

}  // namespace
}  // namespace zb::testing
