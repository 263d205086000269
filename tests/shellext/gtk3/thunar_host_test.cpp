// libzimbrel-thunar.so loaded as Thunar loads it: libthunarx's own provider
// module (the ThunarxProviderPlugin Thunar makes for each file in its
// extension folder) calls the thunar_extension_* entry points, with a fake
// selection of ThunarxFileInfo objects.
// Some of thunarx's headers lack C linkage markers. The provider module is
// libthunarx's loader; its header is private.
#include <gtk/gtk.h>
extern "C" {
#include <thunarx/thunarx.h>
#define THUNARX_INSIDE_THUNARX_H
#include <thunarx/thunarx-provider-module.h>
#undef THUNARX_INSIDE_THUNARX_H
}

#include "menu_provider_cases.h"

namespace zb::testing {
namespace {

struct ThunarTraits {
  static constexpr char kName[] = "Thunar";
  static constexpr char kTipProperty[] = "tooltip";
  // The provider module opens its name inside Thunar's extension folder
  // (Debian's libthunarx reads no THUNARX_DIRS): the built module is named
  // from there, through "..".
  static ThunarxProviderModule* Module() {
    static ThunarxProviderModule* module = [] {
      std::string name;
      for (char c : std::string(THUNAR_EXTENSION_DIR))
        if (c == '/') name += "../";
      name += std::string(THUNAR_MODULE).substr(1);
      auto* m = thunarx_provider_module_new(name.c_str());
      return g_type_module_use(G_TYPE_MODULE(m)) ? m : nullptr;
    }();
    return module;
  }
  // Thunar asks for menu items with the window they are for. No
  // accessibility bridge: it would look for a bus that this test has not.
  static GtkWidget* Window() {
    static GtkWidget* window = [] {
      setenv("NO_AT_BRIDGE", "1", 1);
      return gtk_init_check(nullptr, nullptr) ? gtk_offscreen_window_new() : nullptr;
    }();
    return window;
  }
  static const char* Unavailable() { return Window() ? nullptr : "no display for a GtkWindow"; }
  static GType ProviderType() {
    if (!Module()) return G_TYPE_INVALID;
    const GType* types = nullptr;
    gint count = 0;
    thunarx_provider_module_list_types(Module(), &types, &count);
    return count == 1 ? types[0] : G_TYPE_INVALID;
  }
  static GType FileInfoInterface() { return THUNARX_TYPE_FILE_INFO; }
  static void FileInfoInit(gpointer iface, gpointer) {
    auto* i = static_cast<ThunarxFileInfoIface*>(iface);
    i->get_location = FakeGetLocation<ThunarxFileInfo>;
    i->get_uri = FakeGetUri<ThunarxFileInfo>;
    i->get_name = FakeGetName<ThunarxFileInfo>;
    i->is_directory = FakeIsDirectory<ThunarxFileInfo>;
  }
  static GList* FileItems(GObject* provider, GList* files) {
    EXPECT_TRUE(THUNARX_IS_MENU_PROVIDER(provider));
    return thunarx_menu_provider_get_file_menu_items(THUNARX_MENU_PROVIDER(provider), Window(),
                                                     files);
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Thunar, MenuProviderTest, ThunarTraits);

// Thunar unloads plugins that are not resident when it no longer needs
// them; ours holds the provider type and the handlers' libraries.
TEST(ThunarPluginTest, StaysResident) {
  ASSERT_NE(ThunarTraits::Module(), nullptr);
  EXPECT_TRUE(
      thunarx_provider_plugin_get_resident(THUNARX_PROVIDER_PLUGIN(ThunarTraits::Module())));
}

}  // namespace
}  // namespace zb::testing
