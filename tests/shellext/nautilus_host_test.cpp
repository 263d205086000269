// libzimbrel-nautilus.so loaded as Nautilus loads it (a GTypeModule over
// g_module_open and the three module entry points), with a fake selection of
// NautilusFileInfo objects.
#include <dlfcn.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <gmodule.h>
extern "C" {
#include <nautilus-extension.h>
}
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "shellext_test_support.h"

namespace {

namespace fs = std::filesystem;
using zb::testing::ScopedEnv;
using zb::testing::TempDir;

// --- A NautilusFileInfo with a location, as the file manager hands it out.
struct FakeFile {
  GObject parent;
  GFile* location;
};
struct FakeFileClass {
  GObjectClass parent;
};

GFile* FakeGetLocation(NautilusFileInfo* info) {
  return G_FILE(g_object_ref(reinterpret_cast<FakeFile*>(info)->location));
}
char* FakeGetUri(NautilusFileInfo* info) {
  return g_file_get_uri(reinterpret_cast<FakeFile*>(info)->location);
}
char* FakeGetName(NautilusFileInfo* info) {
  return g_file_get_basename(reinterpret_cast<FakeFile*>(info)->location);
}
gboolean FakeIsGone(NautilusFileInfo*) {
  return FALSE;
}

void FakeFileInfoInit(gpointer iface, gpointer) {
  auto* i = static_cast<NautilusFileInfoInterface*>(iface);
  i->get_location = FakeGetLocation;
  i->get_uri = FakeGetUri;
  i->get_name = FakeGetName;
  i->is_gone = FakeIsGone;
}

void FakeFileFinalize(GObject* obj) {
  g_clear_object(&reinterpret_cast<FakeFile*>(obj)->location);
  G_OBJECT_CLASS(g_type_class_peek_parent(G_OBJECT_GET_CLASS(obj)))->finalize(obj);
}
void FakeFileClassInit(gpointer klass, gpointer) {
  G_OBJECT_CLASS(klass)->finalize = FakeFileFinalize;
}

GType FakeFileType() {
  static GType type = 0;
  if (!type) {
    static const GTypeInfo info = {sizeof(FakeFileClass),
                                   nullptr,
                                   nullptr,
                                   FakeFileClassInit,
                                   nullptr,
                                   nullptr,
                                   sizeof(FakeFile),
                                   0,
                                   nullptr,
                                   nullptr};
    type =
        g_type_register_static(G_TYPE_OBJECT, "ZbFakeFileInfo", &info, static_cast<GTypeFlags>(0));
    static const GInterfaceInfo iface = {FakeFileInfoInit, nullptr, nullptr};
    g_type_add_interface_static(type, NAUTILUS_TYPE_FILE_INFO, &iface);
  }
  return type;
}

GList* Selection(const std::vector<GFile*>& files) {
  GList* list = nullptr;
  for (GFile* f : files) {
    auto* info = static_cast<FakeFile*>(g_object_new(FakeFileType(), nullptr));
    info->location = f;
    list = g_list_append(list, info);
  }
  return list;
}

// --- The module, loaded once per process as Nautilus does.
struct LoaderModule {
  GTypeModule parent;
  GModule* library;
};
struct LoaderModuleClass {
  GTypeModuleClass parent;
};

gboolean LoaderLoad(GTypeModule* m) {
  auto* self = reinterpret_cast<LoaderModule*>(m);
  self->library = g_module_open(
      NAUTILUS_MODULE, static_cast<GModuleFlags>(G_MODULE_BIND_LAZY | G_MODULE_BIND_LOCAL));
  gpointer init = nullptr;
  if (!self->library || !g_module_symbol(self->library, "nautilus_module_initialize", &init))
    return FALSE;
  reinterpret_cast<void (*)(GTypeModule*)>(init)(m);
  return TRUE;
}
void LoaderUnload(GTypeModule*) {}
void LoaderClassInit(gpointer klass, gpointer) {
  G_TYPE_MODULE_CLASS(klass)->load = LoaderLoad;
  G_TYPE_MODULE_CLASS(klass)->unload = LoaderUnload;
}

GType ProviderType() {
  static GType provider = [] {
    static const GTypeInfo info = {
        sizeof(LoaderModuleClass), nullptr, nullptr, LoaderClassInit, nullptr, nullptr,
        sizeof(LoaderModule),      0,       nullptr, nullptr};
    GType loaderType = g_type_register_static(G_TYPE_TYPE_MODULE, "ZbLoaderModule", &info,
                                              static_cast<GTypeFlags>(0));
    auto* module = static_cast<GTypeModule*>(g_object_new(loaderType, nullptr));
    if (!g_type_module_use(module)) return G_TYPE_INVALID;
    auto* self = reinterpret_cast<LoaderModule*>(module);
    gpointer list = nullptr;
    g_module_symbol(self->library, "nautilus_module_list_types", &list);
    const GType* types = nullptr;
    int count = 0;
    reinterpret_cast<void (*)(const GType**, int*)>(list)(&types, &count);
    return count == 1 ? types[0] : G_TYPE_INVALID;
  }();
  return provider;
}

// The module writes menu icons into the user's cache folder, which GLib
// reads once per process: one temporary folder for the whole run.
class CacheFolder : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<TempDir>();
    setenv("XDG_CACHE_HOME", dir_->path().c_str(), 1);
  }
  void TearDown() override { dir_.reset(); }

 private:
  std::unique_ptr<TempDir> dir_;
};
::testing::Environment* const kCacheFolder = ::testing::AddGlobalTestEnvironment(new CacheFolder);

bool LibraryMapped(const std::string& path) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.size() >= path.size() &&
        line.compare(line.size() - path.size(), path.size(), path) == 0)
      return true;
  return false;
}

class NautilusHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(ProviderType(), G_TYPE_INVALID);
    ASSERT_TRUE(g_type_is_a(ProviderType(), NAUTILUS_TYPE_MENU_PROVIDER));
    provider_ = NAUTILUS_MENU_PROVIDER(g_object_new(ProviderType(), nullptr));
    zb::testing::ProvisionApprovalKey();
    zb::testing::MakeFakeProgram(app, record);
    zb::testing::WriteInstDir(app);
  }
  void TearDown() override { g_object_unref(provider_); }

  void Register() {
    void* lib = dlopen(DOVETRIL_SO, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    auto reg = reinterpret_cast<int32_t (*)()>(dlsym(lib, "DllRegisterServer"));
    ASSERT_EQ(reg(), 0);
    dlclose(lib);
  }

  // The items for a selection of local paths.
  GList* ItemsFor(const std::vector<std::string>& paths) {
    std::vector<GFile*> files;
    for (const auto& p : paths) files.push_back(g_file_new_for_path(p.c_str()));
    GList* selection = Selection(files);
    GList* items = nautilus_menu_provider_get_file_items(provider_, selection);
    g_list_free_full(selection, g_object_unref);
    return items;
  }

  static std::string Prop(GList* item, const char* name) {
    gchar* v = nullptr;
    g_object_get(item->data, name, &v, nullptr);
    std::string s = v ? v : "";
    g_free(v);
    return s;
  }

  TempDir dir;
  ScopedEnv env{"ZIMBREL_REGISTRY_DIR", dir / "reg"};
  std::string app = dir / "app";
  std::string record = dir / "argv";
  std::string song = dir / "Music/my song.mp3";
  NautilusMenuProvider* provider_ = nullptr;
};

TEST_F(NautilusHostTest, UnregisteredShowsNothing) {
  EXPECT_EQ(ItemsFor({song}), nullptr);
}

TEST_F(NautilusHostTest, RegisteredShowsTheEntryForOneAudioFileAndActivateStartsTheProgram) {
  Register();
  GList* items = ItemsFor({song});
  ASSERT_NE(items, nullptr);
  ASSERT_EQ(g_list_length(items), 1u);
  EXPECT_EQ(Prop(items, "label"), "Send to Phone as Ringtone");
  EXPECT_EQ(Prop(items, "tip"),
            "Use Zimbrel to personalize and send this song to your mobile phone as ringtone");
  EXPECT_EQ(Prop(items, "name"), "ZimbrelHost::{5905D5DE-79B4-4149-AE02-9847C2A328ED}::0");

  // The icon is the handler's bitmap: a 13 x 13 picture with the green screen.
  std::string icon = Prop(items, "icon");
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(icon.c_str(), nullptr);
  ASSERT_NE(pixbuf, nullptr) << icon;
  EXPECT_EQ(gdk_pixbuf_get_width(pixbuf), 13);
  EXPECT_EQ(gdk_pixbuf_get_height(pixbuf), 13);
  const guchar* px = gdk_pixbuf_get_pixels(pixbuf);
  int stride = gdk_pixbuf_get_rowstride(pixbuf);
  int ch = gdk_pixbuf_get_n_channels(pixbuf);
  const guchar* corner = px;
  EXPECT_EQ(corner[0] + corner[1] + corner[2], 3 * 255) << "white background";
  const guchar* screen = px + 3 * stride + 6 * ch;
  EXPECT_GT(screen[1], screen[0] + 60) << "green screen";
  g_object_unref(pixbuf);

  EXPECT_TRUE(LibraryMapped(DOVETRIL_SO));  // the handler lives while its item does
  g_signal_emit_by_name(items->data, "activate");
  EXPECT_EQ(zb::testing::WaitForRecord(record), (std::vector<std::string>{app + "/zimbrel", song}));
  g_list_free_full(items, g_object_unref);
  EXPECT_FALSE(LibraryMapped(DOVETRIL_SO)) << "the library says it may be unloaded";
}

TEST_F(NautilusHostTest, NoEntryForOtherSelections) {
  Register();
  EXPECT_EQ(ItemsFor({dir / "tune.wav"}), nullptr);
  EXPECT_EQ(ItemsFor({song, dir / "other.mp3"}), nullptr);
  // A file that is not local.
  std::vector<GFile*> remote = {g_file_new_for_uri("zbtest-nowhere://host/song.mp3")};
  GList* selection = Selection(remote);
  EXPECT_EQ(nautilus_menu_provider_get_file_items(provider_, selection), nullptr);
  g_list_free_full(selection, g_object_unref);
  EXPECT_FALSE(LibraryMapped(DOVETRIL_SO));
}

TEST_F(NautilusHostTest, HandlerThatIsNotApprovedIsSkipped) {
  Register();
  fs::remove(dir /
             "reg/HKEY_LOCAL_MACHINE/Software/Microsoft/Windows/CurrentVersion/"
             "Shell Extensions/Approved/{5905D5DE-79B4-4149-AE02-9847C2A328ED}");
  EXPECT_EQ(ItemsFor({song}), nullptr);
  EXPECT_FALSE(LibraryMapped(DOVETRIL_SO));
}

TEST_F(NautilusHostTest, MissingLibraryIsSkipped) {
  Register();
  std::string server =
      dir / "reg/HKEY_CLASSES_ROOT/CLSID/{5905D5DE-79B4-4149-AE02-9847C2A328ED}/InprocServer32/@";
  std::ofstream(server, std::ios::binary) << zb::testing::RegSzFile(dir / "gone.so");
  EXPECT_EQ(ItemsFor({song}), nullptr);
}

}  // namespace
