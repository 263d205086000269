// libzimbrel-nautilus.so loaded as Nautilus loads it (a GTypeModule over
// g_module_open and the three module entry points), with a fake selection of
// NautilusFileInfo objects.
#include <gio/gio.h>
extern "C" {
#include <nautilus-extension.h>
}

#include "menu_provider_cases.h"

namespace zb::testing {
namespace {

namespace fs = std::filesystem;

struct NautilusTraits {
  static constexpr char kName[] = "Nautilus";
  static constexpr char kTipProperty[] = "tip";
  static const char* Unavailable() { return nullptr; }
  static GType ProviderType() {
    static GType type = LoadTypeModule(NAUTILUS_MODULE, "nautilus");
    return type;
  }
  static GType FileInfoInterface() { return NAUTILUS_TYPE_FILE_INFO; }
  static void FileInfoInit(gpointer iface, gpointer) {
    auto* i = static_cast<NautilusFileInfoInterface*>(iface);
    i->get_location = FakeGetLocation<NautilusFileInfo>;
    i->get_uri = FakeGetUri<NautilusFileInfo>;
    i->get_name = FakeGetName<NautilusFileInfo>;
    i->is_directory = FakeIsDirectory<NautilusFileInfo>;
    i->is_gone = FakeIsGone<NautilusFileInfo>;
  }
  static GList* FileItems(GObject* provider, GList* files) {
    EXPECT_TRUE(NAUTILUS_IS_MENU_PROVIDER(provider));
    return nautilus_menu_provider_get_file_items(NAUTILUS_MENU_PROVIDER(provider), files);
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Nautilus, MenuProviderTest, NautilusTraits);

// What the host core does with the registry, seen once through one module.
using HostCoreTest = MenuProviderTest<NautilusTraits>;

TEST_F(HostCoreTest, HandlerThatIsNotApprovedIsSkipped) {
  Register();
  fs::remove(m_dir /
             "reg/HKEY_LOCAL_MACHINE/Software/Microsoft/Windows/CurrentVersion/"
             "Shell Extensions/Approved/{5905D5DE-79B4-4149-AE02-9847C2A328ED}");
  EXPECT_EQ(ItemsFor(m_song), nullptr);
  EXPECT_FALSE(LibraryMapped(DOVETRIL_SO));
}

TEST_F(HostCoreTest, MissingLibraryIsSkipped) {
  Register();
  std::string server =
      m_dir / "reg/HKEY_CLASSES_ROOT/CLSID/{5905D5DE-79B4-4149-AE02-9847C2A328ED}/InprocServer32/@";
  std::ofstream(server, std::ios::binary) << RegSzFile(m_dir / "gone.so");
  EXPECT_EQ(ItemsFor(m_song), nullptr);
}

}  // namespace
}  // namespace zb::testing
