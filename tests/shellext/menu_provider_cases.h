// The cases every file manager's module must pass, loaded as its file
// manager loads it and asked for the items of a selection of fake file-info
// objects. Each module's test file describes its file manager in a traits
// type and instantiates the suite with it:
//
//   struct Traits {
//     static constexpr char kName[];        // unique, for the fake's type name
//     static constexpr char kTipProperty[]; // the menu item's tooltip property
//     static const char* Unavailable();     // why the cases cannot run here, or null
//     static GType ProviderType();          // loads the module once; its provider type
//     static GType FileInfoInterface();     // the file manager's file-info interface
//     static void FileInfoInit(gpointer iface, gpointer);  // fills it from the Fake* below
//     static GList* FileItems(GObject* provider, GList* files);
//   };
#pragma once

#include <dlfcn.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <gmodule.h>
#include <gtest/gtest.h>
#include <libintl.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "shellext_test_support.h"

namespace zb::testing {

// --- A file-info object with a location and the file manager's folder answer.
struct FakeFile {
  GObject parent;
  GFile* location;
  gboolean isDirectory;
};

template <typename Info>
GFile* FakeGetLocation(Info* info) {
  return G_FILE(g_object_ref(reinterpret_cast<FakeFile*>(info)->location));
}
template <typename Info>
char* FakeGetUri(Info* info) {
  return g_file_get_uri(reinterpret_cast<FakeFile*>(info)->location);
}
template <typename Info>
char* FakeGetName(Info* info) {
  return g_file_get_basename(reinterpret_cast<FakeFile*>(info)->location);
}
template <typename Info>
gboolean FakeIsDirectory(Info* info) {
  return reinterpret_cast<FakeFile*>(info)->isDirectory;
}
template <typename Info>
gboolean FakeIsGone(Info*) {
  return FALSE;
}

inline void FakeFileFinalize(GObject* obj) {
  g_clear_object(&reinterpret_cast<FakeFile*>(obj)->location);
  G_OBJECT_CLASS(g_type_class_peek_parent(G_OBJECT_GET_CLASS(obj)))->finalize(obj);
}

template <typename Traits>
GType FakeFileType() {
  static GType type = [] {
    static const GTypeInfo kInfo = {
        sizeof(GObjectClass),
        nullptr,
        nullptr,
        [](gpointer klass, gpointer) { G_OBJECT_CLASS(klass)->finalize = FakeFileFinalize; },
        nullptr,
        nullptr,
        sizeof(FakeFile),
        0,
        nullptr,
        nullptr};
    std::string name = std::string("ZbFakeFile") + Traits::kName;
    GType t =
        g_type_register_static(G_TYPE_OBJECT, name.c_str(), &kInfo, static_cast<GTypeFlags>(0));
    static const GInterfaceInfo kIface = {Traits::FileInfoInit, nullptr, nullptr};
    g_type_add_interface_static(t, Traits::FileInfoInterface(), &kIface);
    return t;
  }();
  return type;
}

// One selected item: a path (or URI when `uri` is set) and the folder answer.
struct Pick {
  std::string path;
  bool isDirectory = false;
  bool uri = false;
};

// --- The module of a GTypeModule-style file manager (Nautilus, Caja, Nemo):
// g_module_open, then <prefix>_module_initialize and <prefix>_module_list_types.
struct LoaderModule {
  GTypeModule parent;
  GModule* library;
  const char* path;
  const char* prefix;
};

inline gboolean LoaderLoad(GTypeModule* m) {
  auto* self = reinterpret_cast<LoaderModule*>(m);
  self->library = g_module_open(
      self->path, static_cast<GModuleFlags>(G_MODULE_BIND_LAZY | G_MODULE_BIND_LOCAL));
  gpointer init = nullptr;
  std::string name = std::string(self->prefix) + "_module_initialize";
  if (!self->library || !g_module_symbol(self->library, name.c_str(), &init)) return FALSE;
  reinterpret_cast<void (*)(GTypeModule*)>(init)(m);
  return TRUE;
}

// The module's one provider type (G_TYPE_INVALID when it cannot be loaded).
inline GType LoadTypeModule(const char* path, const char* prefix) {
  static GType loaderType = [] {
    static const GTypeInfo kInfo = {sizeof(GTypeModuleClass),
                                    nullptr,
                                    nullptr,
                                    [](gpointer klass, gpointer) {
                                      G_TYPE_MODULE_CLASS(klass)->load = LoaderLoad;
                                      G_TYPE_MODULE_CLASS(klass)->unload = [](GTypeModule*) {};
                                    },
                                    nullptr,
                                    nullptr,
                                    sizeof(LoaderModule),
                                    0,
                                    nullptr,
                                    nullptr};
    return g_type_register_static(G_TYPE_TYPE_MODULE, "ZbLoaderModule", &kInfo,
                                  static_cast<GTypeFlags>(0));
  }();
  auto* module = static_cast<GTypeModule*>(g_object_new(loaderType, nullptr));
  auto* self = reinterpret_cast<LoaderModule*>(module);
  self->path = path;
  self->prefix = prefix;
  if (!g_type_module_use(module)) return G_TYPE_INVALID;
  gpointer list = nullptr;
  std::string name = std::string(prefix) + "_module_list_types";
  if (!g_module_symbol(self->library, name.c_str(), &list)) return G_TYPE_INVALID;
  const GType* types = nullptr;
  int count = 0;
  reinterpret_cast<void (*)(const GType**, int*)>(list)(&types, &count);
  return count == 1 ? types[0] : G_TYPE_INVALID;
}

// The modules write menu icons into the user's cache folder, which GLib
// reads once per process: one temporary folder for the whole run.
class CacheFolder : public ::testing::Environment {
 public:
  void SetUp() override {
    m_dir = std::make_unique<TempDir>();
    setenv("XDG_CACHE_HOME", m_dir->Path().c_str(), 1);
  }
  void TearDown() override { m_dir.reset(); }

