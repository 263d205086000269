// The context-menu handler through its interfaces, created by the library's
// class object exactly as a file manager creates it.
#include "shellext/dovetril_shl.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shellext/bitmap.h"
#include "shellext/dovetril_ids.h"
#include "shellext/dovetril_module.h"
#include "shellext/file_drop.h"
#include "shellext/menu.h"
#include "shellext/message_box.h"
#include "shellext_test_support.h"

namespace zb::dovetril {
namespace {

using zb::testing::ScopedEnv;
using zb::testing::TempDir;

struct BoxCall {
  std::u16string text;
  std::u16string caption;
  UINT type;
};
std::vector<BoxCall> gBoxCalls;
int RecordBox(HWND, const char16_t* text, const char16_t* caption, UINT type) {
  gBoxCalls.push_back({text, caption, type});
  return IDOK;
}

template <typename T>
T* Query(IUnknown* unk, REFIID iid) {
  void* p = nullptr;
  return SUCCEEDED(unk->QueryInterface(iid, &p)) ? static_cast<T*>(p) : nullptr;
}

class DovetrilShlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gBoxCalls.clear();
    m_oldBox = SetMessageBoxFunction(&RecordBox);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(
        DllGetClassObject(CLSID_DovetrilShl, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
        S_OK);
    ASSERT_EQ(
        factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&m_init)),
        S_OK);
    factory->Release();
    m_menu = Query<IContextMenu>(m_init, IID_IContextMenu);
    ASSERT_NE(m_menu, nullptr);
  }
  void TearDown() override {
    if (m_menu) m_menu->Release();
    if (m_init) m_init->Release();
    SetMessageBoxFunction(m_oldBox);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
  }

  HRESULT Select(const std::vector<std::string>& paths) {
    IDataObject* data = CreateFileDropDataObject(paths);
    long blocks = GlobalLiveBlocks();
    HRESULT hr = m_init->Initialize(nullptr, data, nullptr);
    EXPECT_EQ(GlobalLiveBlocks(), blocks) << "the medium was not released";
    data->Release();
    return hr;
  }

  HRESULT Invoke(const char* verb) {
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;
    info.lpVerb = verb;
    return m_menu->InvokeCommand(&info);
  }

  TempDir m_dir;
  ScopedEnv m_env{"ZIMBREL_REGISTRY_DIR", m_dir.Path()};
  IShellExtInit* m_init = nullptr;
  IContextMenu* m_menu = nullptr;
  MessageBoxFn m_oldBox = nullptr;
};

