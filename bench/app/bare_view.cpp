// The same-run comparison for the program's start, dialog and memory figures:
// a bare GtkWindow with one WebKitWebView (its own web context, the same
// settings the program uses under Xvfb) loading a page, and nothing else.
//
//   bare_view <page uri> [<dialog page uri>]
//
// Prints each title the pages set ("load <ms>", "painted <ms>") on standard
// output. A title "open" on the first page opens the dialog page in a second
// window with a view of its own; when that page's title says it has painted,
// the window closes and the first page's next() runs. A title "quit" ends.
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string gDialogUri;
WebKitWebView* gMain = nullptr;
GtkWidget* gDialog = nullptr;

WebKitWebView* NewView(WebKitWebContext* ctx) {
  WebKitSettings* s = webkit_settings_new();
  webkit_settings_set_hardware_acceleration_policy(s, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_settings_set_allow_file_access_from_file_urls(s, TRUE);
  auto* v = WEBKIT_WEB_VIEW(
      g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", ctx, "settings", s, nullptr));
  g_object_unref(s);
  return v;
}

void OnTitle(WebKitWebView* view, GParamSpec*, gpointer ctx) {
  const char* t = webkit_web_view_get_title(view);
  if (!t || !*t) return;
  std::printf("%s\n", t);
  std::fflush(stdout);
  if (std::strcmp(t, "quit") == 0) gtk_main_quit();
  if (std::strncmp(t, "open", 4) == 0 && !gDialog) {
    gDialog = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(gDialog), 247, 270);
    WebKitWebView* d = NewView(static_cast<WebKitWebContext*>(ctx));
    g_signal_connect(d, "notify::title", G_CALLBACK(OnTitle), ctx);
    gtk_container_add(GTK_CONTAINER(gDialog), GTK_WIDGET(d));
    gtk_widget_show_all(gDialog);
    webkit_web_view_load_uri(d, gDialogUri.c_str());
  }
  if (std::strncmp(t, "painted", 7) == 0 && view != gMain && gDialog) {
    gtk_widget_destroy(gDialog);
    gDialog = nullptr;
    webkit_web_view_evaluate_javascript(gMain, "next()", -1, nullptr, nullptr, nullptr, nullptr,
                                        nullptr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  gtk_init(nullptr, nullptr);
  if (argc > 2) gDialogUri = argv[2];
  WebKitWebContext* ctx = webkit_web_context_new();
  webkit_web_context_set_cache_model(ctx, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
  GtkWidget* win = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(win), 762, 522);
  gMain = NewView(ctx);
  g_signal_connect(gMain, "notify::title", G_CALLBACK(OnTitle), ctx);
  gtk_container_add(GTK_CONTAINER(win), GTK_WIDGET(gMain));
  g_signal_connect(win, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show_all(win);
  webkit_web_view_load_uri(gMain, argv[1]);
  gtk_main();
  return 0;
}
