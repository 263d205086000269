// libzimbrel-nemo.so loaded as Nemo loads it (a GTypeModule over
// g_module_open and the three module entry points), with a fake selection of
// NemoFileInfo objects.
#include <libnemo-extension/nemo-file-info.h>
#include <libnemo-extension/nemo-menu-provider.h>

#include "menu_provider_cases.h"

namespace zb::testing {
namespace {

struct NemoTraits {
  static constexpr char kName[] = "Nemo";
  static constexpr char kTipProperty[] = "tip";
  static const char* Unavailable() { return nullptr; }
  static GType ProviderType() {
    static GType type = LoadTypeModule(NEMO_MODULE, "nemo");
    return type;
  }
  static GType FileInfoInterface() { return NEMO_TYPE_FILE_INFO; }
  static void FileInfoInit(gpointer iface, gpointer) {
    auto* i = static_cast<NemoFileInfoInterface*>(iface);
    i->get_location = FakeGetLocation<NemoFileInfo>;
    i->get_uri = FakeGetUri<NemoFileInfo>;
    i->get_name = FakeGetName<NemoFileInfo>;
    i->is_directory = FakeIsDirectory<NemoFileInfo>;
    i->is_gone = FakeIsGone<NemoFileInfo>;
  }
  static GList* FileItems(GObject* provider, GList* files) {
    EXPECT_TRUE(NEMO_IS_MENU_PROVIDER(provider));
    return nemo_menu_provider_get_file_items(NEMO_MENU_PROVIDER(provider), nullptr, files);
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Nemo, MenuProviderTest, NemoTraits);

}  // namespace
}  // namespace zb::testing
