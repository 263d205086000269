#include "shellext/message_box.h"

#include <dlfcn.h>
#include <gtk/gtk.h>  // GTK 4 declarations only: the functions are looked up at run time

#include <cstdio>
#include <mutex>

#include "platform/utf.h"
#include "shellext/host_message_box.h"

namespace zb {

namespace {

constexpr char kGtk3Library[] = "libgtk-3.so.0";
constexpr char kGtk4Library[] = "libgtk-4.so.1";

// The calls the box makes, bound to one GTK major version. The types,
// enumerations and signals used here are the same in GTK 3 and GTK 4; the
// few functions that differ are wrapped so both versions look alike.
struct GtkApi {
  bool ok = false;
  bool (*initialized)() = nullptr;  // initialises GTK when it can; false without a display
  GtkWidget* (*messageDialogNew)(GtkWindow*, GtkDialogFlags, GtkMessageType, GtkButtonsType,
                                 const char*, ...) = nullptr;
  void (*windowSetTitle)(GtkWindow*, const char*) = nullptr;
  void (*windowSetModal)(GtkWindow*, gboolean) = nullptr;
  void (*windowPresent)(GtkWindow*) = nullptr;
  void (*destroy)(GtkWidget*) = nullptr;
};

template <typename F>
bool Bind(void* lib, const char* name, F* out) {
  *out = reinterpret_cast<F>(dlsym(lib, name));
  return *out != nullptr;
}

bool BindCommon(void* lib, GtkApi* api) {
  return Bind(lib, "gtk_message_dialog_new", &api->messageDialogNew) &&
         Bind(lib, "gtk_window_set_title", &api->windowSetTitle) &&
         Bind(lib, "gtk_window_set_modal", &api->windowSetModal) &&
         Bind(lib, "gtk_window_present", &api->windowPresent);
}

// GTK 3: gtk_init_check(int*, char***) returns at once when GTK is already
// up; the box goes with gtk_widget_destroy.
gboolean (*gGtk3InitCheck)(int*, char***) = nullptr;
void (*gGtk3WidgetDestroy)(GtkWidget*) = nullptr;

const GtkApi* Gtk3(void* lib) {
  static GtkApi api;
  static std::once_flag once;
  std::call_once(once, [lib] {
    api.ok = BindCommon(lib, &api) && Bind(lib, "gtk_init_check", &gGtk3InitCheck) &&
             Bind(lib, "gtk_widget_destroy", &gGtk3WidgetDestroy);
    api.initialized = [] { return gGtk3InitCheck(nullptr, nullptr) != FALSE; };
    api.destroy = [](GtkWidget* w) { gGtk3WidgetDestroy(w); };
  });
  return api.ok ? &api : nullptr;
}

// GTK 4: gtk_is_initialized, gtk_init_check(void), gtk_window_destroy.
gboolean (*gGtk4IsInitialized)() = nullptr;
gboolean (*gGtk4InitCheck)() = nullptr;
void (*gGtk4WindowDestroy)(GtkWindow*) = nullptr;

const GtkApi* Gtk4(void* lib) {
  static GtkApi api;
  static std::once_flag once;
  std::call_once(once, [lib] {
    api.ok = BindCommon(lib, &api) && Bind(lib, "gtk_is_initialized", &gGtk4IsInitialized) &&
             Bind(lib, "gtk_init_check", &gGtk4InitCheck) &&
             Bind(lib, "gtk_window_destroy", &gGtk4WindowDestroy);
    api.initialized = [] { return gGtk4IsInitialized() || gGtk4InitCheck(); };
    // Plain cast: the checked cast macros would call into GTK by link name.
    api.destroy = [](GtkWidget* w) { gGtk4WindowDestroy(reinterpret_cast<GtkWindow*>(w)); };
  });
  return api.ok ? &api : nullptr;
}

// The host's own GTK: GTK 3 or GTK 4, whichever the process has loaded
// (looked for in every scope, not only the global one); a process with
// neither gets GTK 4, loaded here and kept loaded (GTK's types cannot be
// unregistered). Null when no usable GTK could be had.
const GtkApi* HostGtk() {
  if (void* lib = dlopen(kGtk3Library, RTLD_NOW | RTLD_NOLOAD)) {
    const GtkApi* api = Gtk3(lib);
    dlclose(lib);  // drops the count RTLD_NOLOAD added; the host keeps it loaded
    return api;
  }
  void* lib = dlopen(kGtk4Library, RTLD_NOW | RTLD_NOLOAD);
  if (!lib) lib = dlopen(kGtk4Library, RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
  if (!lib) return nullptr;
  const GtkApi* api = Gtk4(lib);
  dlclose(lib);
  return api;
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
  const GtkApi* gtk = HostGtk();
  if (!gtk || !gtk->initialized()) {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), body.c_str());
    return IDOK;
  }
  GtkMessageType kind = (type & MB_ICONERROR) ? GTK_MESSAGE_ERROR : GTK_MESSAGE_OTHER;
  GtkButtonsType buttons = (type & 0xF) == MB_OKCANCEL ? GTK_BUTTONS_OK_CANCEL : GTK_BUTTONS_OK;
  GtkWidget* dialog =
      gtk->messageDialogNew(nullptr, GTK_DIALOG_MODAL, kind, buttons, "%s", body.c_str());
  auto* window = reinterpret_cast<GtkWindow*>(dialog);
  gtk->windowSetTitle(window, title.c_str());
  gtk->windowSetModal(window, TRUE);
  RunState state{g_main_loop_new(nullptr, FALSE), type, IDOK};
  g_signal_connect(dialog, "response", G_CALLBACK(OnResponse), &state);
  gtk->windowPresent(window);
  g_main_loop_run(state.loop);
  g_signal_handlers_disconnect_by_data(dialog, &state);
  gtk->destroy(dialog);
  g_main_loop_unref(state.loop);
  return state.answer;
}

}  // namespace zb
