#include "shellext/message_box.h"

#include <dlfcn.h>
#include <gtk/gtk.h>  // GTK 4 declarations only: the functions are looked up at run time

#include <cstdio>
#include <mutex>

#include "platform/utf.h"
#include "shellext/host_message_box.h"

namespace zb {

namespace {

struct Gtk4 {
  decltype(&gtk_is_initialized) is_initialized = nullptr;
  decltype(&gtk_init_check) init_check = nullptr;
  decltype(&gtk_message_dialog_new) message_dialog_new = nullptr;
  decltype(&gtk_window_set_title) window_set_title = nullptr;
  decltype(&gtk_window_set_modal) window_set_modal = nullptr;
  decltype(&gtk_window_present) window_present = nullptr;
  decltype(&gtk_window_destroy) window_destroy = nullptr;
  bool ok = false;
};

template <typename F>
bool Bind(void* lib, const char* name, F* out) {
  *out = reinterpret_cast<F>(dlsym(lib, name));
  return *out != nullptr;
}

// GTK 4, from the process when it has it, else loaded (and kept loaded:
// GTK's types cannot be unregistered). Null in a GTK 3 process.
const Gtk4* LoadGtk4() {
  static Gtk4 gtk;
  static std::once_flag once;
  std::call_once(once, [] {
    if (dlsym(RTLD_DEFAULT, "gtk_container_add")) return;  // GTK 3 is here: no GTK 4
    void* lib = dlopen("libgtk-4.so.1", RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
    if (!lib) return;
    gtk.ok = Bind(lib, "gtk_is_initialized", &gtk.is_initialized) &&
             Bind(lib, "gtk_init_check", &gtk.init_check) &&
             Bind(lib, "gtk_message_dialog_new", &gtk.message_dialog_new) &&
             Bind(lib, "gtk_window_set_title", &gtk.window_set_title) &&
             Bind(lib, "gtk_window_set_modal", &gtk.window_set_modal) &&
             Bind(lib, "gtk_window_present", &gtk.window_present) &&
             Bind(lib, "gtk_window_destroy", &gtk.window_destroy);
  });
  return gtk.ok ? &gtk : nullptr;
}

struct RunState {
  GMainLoop* loop;
  UINT type;
  int answer;
};

void OnResponse(GtkDialog*, int response, gpointer data) {
  auto* state = static_cast<RunState*>(data);
  bool withCancel = (state->type & 0xF) == MB_OKCANCEL;
  if (response == GTK_RESPONSE_OK)
    state->answer = IDOK;
  else if (response == GTK_RESPONSE_CANCEL)
    state->answer = IDCANCEL;
  else
    state->answer = withCancel ? IDCANCEL : IDOK;  // closed by the title bar
  g_main_loop_quit(state->loop);
}

}  // namespace

int MessageBoxW(HWND, const char16_t* text, const char16_t* caption, UINT type) {
  std::string body = Utf16ToUtf8(text ? text : u"");
  std::string title = Utf16ToUtf8(caption ? caption : u"Error");
  if (host::HostMessageBoxFn hostBox = host::FindHostMessageBox())
    return hostBox(body.c_str(), title.c_str(), type);
  const Gtk4* gtk = LoadGtk4();
  if (!gtk || (!gtk->is_initialized() && !gtk->init_check())) {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), body.c_str());
    return IDOK;
  }
  GtkMessageType kind = (type & MB_ICONERROR) ? GTK_MESSAGE_ERROR : GTK_MESSAGE_OTHER;
  GtkButtonsType buttons = (type & 0xF) == MB_OKCANCEL ? GTK_BUTTONS_OK_CANCEL : GTK_BUTTONS_OK;
  GtkWidget* dialog =
      gtk->message_dialog_new(nullptr, GTK_DIALOG_MODAL, kind, buttons, "%s", body.c_str());
  // Plain casts: the checked cast macros would call into GTK by link name.
  auto* window = reinterpret_cast<GtkWindow*>(dialog);
  gtk->window_set_title(window, title.c_str());
  gtk->window_set_modal(window, TRUE);
  RunState state{g_main_loop_new(nullptr, FALSE), type, IDOK};
  g_signal_connect(dialog, "response", G_CALLBACK(OnResponse), &state);
  gtk->window_present(window);
  g_main_loop_run(state.loop);
  g_signal_handlers_disconnect_by_data(dialog, &state);
  gtk->window_destroy(window);
  g_main_loop_unref(state.loop);
  return state.answer;
}

}  // namespace zb