TEST_F(DovetrilShlTest, InterfaceTableAndEmptyDispatch) {
  auto* disp = Query<IDispatch>(m_init, IID_IDispatch);
  auto* own = Query<IDovetrilShl>(m_init, IID_IDovetrilShl);
  auto* unk = Query<IUnknown>(m_menu, IID_IUnknown);
  ASSERT_TRUE(disp && own && unk);
  // IUnknown is the first entry: the IDovetrilShl pointer, from any interface.
  EXPECT_EQ(static_cast<void*>(unk), static_cast<void*>(own));
  EXPECT_EQ(static_cast<void*>(disp), static_cast<void*>(own));
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(m_init->QueryInterface(IID_IClassFactory, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);

  UINT count = 7;
  EXPECT_EQ(disp->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  OLECHAR name[] = u"ZBL_IsZBL";
  OLECHAR* names[] = {name};
  DISPID id = 5;
  EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(disp->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  disp->Release();
  own->Release();
  unk->Release();
}

TEST_F(DovetrilShlTest, AcceptsOneFileWithAnAudioExtensionIgnoringCase) {
  for (const char* ok :
       {"/m/Song.MP3", "/m/a.wma", "/m/b.Ogg", "/m/c.aac", "/m/d.M4A", "/m/e.mp4", "/m/.mp3"}) {
    EXPECT_EQ(Select({ok}), S_OK) << ok;
  }
  for (const char* no : {"/m/tune.wav", "/m/clip.mpeg", "/m/mp3", "mp3", "", "/m/a.mp3 ",
                         "/m/a.mp3/x", "/m/song.mp"}) {
    EXPECT_EQ(Select({no}), E_INVALIDARG) << no;
    EXPECT_TRUE(static_cast<DovetrilShl*>(m_init)->SelectedFile().empty());
  }
  EXPECT_EQ(Select({"/m/a.mp3", "/m/b.mp3"}), E_INVALIDARG);
  EXPECT_EQ(Select({}), E_INVALIDARG);
  EXPECT_EQ(m_init->Initialize(nullptr, nullptr, nullptr), E_INVALIDARG);
}

// A data object that has no file list to give.
class EmptyDataObject final : public IDataObject {
 public:
  HRESULT QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  HRESULT GetData(FORMATETC*, STGMEDIUM* m) override {
    m->tymed = TYMED_NULL;
    return DV_E_FORMATETC;
  }
  HRESULT QueryGetData(FORMATETC*) override { return DV_E_FORMATETC; }
};

TEST_F(DovetrilShlTest, DeclinesADataObjectWithoutFiles) {
  EmptyDataObject data;
  EXPECT_EQ(m_init->Initialize(nullptr, &data, nullptr), E_INVALIDARG);
}

TEST_F(DovetrilShlTest, KeepsALongPathWhole) {
  // Cut at 259 units this would name another file.
  std::string longPath = "/m/" + std::string(400, 'x') + "/song.mp3";
  ASSERT_EQ(Select({longPath}), S_OK);
  EXPECT_EQ(static_cast<DovetrilShl*>(m_init)->SelectedFile().size(), longPath.size());
}

TEST_F(DovetrilShlTest, QueryContextMenuInsertsOneEntryWithItsBitmap) {
  ASSERT_EQ(Select({"/m/a.mp3"}), S_OK);
  HMENU menu = CreatePopupMenu();
  InsertMenuW(menu, 0, MF_BYPOSITION, 1, u"Open");
  InsertMenuW(menu, 1, MF_BYPOSITION, 2, u"Properties");

  HRESULT hr = m_menu->QueryContextMenu(menu, 1, 100, 200, CMF_DEFAULTONLY);
  EXPECT_TRUE(SUCCEEDED(hr));
  EXPECT_EQ(HRESULT_CODE(hr), 0u);
  EXPECT_EQ(GetMenuItemCount(menu), 2);

  hr = m_menu->QueryContextMenu(menu, 1, 100, 200, CMF_NORMAL);
  EXPECT_TRUE(SUCCEEDED(hr));
  EXPECT_EQ(HRESULT_CODE(hr), 1u);
  ASSERT_EQ(GetMenuItemCount(menu), 3);
  const MenuItem& item = menu->items[1];
  EXPECT_EQ(item.id, 100u);
  EXPECT_EQ(item.text, u"Send to Phone as Ringtone");
  EXPECT_EQ(item.checkedBitmap, nullptr);
  ASSERT_NE(item.uncheckedBitmap, nullptr);
  EXPECT_EQ(item.uncheckedBitmap->width, 13);
  EXPECT_EQ(item.uncheckedBitmap->height, 13);
  EXPECT_EQ(menu->items[2].text, u"Properties");
  DestroyMenu(menu);

  // A failed insertion still reports one command id used.
  hr = m_menu->QueryContextMenu(nullptr, 0, 1, 2, CMF_NORMAL);
  EXPECT_EQ(HRESULT_CODE(hr), 1u);
}

TEST_F(DovetrilShlTest, HelpTextInBothWidthsWithinTheBuffer) {
  char16_t wide[128];
  EXPECT_EQ(m_menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(wide), 128),
            S_OK);
  EXPECT_EQ(std::u16string(wide),
            u"Use Zimbrel to personalize and send this song to your mobile phone as ringtone");

  char16_t small[16];
  std::fill(std::begin(small), std::end(small), u'#');
  EXPECT_EQ(m_menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(small), 10),
            S_OK);
  EXPECT_EQ(std::u16string(small), u"Use Zimbr");
  EXPECT_EQ(small[10], u'#');  // nothing written past the buffer

  char narrow[10];
  EXPECT_EQ(m_menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, narrow, sizeof narrow), S_OK);
  EXPECT_STREQ(narrow, "Use Zimbr");

  EXPECT_EQ(m_menu->GetCommandString(1, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(wide), 128),
            E_INVALIDARG);
  for (UINT type : {GCS_VERBA, GCS_VERBW, GCS_VALIDATEA, GCS_VALIDATEW})
    EXPECT_EQ(m_menu->GetCommandString(0, type, nullptr, narrow, sizeof narrow), E_INVALIDARG);
}

