// libzimbrel-caja.so loaded as Caja loads it (a GTypeModule over
// g_module_open and the three module entry points), with a fake selection of
// CajaFileInfo objects.
#include <libcaja-extension/caja-file-info.h>
#include <libcaja-extension/caja-menu-provider.h>

#include "menu_provider_cases.h"

namespace zb::testing {
namespace {

struct CajaTraits {
  static constexpr char kName[] = "Caja";
  static constexpr char kTipProperty[] = "tip";
  static const char* Unavailable() { return nullptr; }
  static GType ProviderType() {
    static GType type = LoadTypeModule(CAJA_MODULE, "caja");
    return type;
  }
  static GType FileInfoInterface() { return CAJA_TYPE_FILE_INFO; }
  static void FileInfoInit(gpointer iface, gpointer) {
    auto* i = static_cast<CajaFileInfoIface*>(iface);
    i->get_location = FakeGetLocation<CajaFileInfo>;
    i->get_uri = FakeGetUri<CajaFileInfo>;
    i->get_name = FakeGetName<CajaFileInfo>;
    i->is_directory = FakeIsDirectory<CajaFileInfo>;
    i->is_gone = FakeIsGone<CajaFileInfo>;
  }
  static GList* FileItems(GObject* provider, GList* files) {
    EXPECT_TRUE(CAJA_IS_MENU_PROVIDER(provider));
    return caja_menu_provider_get_file_items(CAJA_MENU_PROVIDER(provider), nullptr, files);
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Caja, MenuProviderTest, CajaTraits);

}  // namespace
}  // namespace zb::testing
