#include "shellext/dovetril_shl.h"

#include <cerrno>
#include <new>
#include <vector>

#include "platform/module_dir.h"
#include "platform/translation.h"
#include "platform/utf.h"
#include "shellext/bitmap.h"
#include "shellext/detached_process.h"
#include "shellext/dovetril_ids.h"
#include "shellext/dovetril_module.h"
#include "shellext/file_drop.h"
#include "shellext/menu.h"
#include "shellext/message_box.h"

namespace zb::dovetril {

namespace {

MessageBoxFn gMessageBox = &zb::MessageBoxW;

constexpr const char16_t* kExtensions[] = {u".mp3", u".wma", u".ogg", u".aac", u".m4a", u".mp4"};

char16_t AsciiLower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c;
}

bool HasAcceptedExtension(const std::u16string& path) {
  if (path.size() < 4) return false;
  std::u16string_view tail(path.data() + path.size() - 4, 4);
  for (const char16_t* ext : kExtensions) {
    bool same = true;
    for (size_t i = 0; i < 4 && same; ++i) same = AsciiLower(tail[i]) == ext[i];
    if (same) return true;
  }
  return false;
}

// A text of the component in the user's language. The domain is bound to the
// catalogues beside this library (or under its install prefix) on first use,
// in whichever file manager's process loaded it; the process's own default
// domain is left alone.
std::u16string Text(const char* english) {
  static const bool kBound =
      (BindTextDomain(ModuleDirectoryOf(reinterpret_cast<const void*>(&Text))), true);
  (void)kBound;
  return Utf8ToUtf16(Tr(english));
}

// At most cch - 1 units and a zero (nothing for cch 0).
void CopyTruncatedW(char16_t* out, std::u16string_view s, UINT cch) {
  if (cch == 0) return;
  size_t n = std::min<size_t>(s.size(), cch - 1);
  s.copy(out, n);
  out[n] = 0;
}

// At most cch - 1 bytes and a zero, never splitting a UTF-8 sequence.
void CopyTruncatedA(char* out, std::string_view s, UINT cch) {
  if (cch == 0) return;
  size_t n = std::min<size_t>(s.size(), cch - 1);
  if (n < s.size())
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  s.copy(out, n);
  out[n] = 0;
}

}  // namespace

MessageBoxFn SetMessageBoxFunction(MessageBoxFn fn) {
  MessageBoxFn old = gMessageBox;
  gMessageBox = fn ? fn : &zb::MessageBoxW;
  return old;
}