TEST_F(DovetrilShlTest, StartsTheProgramWithTheFileAndDoesNotWait) {
  // A folder and a file with blanks: two argv entries, nothing quoted.
  std::string app = m_dir / "Apps Dir/Zimbrel";
  std::string record = m_dir / "argv";
  zb::testing::MakeFakeProgram(app, record);
  std::string song = m_dir / "My Songs/a b.m4a";
  ASSERT_EQ(Select({song}), S_OK);
  // ZBInstDir is read when the command runs, not when the object is made.
  zb::testing::WriteInstDir(app);
  EXPECT_EQ(Invoke(MAKEINTRESOURCEA(0)), S_OK);
  EXPECT_EQ(zb::testing::WaitForRecord(record), (std::vector<std::string>{app + "/zimbrel", song}));
  EXPECT_TRUE(gBoxCalls.empty());
}

TEST_F(DovetrilShlTest, InstDirWithTrailingSlashOrNonAsciiNameStillStarts) {
  std::string app = m_dir / "アプリ";
  std::string record = m_dir / "argv";
  zb::testing::MakeFakeProgram(app, record);
  zb::testing::WriteInstDir(app + "/");
  ASSERT_EQ(Select({"/m/曲.mp3"}), S_OK);
  EXPECT_EQ(Invoke(MAKEINTRESOURCEA(0)), S_OK);
  EXPECT_EQ(zb::testing::WaitForRecord(record),
            (std::vector<std::string>{app + "//zimbrel", "/m/曲.mp3"}));
}

TEST_F(DovetrilShlTest, RefusesOtherCommandsAndStartsNothing) {
  std::string app = m_dir / "app";
  std::string record = m_dir / "argv";
  zb::testing::MakeFakeProgram(app, record);
  zb::testing::WriteInstDir(app);
  ASSERT_EQ(Select({"/m/a.mp3"}), S_OK);
  EXPECT_EQ(Invoke("open"), E_INVALIDARG);
  EXPECT_EQ(Invoke(MAKEINTRESOURCEA(1)), E_INVALIDARG);
  EXPECT_EQ(m_menu->InvokeCommand(nullptr), E_INVALIDARG);
  // A declined selection leaves nothing to start.
  EXPECT_EQ(Select({"/m/a.wav"}), E_INVALIDARG);
  EXPECT_EQ(Invoke(MAKEINTRESOURCEA(0)), E_INVALIDARG);
  EXPECT_TRUE(zb::testing::WaitForRecord(record, std::chrono::seconds(1)).empty());
  EXPECT_TRUE(gBoxCalls.empty());
}

TEST_F(DovetrilShlTest, MissingInstDirOrProgramShowsTheLaunchErrorAndReturnsSFalse) {
  ASSERT_EQ(Select({"/m/a.mp3"}), S_OK);
  EXPECT_EQ(Invoke(MAKEINTRESOURCEA(0)), S_FALSE);  // "/zimbrel": not there
  zb::testing::WriteInstDir(m_dir / "nowhere");
  EXPECT_EQ(Invoke(MAKEINTRESOURCEA(0)), S_FALSE);
  ASSERT_EQ(gBoxCalls.size(), 2u);
  for (const auto& call : gBoxCalls) {
    EXPECT_EQ(call.text,
              u"An error occured while trying to launch Zimbrel!           \n"
              u"If this problem persists, please re-install the application.\n\n"
              u"Click OK to continue.");
    EXPECT_EQ(call.caption, u"Fatal Error");
    EXPECT_EQ(call.type, MB_OK);
  }
}