 private:
  std::unique_ptr<TempDir> m_dir;
};
inline ::testing::Environment* const kCacheFolder =
    ::testing::AddGlobalTestEnvironment(new CacheFolder);

template <typename Traits>
class MenuProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* why = Traits::Unavailable()) GTEST_SKIP() << why;
    ASSERT_NE(Traits::ProviderType(), G_TYPE_INVALID);
    m_provider = G_OBJECT(g_object_new(Traits::ProviderType(), nullptr));
    ProvisionApprovalKey();
    MakeFakeProgram(m_app, m_record);
    WriteInstDir(m_app);
  }
  void TearDown() override {
    if (m_provider) g_object_unref(m_provider);
  }

  void Register() {
    void* lib = dlopen(DOVETRIL_SO, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    auto reg = reinterpret_cast<int32_t (*)()>(dlsym(lib, "DllRegisterServer"));
    ASSERT_EQ(reg(), 0);
    dlclose(lib);
  }

  GList* ItemsFor(const std::vector<Pick>& picks) {
    GList* selection = nullptr;
    for (const auto& p : picks) {
      auto* info = static_cast<FakeFile*>(g_object_new(FakeFileType<Traits>(), nullptr));
      info->location =
          p.uri ? g_file_new_for_uri(p.path.c_str()) : g_file_new_for_path(p.path.c_str());
      info->isDirectory = p.isDirectory;
      selection = g_list_append(selection, info);
    }
    GList* items = Traits::FileItems(m_provider, selection);
    g_list_free_full(selection, g_object_unref);
    return items;
  }
  GList* ItemsFor(const std::string& path) { return ItemsFor(std::vector<Pick>{{path}}); }

  static std::string Prop(GList* item, const char* name) {
    gchar* v = nullptr;
    g_object_get(item->data, name, &v, nullptr);
    std::string s = v ? v : "";
    g_free(v);
    return s;
  }

  // Activates the one item for `path` and returns what the program received.
  std::vector<std::string> Launch(const std::string& path) {
    std::filesystem::remove(m_record);
    GList* items = ItemsFor(path);
    if (g_list_length(items) != 1) {
      g_list_free_full(items, g_object_unref);
      return {"no single entry for", path};
    }
    g_signal_emit_by_name(items->data, "activate");
    auto argv = WaitForRecord(m_record);
    g_list_free_full(items, g_object_unref);
    return argv;
  }

  TempDir m_dir;
  ScopedEnv m_env{"ZIMBREL_REGISTRY_DIR", m_dir / "reg"};
  std::string m_app = m_dir / "app";
  std::string m_record = m_dir / "argv";
  std::string m_song = m_dir / "Music/my song.mp3";
  GObject* m_provider = nullptr;
};

TYPED_TEST_SUITE_P(MenuProviderTest);

TYPED_TEST_P(MenuProviderTest, UnregisteredShowsNothing) {
  EXPECT_EQ(this->ItemsFor(this->m_song), nullptr);
  EXPECT_FALSE(LibraryMapped(DOVETRIL_SO));
}

