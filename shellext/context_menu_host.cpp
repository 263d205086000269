#include "shellext/context_menu_host.h"

#include <dlfcn.h>

#include <cstdio>
#include <map>

#include "platform/registry_store.h"
#include "platform/stderr_notice.h"
#include "platform/utf.h"
#include "shellext/bitmap.h"
#include "shellext/file_drop.h"
#include "shellext/menu.h"

namespace zb::host {

using namespace zb::reg;

namespace {

constexpr char kHandlersKey[] = "*\\ShellEx\\ContextMenuHandlers";
constexpr char kApprovalKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT (*)();

// One loaded in-process library. Sessions hold it; when the last one ends
// the library is asked whether it may go.
struct Library {
  std::string path;
  void* handle = nullptr;
  GetClassObjectFn getClassObject = nullptr;
  CanUnloadNowFn canUnloadNow = nullptr;
  int users = 0;
};

std::map<std::string, std::unique_ptr<Library>>& Libraries() {
  static auto* libs = new std::map<std::string, std::unique_ptr<Library>>;
  return *libs;
}

Library* AcquireLibrary(const std::string& path) {
  auto& libs = Libraries();
  auto it = libs.find(path);
  if (it == libs.end()) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
      Notice("cannot load " + path + ": " + dlerror());
      return nullptr;
    }
    auto lib = std::make_unique<Library>();
    lib->path = path;
    lib->handle = h;
    lib->getClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(h, "DllGetClassObject"));
    lib->canUnloadNow = reinterpret_cast<CanUnloadNowFn>(dlsym(h, "DllCanUnloadNow"));
    if (!lib->getClassObject) {
      dlclose(h);
      return nullptr;
    }
    it = libs.emplace(path, std::move(lib)).first;
  }
  ++it->second->users;
  return it->second.get();
}

void ReleaseLibrary(Library* lib) {
  if (--lib->users > 0) return;
  // A library without DllCanUnloadNow stays loaded.
  if (!lib->canUnloadNow || lib->canUnloadNow() != S_OK) return;
  dlclose(lib->handle);
  Libraries().erase(lib->path);
}

std::string ReadString(HKEY root, const std::string& path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
  std::string out;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    std::string buf(size, '\0');
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf.data()), &size) ==
        ERROR_SUCCESS)
      out.assign(buf.c_str());
  }
  RegCloseKey(key);
  return out;
}

bool IsApproved(const std::string& clsid) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kApprovalKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  RawValue v;
  bool ok = ReadRawValue(key, clsid, &v) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

}  // namespace

class HandlerSession {
 public:
  HandlerSession(Library* lib, IContextMenu* menu) : m_lib(lib), m_menu(menu) {}
  ~HandlerSession() {
    m_menu->Release();
    ReleaseLibrary(m_lib);
  }
  HandlerSession(const HandlerSession&) = delete;
  HandlerSession& operator=(const HandlerSession&) = delete;
  IContextMenu* Menu() const { return m_menu; }

 private:
  Library* m_lib;
  IContextMenu* m_menu;
};

std::string StripMnemonics(const std::u16string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'&') {
      if (i + 1 < text.size() && text[i + 1] == u'&') {
        out.push_back(u'&');
        ++i;
      }
      continue;
    }
    out.push_back(text[i]);
  }
  return Utf16ToUtf8(out);
}

HRESULT InvokeMenuItem(const HostMenuItem& item) {
  if (!item.session) return E_UNEXPECTED;
  CMINVOKECOMMANDINFO info = {};
  info.cbSize = sizeof info;
  info.lpVerb = MAKEINTRESOURCEA(item.commandOffset);
  info.nShow = SW_SHOWNORMAL;
  return item.session->Menu()->InvokeCommand(&info);
}

size_t LoadedLibraryCount() {
  return Libraries().size();
}