TEST(DovetrilModuleTest, LockCountFollowsObjectsFactoryAndLockServer) {
  TempDir dir;
  ScopedEnv env("ZIMBREL_REGISTRY_DIR", dir.Path());
  ASSERT_EQ(DllCanUnloadNow(), S_OK);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(
      DllGetClassObject(CLSID_DovetrilShl, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
      S_OK);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // a held class object keeps the library
  IUnknown* obj = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&obj)), S_OK);
  factory->LockServer(1);
  factory->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  obj->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // the server lock
  IClassFactory* again = nullptr;
  ASSERT_EQ(
      DllGetClassObject(CLSID_DovetrilShl, IID_IClassFactory, reinterpret_cast<void**>(&again)),
      S_OK);
  again->LockServer(0);
  again->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(DovetrilModuleTest, ClassObjectOnlyForItsClass) {
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(IID_IDovetrilShl, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(DllGetClassObject(CLSID_DovetrilShl, IID_IClassFactory, nullptr), E_POINTER);
  p = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(CLSID_DovetrilShl, IID_IDispatch, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

// An outer object that counts the references the inner one forwards to it.
struct CountingOuter final : IUnknown {
  int refs = 1;
  HRESULT QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
};

TEST(DovetrilModuleTest, AggregationNeedsIUnknownAndDelegatesToTheOuterObject) {
  TempDir dir;
  ScopedEnv env("ZIMBREL_REGISTRY_DIR", dir.Path());
  IClassFactory* factory = nullptr;
  ASSERT_EQ(
      DllGetClassObject(CLSID_DovetrilShl, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
      S_OK);
  CountingOuter outer;
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IContextMenu, &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);

  IUnknown* inner = nullptr;
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  IContextMenu* menu = Query<IContextMenu>(inner, IID_IContextMenu);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(outer.refs, 2);  // the interface's reference belongs to the outer object
  // The inner unknown answers IUnknown with itself, not with an interface.
  IUnknown* self = Query<IUnknown>(inner, IID_IUnknown);
  EXPECT_EQ(self, inner);
  self->Release();
  menu->Release();
  EXPECT_EQ(outer.refs, 1);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  factory->Release();
  inner->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

// Before the program's first start the user has no ZBInstDir: the entry
// starts the program that lies beside the installed library.
TEST(DovetrilLaunchTest, WithoutZBInstDirTheProgramBesideTheLibraryStarts) {
  TempDir dir;
  ScopedEnv env("ZIMBREL_REGISTRY_DIR", dir / "reg");
  const std::string lib = dir / "usr lib zimbrel";
  const std::string record = dir / "argv";
  zb::testing::MakeFakeProgram(lib, record);
  std::filesystem::copy_file(DOVETRIL_SO, lib + "/dovetril.so");
  void* handle = dlopen((lib + "/dovetril.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  auto getClass =
      reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(dlsym(handle, "DllGetClassObject"));
  ASSERT_NE(getClass, nullptr);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(getClass(CLSID_DovetrilShl, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  IShellExtInit* init = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)),
            S_OK);
  factory->Release();
  IDataObject* data = CreateFileDropDataObject({"/m/a song.mp3"});
  ASSERT_EQ(init->Initialize(nullptr, data, nullptr), S_OK);
  data->Release();
  auto* menu = Query<IContextMenu>(init, IID_IContextMenu);
  ASSERT_NE(menu, nullptr);
  CMINVOKECOMMANDINFO info = {};
  info.cbSize = sizeof info;
  info.lpVerb = MAKEINTRESOURCEA(0);
  EXPECT_EQ(menu->InvokeCommand(&info), S_OK);
  EXPECT_EQ(zb::testing::WaitForRecord(record),
            (std::vector<std::string>{lib + "/zimbrel", "/m/a song.mp3"}));
  menu->Release();
  init->Release();
  dlclose(handle);
}

}  // namespace
}  // namespace zb::dovetril
