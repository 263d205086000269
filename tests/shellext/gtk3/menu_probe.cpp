// A GTK 3 module for the end-to-end tests, loaded into the real file manager
// through GTK_MODULES: it writes what the user would see into the folder
// named by ZB_PROBE_DIR, one file per event, each written under a temporary
// name and renamed:
//   window-<n>: a toplevel window was shown: its X window id and title;
//   menu-<n>:   a popup menu was shown: one line per visible item,
//               "<x>\t<y>\t<sensitive>\t<label>" with the item's centre in
//               screen coordinates and the label without mnemonic marks;
//   dialog-<n>: a message box was shown: its title, its text, and the centre
//               of its OK button.
// It observes only; the tests press keys and click as a user does.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <string>

namespace {

int gCount = 0;

void WriteEvent(const char* kind, const std::string& text) {
  const char* dir = g_getenv("ZB_PROBE_DIR");
  if (!dir) return;
  std::string name = std::string(dir) + "/" + kind + "-" + std::to_string(++gCount);
  std::string tmp = std::string(dir) + "/." + kind + ".tmp";
  if (g_file_set_contents(tmp.c_str(), text.data(), static_cast<gssize>(text.size()), nullptr))
    std::rename(tmp.c_str(), name.c_str());
}

std::string WithoutMnemonics(const char* label) {
  std::string out;
  for (const char* p = label ? label : ""; *p; ++p)
    if (*p != '_' || p[1] == '_') out += *p == '_' ? *++p : *p;
  return out;
}

// The centre of a widget in screen coordinates.
bool Centre(GtkWidget* w, int* x, int* y) {
  GdkWindow* win = gtk_widget_get_window(w);
  if (!win) return false;
  int ox = 0, oy = 0;
  gdk_window_get_origin(win, &ox, &oy);
  GtkAllocation a;
  gtk_widget_get_allocation(w, &a);
  if (!gtk_widget_get_has_window(w)) {
    ox += a.x;
    oy += a.y;
  }
  *x = ox + a.width / 2;
  *y = oy + a.height / 2;
  return true;
}

const char* LabelOf(GtkWidget* item) {
  if (const char* l = gtk_menu_item_get_label(GTK_MENU_ITEM(item))) return l;
  GtkWidget* child = gtk_bin_get_child(GTK_BIN(item));
  return GTK_IS_LABEL(child) ? gtk_label_get_label(GTK_LABEL(child)) : "";
}

gboolean DumpMenu(gpointer data) {
  auto* menu = static_cast<GtkWidget*>(data);
  if (gtk_widget_get_mapped(menu)) {
    std::string out;
    GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList* l = children; l; l = l->next) {
      auto* item = static_cast<GtkWidget*>(l->data);
      if (!GTK_IS_MENU_ITEM(item) || GTK_IS_SEPARATOR_MENU_ITEM(item) ||
          !gtk_widget_get_visible(item))
        continue;
      int x = 0, y = 0;
      Centre(item, &x, &y);
      out += std::to_string(x) + "\t" + std::to_string(y) + "\t" +
             (gtk_widget_is_sensitive(item) ? "1" : "0") + "\t" + WithoutMnemonics(LabelOf(item)) +
             "\n";
    }
    g_list_free(children);
    WriteEvent("menu", out);
  }
  g_object_unref(menu);
  return G_SOURCE_REMOVE;
}

gboolean DumpDialog(gpointer data) {
  auto* dialog = static_cast<GtkWidget*>(data);
  if (gtk_widget_get_mapped(dialog)) {
    gchar* text = nullptr;
    g_object_get(dialog, "text", &text, nullptr);
    const char* title = gtk_window_get_title(GTK_WINDOW(dialog));
    std::string out = std::string(title ? title : "") + "\n" + (text ? text : "") + "\n";
    g_free(text);
    GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    int x = 0, y = 0;
    if (ok && Centre(ok, &x, &y))
      out += "OK\t" + std::to_string(x) + "\t" + std::to_string(y) + "\n";
    WriteEvent("dialog", out);
  }
  g_object_unref(dialog);
  return G_SOURCE_REMOVE;
}

gboolean DumpWindow(gpointer data) {
  auto* window = static_cast<GtkWidget*>(data);
  GdkWindow* gdk = gtk_widget_get_window(window);
  if (gtk_widget_get_mapped(window) && gdk && GDK_IS_X11_WINDOW(gdk)) {
    const char* title = gtk_window_get_title(GTK_WINDOW(window));
    WriteEvent("window",
               std::to_string(gdk_x11_window_get_xid(gdk)) + "\n" + (title ? title : "") + "\n");
  }
  g_object_unref(window);
  return G_SOURCE_REMOVE;
}

// Runs after every "map": the report waits a moment, until the widget has
// its size and place.
gboolean OnMap(GSignalInvocationHint*, guint, const GValue* params, gpointer) {
  auto* w = static_cast<GtkWidget*>(g_value_get_object(&params[0]));
  if (GTK_IS_MENU(w))
    g_timeout_add(150, DumpMenu, g_object_ref(w));
  else if (GTK_IS_MESSAGE_DIALOG(w))
    g_timeout_add(150, DumpDialog, g_object_ref(w));
  else if (GTK_IS_WINDOW(w) && gtk_window_get_window_type(GTK_WINDOW(w)) == GTK_WINDOW_TOPLEVEL)
    g_timeout_add(150, DumpWindow, g_object_ref(w));
  return TRUE;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void gtk_module_init(gint*, gchar***) {
  g_type_class_ref(GTK_TYPE_WIDGET);  // the signal exists once the class does
  g_signal_add_emission_hook(g_signal_lookup("map", GTK_TYPE_WIDGET), 0, OnMap, nullptr, nullptr);
}