namespace {

// Creates one handler, gives it the selection and collects its entries.
void CollectFromHandler(const std::string& clsidText, const CLSID& clsid,
                        const std::vector<std::string>& paths, std::vector<HostMenuItem>* out) {
  std::string libPath =
      ReadString(HKEY_CLASSES_ROOT, "CLSID\\" + clsidText + "\\InprocServer32", nullptr);
  if (libPath.empty() || libPath[0] != '/') return;
  Library* lib = AcquireLibrary(libPath);
  if (!lib) return;

  IContextMenu* menu = nullptr;
  IClassFactory* factory = nullptr;
  if (SUCCEEDED(
          lib->getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory))) &&
      factory) {
    IShellExtInit* init = nullptr;
    if (SUCCEEDED(
            factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init))) &&
        init) {
      IDataObject* data = CreateFileDropDataObject(paths);
      if (data && init->Initialize(nullptr, data, nullptr) == S_OK &&
          FAILED(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu))))
        menu = nullptr;
      if (data) data->Release();
      init->Release();
    }
    factory->Release();
  }
  if (!menu) {
    ReleaseLibrary(lib);  // may unload it now
    return;
  }
  auto session = std::make_shared<HandlerSession>(lib, menu);

  constexpr UINT kFirst = 1;
  HMENU hmenu = CreatePopupMenu();
  if (!hmenu) return;
  HRESULT hr = menu->QueryContextMenu(hmenu, 0, kFirst, 0x7FFF, CMF_NORMAL);
  UINT used = SUCCEEDED(hr) ? HRESULT_CODE(hr) : 0;
  for (const MenuItem& mi : hmenu->items) {
    if (mi.flags & MF_SEPARATOR) continue;
    if (mi.id < kFirst || mi.id >= kFirst + used) continue;
    HostMenuItem item;
    item.commandOffset = mi.id - kFirst;
    item.name = "ZimbrelHost::" + clsidText + "::" + std::to_string(item.commandOffset);
    item.label = StripMnemonics(mi.text);
    char16_t tip[1024] = {};
    if (menu->GetCommandString(item.commandOffset, GCS_HELPTEXTW, nullptr,
                               reinterpret_cast<char*>(tip), 1024) == S_OK) {
      tip[1023] = 0;
      item.tip = Utf16ToUtf8(tip);
    }
    if (const Bitmap* b = mi.uncheckedBitmap) {
      item.iconWidth = b->width;
      item.iconHeight = b->height;
      item.iconPixels = b->pixels;
    }
    item.session = session;
    out->push_back(std::move(item));
  }
  DestroyMenu(hmenu);
}

}  // namespace

std::vector<HostMenuItem> CollectMenuItems(const std::vector<SelectedItem>& selection) {
  std::vector<HostMenuItem> items;
  if (selection.empty()) return items;
  std::vector<std::string> paths;
  paths.reserve(selection.size());
  for (const auto& s : selection) {
    if (s.isDirectory || s.path.empty() || s.path[0] != '/' || SanitizeUtf8(s.path) != s.path)
      return items;
    paths.push_back(s.path);
  }
  HKEY handlers = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kHandlersKey, 0, KEY_READ, &handlers) != ERROR_SUCCESS)
    return items;
  std::vector<std::string> names = ListSubkeys(handlers);
  RegCloseKey(handlers);
  for (const auto& name : names) {
    // The handler key's value names the class; a key named by a class id
    // needs no value.
    std::string text =
        ReadString(HKEY_CLASSES_ROOT, std::string(kHandlersKey) + "\\" + name, nullptr);
    CLSID clsid;
    if (!GuidFromString(text, &clsid)) {
      if (!GuidFromString(name, &clsid)) continue;
    }
    std::string clsidText = GuidToString(clsid);
    if (!IsApproved(clsidText)) continue;
    CollectFromHandler(clsidText, clsid, paths, &items);
  }
  return items;
}

}  // namespace zb::host