TYPED_TEST_P(MenuProviderTest, RegisteredShowsTheEntryForOneAudioFileAndActivateStartsTheProgram) {
  this->Register();
  GList* items = this->ItemsFor(this->m_song);
  ASSERT_NE(items, nullptr);
  ASSERT_EQ(g_list_length(items), 1u);
  EXPECT_EQ(this->Prop(items, "label"), "Send to Phone as Ringtone");
  EXPECT_EQ(this->Prop(items, TypeParam::kTipProperty),
            "Use Zimbrel to personalize and send this song to your mobile phone as ringtone");
  EXPECT_EQ(this->Prop(items, "name"), "ZimbrelHost::{5905D5DE-79B4-4149-AE02-9847C2A328ED}::0");

  // The icon is the handler's bitmap: a 13 x 13 picture with the green screen.
  std::string icon = this->Prop(items, "icon");
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(icon.c_str(), nullptr);
  ASSERT_NE(pixbuf, nullptr) << icon;
  EXPECT_EQ(gdk_pixbuf_get_width(pixbuf), 13);
  EXPECT_EQ(gdk_pixbuf_get_height(pixbuf), 13);
  const guchar* px = gdk_pixbuf_get_pixels(pixbuf);
  int stride = gdk_pixbuf_get_rowstride(pixbuf);
  int ch = gdk_pixbuf_get_n_channels(pixbuf);
  EXPECT_EQ(px[0] + px[1] + px[2], 3 * 255) << "white background";
  const guchar* screen = px + 3 * stride + 6 * ch;
  EXPECT_GT(screen[1], screen[0] + 60) << "green screen";
  g_object_unref(pixbuf);

  EXPECT_TRUE(LibraryMapped(DOVETRIL_SO));  // the handler lives while its item does
  g_signal_emit_by_name(items->data, "activate");
  EXPECT_EQ(WaitForRecord(this->m_record),
            (std::vector<std::string>{this->m_app + "/zimbrel", this->m_song}));
  g_list_free_full(items, g_object_unref);
  EXPECT_FALSE(LibraryMapped(DOVETRIL_SO)) << "the library says it may be unloaded";
}

// The file manager's process runs in German: the entry comes from the
// catalogue beside dovetril.so, and the process's default text domain (the
// file manager's) is not touched.
TYPED_TEST_P(MenuProviderTest, UnderAGermanLocaleTheEntryIsGerman) {
  this->Register();
  const std::string before = textdomain(nullptr);
  const std::string messages = setlocale(LC_MESSAGES, nullptr);
  ASSERT_NE(setlocale(LC_MESSAGES, "de_DE.UTF-8"), nullptr)
      << "de_DE.UTF-8 is not generated (scripts/install-deps.sh --test)";
  {
    ScopedEnv language("LANGUAGE", std::nullopt);
    GList* items = this->ItemsFor(this->m_song);
    ASSERT_EQ(g_list_length(items), 1u);
    EXPECT_EQ(this->Prop(items, "label"), "Als Klingelton ans Telefon senden");
    EXPECT_EQ(this->Prop(items, TypeParam::kTipProperty),
              "Dieses Lied mit Zimbrel anpassen und als Klingelton an Ihr Handy senden");
    g_list_free_full(items, g_object_unref);
  }
  EXPECT_EQ(textdomain(nullptr), before);
  setlocale(LC_MESSAGES, messages.c_str());
}

TYPED_TEST_P(MenuProviderTest, AnyFileNameReachesTheProgramWhole) {
  this->Register();
  for (std::string name :
       {"it's \"quoted\" song.mp3", "two  spaces.mp3", "\"leading quote.mp3", "-dash first.MP3",
        "tab\there.ogg", "trailing space .m4a", "Señor – ♫.mp3"}) {
    std::string path = this->m_dir / ("Music/" + name);
    EXPECT_EQ(this->Launch(path), (std::vector<std::string>{this->m_app + "/zimbrel", path}));
  }
}

TYPED_TEST_P(MenuProviderTest, NoEntryForOtherSelections) {
  this->Register();
  EXPECT_EQ(this->ItemsFor(this->m_dir / "tune.wav"), nullptr);
  EXPECT_EQ(this->ItemsFor(std::vector<Pick>{{this->m_song}, {this->m_dir / "other.mp3"}}),
            nullptr);
  // A folder is no song, whatever its name says.
  EXPECT_EQ(this->ItemsFor(std::vector<Pick>{{this->m_dir / "Album.mp3", true}}), nullptr);
  // A file that is not local.
  EXPECT_EQ(this->ItemsFor(std::vector<Pick>{{"zbtest-nowhere://host/song.mp3", false, true}}),
            nullptr);
  EXPECT_FALSE(LibraryMapped(DOVETRIL_SO));
}

REGISTER_TYPED_TEST_SUITE_P(MenuProviderTest, UnregisteredShowsNothing,
                            RegisteredShowsTheEntryForOneAudioFileAndActivateStartsTheProgram,
                            UnderAGermanLocaleTheEntryIsGerman, AnyFileNameReachesTheProgramWhole,
                            NoEntryForOtherSelections);

}  // namespace zb::testing