HRESULT DovetrilShl::Create(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer && !(riid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  auto* obj = new (std::nothrow) DovetrilShl(outer);
  if (!obj) return E_OUTOFMEMORY;
  // The first reference comes from this query; a refused query destroys it.
  obj->m_inner.AddRef();
  HRESULT hr = obj->m_inner.QueryInterface(riid, ppv);
  obj->m_inner.Release();
  return hr;
}

DovetrilShl::DovetrilShl(IUnknown* outer)
    : m_controlling(outer ? outer : &m_inner),
      m_aggregated(outer != nullptr),
      m_settings("Software\\Zimbrel", reg::Root::kCurrentUser),
      m_instDir(m_settings, "ZBInstDir") {
  m_inner.self = this;
  ModuleLock();
  m_bitmap = LoadBitmapW(ModuleInstance(), kMenuBitmapId);
}

DovetrilShl::~DovetrilShl() {
  DeleteObject(m_bitmap);
  ModuleUnlock();
}

HRESULT DovetrilShl::InternalQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  // The interface table, in search order; IUnknown is its first entry.
  if (riid == IID_IUnknown || riid == IID_IDovetrilShl || riid == IID_IDispatch) {
    *ppv = static_cast<IDovetrilShl*>(this);
  } else if (riid == IID_IShellExtInit) {
    *ppv = static_cast<IShellExtInit*>(this);
  } else if (riid == IID_IContextMenu) {
    *ppv = static_cast<IContextMenu*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT DovetrilShl::Inner::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (self->m_aggregated && riid == IID_IUnknown) {
    *ppv = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  return self->InternalQueryInterface(riid, ppv);
}

ULONG DovetrilShl::Inner::AddRef() {
  return static_cast<ULONG>(++self->m_refCount);
}

ULONG DovetrilShl::Inner::Release() {
  LONG n = --self->m_refCount;
  if (n == 0) delete self;
  return static_cast<ULONG>(n);
}

HRESULT DovetrilShl::QueryInterface(REFIID riid, void** ppv) {
  return m_controlling->QueryInterface(riid, ppv);
}
ULONG DovetrilShl::AddRef() {
  return m_controlling->AddRef();
}
ULONG DovetrilShl::Release() {
  return m_controlling->Release();
}

HRESULT DovetrilShl::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 0;
  return S_OK;
}

HRESULT DovetrilShl::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
  if (ppTInfo) *ppTInfo = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT DovetrilShl::GetIDsOfNames(REFIID, OLECHAR**, UINT cNames, LCID, DISPID* rgDispId) {
  if (rgDispId)
    for (UINT i = 0; i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT DovetrilShl::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return DISP_E_MEMBERNOTFOUND;
}

HRESULT DovetrilShl::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, reg::HKEY) {
  // A declined selection leaves nothing behind for a later InvokeCommand.
  m_selectedFile.clear();
  if (!data) return E_INVALIDARG;
  FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium = {TYMED_NULL, nullptr, nullptr};
  if (FAILED(data->GetData(&format, &medium))) return E_INVALIDARG;
  if (medium.tymed != TYMED_HGLOBAL || !GlobalLock(medium.hGlobal)) {
    ReleaseStgMedium(&medium);
    return E_INVALIDARG;
  }
  HDROP drop = medium.hGlobal;
  HRESULT hr = E_INVALIDARG;
  if (DragQueryFileW(drop, 0xFFFFFFFFu, nullptr, 0) == 1) {
    UINT length = DragQueryFileW(drop, 0, nullptr, 0);
    std::u16string path(length, u'\0');
    UINT copied = length ? DragQueryFileW(drop, 0, path.data(), length + 1) : 0;
    if (copied > 0) {
      path.resize(copied);
      if (HasAcceptedExtension(path)) {
        m_selectedFile = std::move(path);
        hr = S_OK;
      }
    }
  }
  GlobalUnlock(medium.hGlobal);
  ReleaseStgMedium(&medium);
  return hr;
}

HRESULT DovetrilShl::QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT,
                                      UINT flags) {
  if (flags & CMF_DEFAULTONLY) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
  const std::u16string text = Text(kMenuText);
  InsertMenuW(menu, indexMenu, MF_STRING | MF_BYPOSITION, idCmdFirst, text.c_str());
  if (m_bitmap) SetMenuItemBitmaps(menu, indexMenu, MF_BYPOSITION, m_bitmap, nullptr);
  return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
}

HRESULT DovetrilShl::GetCommandString(UINT_PTR idCmd, UINT type, UINT*, char* name, UINT cchMax) {
  if (idCmd != 0) return E_INVALIDARG;
  if (type == GCS_HELPTEXTW) {
    if (!name) return E_INVALIDARG;
    CopyTruncatedW(reinterpret_cast<char16_t*>(name), Text(kHelpText), cchMax);
    return S_OK;
  }
  if (type == GCS_HELPTEXTA) {
    if (!name) return E_INVALIDARG;
    CopyTruncatedA(name, Utf16ToUtf8(Text(kHelpText)), cchMax);
    return S_OK;
  }
  return E_INVALIDARG;
}

HRESULT DovetrilShl::InvokeCommand(CMINVOKECOMMANDINFO* info) {
  if (!info || !IS_INTRESOURCE(info->lpVerb)) return E_INVALIDARG;
  if (reinterpret_cast<uintptr_t>(info->lpVerb) != 0) return E_INVALIDARG;
  if (m_selectedFile.empty()) return E_INVALIDARG;
  // The stored bytes name the folder as they are: no conversion, no trimming.
  std::string dir = m_instDir.get();
  // Before the program's first start nothing is stored: it lies beside this
  // library (both are installed into one module directory).
  if (dir.empty()) {
    std::string self = ModulePath();
    if (size_t slash = self.rfind('/'); slash != std::string::npos) dir = self.substr(0, slash);
  }
  std::vector<std::string> argv = {dir + "/" + kProgramFile, Utf16ToUtf8(m_selectedFile)};
  if (StartDetachedProcess(argv) == 0) return S_OK;
  gMessageBox(nullptr, Text(kLaunchErrorText).c_str(), Text(kLaunchErrorCaption).c_str(), MB_OK);
  return S_FALSE;
}

}  // namespace zb::dovetril
