// The launch error box, for real, on an X server of the test's own (Xvfb),
// in a process whose toolkit is the GTK this file is compiled against (GTK 3
// as in Caja, Nemo and Thunar, GTK 4 as in Nautilus). GTK runs in a fresh
// copy of the test program (re-executed with a filter), so no GTK state
// stays behind in the process that runs the other tests. The including file
// names the test suite (ZB_BOX_SUITE).
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>

#include "child_display.h"
#include "shellext/dovetril_ids.h"
#include "shellext/dovetril_module.h"
#include "shellext/file_drop.h"
#include "shellext/message_box.h"
#include "shellext_test_support.h"

namespace zb {
namespace {

using zb::testing::InChild;
using zb::testing::RunChild;
using zb::testing::Xvfb;

// What the box showed, seen from the GTK side.
struct Seen {
  std::string title, text;
  GtkMessageType type = GTK_MESSAGE_OTHER;
  bool okButton = false, cancelButton = false, modal = false;
  int polls = 0;
};

#if GTK_MAJOR_VERSION == 3
constexpr char kOtherGtk[] = "libgtk-4.so.1";
bool InitGtk() {
  return gtk_init_check(nullptr, nullptr);
}
GtkWidget* FindMessageDialog() {
  GList* tops = gtk_window_list_toplevels();
  GtkWidget* found = nullptr;
  for (GList* l = tops; l && !found; l = l->next)
    if (GTK_IS_MESSAGE_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data)))
      found = GTK_WIDGET(l->data);
  g_list_free(tops);
  return found;
}
#else
constexpr char kOtherGtk[] = "libgtk-3.so.0";
bool InitGtk() {
  return gtk_init_check();
}
GtkWidget* FindMessageDialog() {
  GListModel* tops = gtk_window_get_toplevels();
  for (guint i = 0; i < g_list_model_get_n_items(tops); ++i) {
    auto* w = static_cast<GtkWidget*>(g_list_model_get_item(tops, i));
    g_object_unref(w);  // the list keeps it
    if (GTK_IS_MESSAGE_DIALOG(w) && gtk_widget_get_visible(w)) return w;
  }
  return nullptr;
}
#endif

// True when the process has the other GTK major version loaded.
bool OtherGtkLoaded() {
  void* lib = dlopen(kOtherGtk, RTLD_NOW | RTLD_NOLOAD);
  if (lib) dlclose(lib);
  return lib != nullptr;
}

// Looks at the shown box and presses its OK button, as a user would.
gboolean AnswerBox(gpointer data) {
  auto* seen = static_cast<Seen*>(data);
  GtkWidget* dialog = FindMessageDialog();
  if (!dialog) return ++seen->polls < 500 ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
  seen->title = gtk_window_get_title(GTK_WINDOW(dialog));
  gchar* text = nullptr;
  g_object_get(dialog, "text", &text, "message-type", &seen->type, nullptr);
  seen->text = text ? text : "";
  g_free(text);
  seen->modal = gtk_window_get_modal(GTK_WINDOW(dialog));
  GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  seen->okButton = ok != nullptr;
  seen->cancelButton =
      gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL) != nullptr;
  if (ok)
    gtk_widget_activate(ok);
  else
    gtk_window_close(GTK_WINDOW(dialog));
  return G_SOURCE_REMOVE;
}

const char kExpectedText[] =
    "An error occured while trying to launch Zimbrel!           \n"
    "If this problem persists, please re-install the application.\n\n"
    "Click OK to continue.";

TEST(ZB_BOX_SUITE, HandlerShowsTheBoxAndReturnsSFalseAfterOk) {
  if (!InChild()) {
    Xvfb x;
    if (x.Display().empty()) GTEST_SKIP() << "Xvfb could not be started";
    zb::testing::TempDir dir;
    EXPECT_EQ(RunChild("DISPLAY=" + x.Display() +
                       " GSK_RENDERER=cairo ASAN_OPTIONS=detect_leaks=0 ZIMBREL_REGISTRY_DIR=" +
                       dir.Path()),
              0);
    return;
  }
  // The child: a handler whose program is missing, with the real box.
  ASSERT_TRUE(InitGtk());
  IClassFactory* factory = nullptr;
  ASSERT_EQ(DllGetClassObject(dovetril::CLSID_DovetrilShl, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory)),
            S_OK);
  IShellExtInit* init = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)),
            S_OK);
  factory->Release();
  IDataObject* data = CreateFileDropDataObject({"/m/a.mp3"});
  ASSERT_EQ(init->Initialize(nullptr, data, nullptr), S_OK);
  data->Release();
  IContextMenu* menu = nullptr;
  ASSERT_EQ(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);

  Seen seen;
  g_timeout_add(20, AnswerBox, &seen);
  CMINVOKECOMMANDINFO info = {};
  info.cbSize = sizeof info;
  info.lpVerb = MAKEINTRESOURCEA(0);
  EXPECT_EQ(menu->InvokeCommand(&info), S_FALSE);
  EXPECT_EQ(seen.title, "Fatal Error");
  EXPECT_EQ(seen.text, kExpectedText);
  EXPECT_TRUE(seen.okButton);
  EXPECT_FALSE(seen.cancelButton);
  EXPECT_TRUE(seen.modal);
  EXPECT_EQ(seen.type, GTK_MESSAGE_OTHER);  // MB_OK: no icon
  EXPECT_FALSE(OtherGtkLoaded()) << "the box uses the host's own GTK";
  menu->Release();
  init->Release();
}

TEST(ZB_BOX_SUITE, ClosingTheBoxAnswersOkAndCancelOnlyWithACancelButton) {
  if (!InChild()) {
    Xvfb x;
    if (x.Display().empty()) GTEST_SKIP() << "Xvfb could not be started";
    EXPECT_EQ(
        RunChild("DISPLAY=" + x.Display() + " GSK_RENDERER=cairo ASAN_OPTIONS=detect_leaks=0"), 0);
    return;
  }
  ASSERT_TRUE(InitGtk());
  auto closeBox = [](gpointer) -> gboolean {
    GtkWidget* d = FindMessageDialog();
    if (!d) return G_SOURCE_CONTINUE;
    gtk_window_close(GTK_WINDOW(d));
    return G_SOURCE_REMOVE;
  };
  g_timeout_add(20, closeBox, nullptr);
  EXPECT_EQ(MessageBoxW(nullptr, u"text", u"caption", MB_OK), IDOK);
  g_timeout_add(20, closeBox, nullptr);
  EXPECT_EQ(MessageBoxW(nullptr, u"text", u"caption", MB_OKCANCEL), IDCANCEL);
}

TEST(ZB_BOX_SUITE, WithoutADisplayTheTextGoesToStandardError) {
  if (!InChild()) {
    EXPECT_EQ(RunChild("env -u DISPLAY -u WAYLAND_DISPLAY"), 0);
    return;
  }
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxW(nullptr, u"Something failed", u"Fatal Error", MB_OK), IDOK);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Fatal Error: Something failed"), std::string::npos) << err;
}

}  // namespace
}  // namespace zb
