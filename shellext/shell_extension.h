// The file manager's context-menu extension interfaces (IShellExtInit,
// IContextMenu), the data object that carries a selection, and the handles
// they pass, in the slot order, constants and result codes that handlers and
// their hosts agree on. The file-drop list, the menu and the bitmap behind these handles
// are in file_drop.h, menu.h and bitmap.h.
#pragma once

#include <cstdint>

#include "platform/automation.h"
#include "platform/registry_store.h"

namespace zb {

using DWORD = uint32_t;
using UINT_PTR = uintptr_t;
using CLIPFORMAT = uint16_t;

struct GlobalBlock;
using HGLOBAL = GlobalBlock*;
struct Menu;
using HMENU = Menu*;
struct Bitmap;
using HBITMAP = Bitmap*;
struct Window;
using HWND = Window*;
struct ITEMIDLIST;
using PCIDLIST_ABSOLUTE = const ITEMIDLIST*;

constexpr CLIPFORMAT CF_HDROP = 15;
constexpr DWORD DVASPECT_CONTENT = 1;
constexpr DWORD TYMED_NULL = 0;
constexpr DWORD TYMED_HGLOBAL = 1;

constexpr HRESULT DV_E_FORMATETC = static_cast<HRESULT>(0x80040064u);
constexpr HRESULT DV_E_TYMED = static_cast<HRESULT>(0x80040069u);
constexpr HRESULT DV_E_LINDEX = static_cast<HRESULT>(0x80040068u);
constexpr HRESULT DV_E_DVASPECT = static_cast<HRESULT>(0x8004006Bu);

struct DVTARGETDEVICE;

struct FORMATETC {
  CLIPFORMAT cfFormat;
  DVTARGETDEVICE* ptd;
  DWORD dwAspect;
  LONG lindex;
  DWORD tymed;
};

struct STGMEDIUM {
  DWORD tymed;
  HGLOBAL hGlobal;
  IUnknown* pUnkForRelease;
};

// Frees what the medium holds (its global memory) and leaves it TYMED_NULL.
void ReleaseStgMedium(STGMEDIUM* medium);

// A data object reduced to what a context-menu handler asks of it.
struct IDataObject : IUnknown {
  // Fills `medium` with a copy of the data in the asked format; the caller
  // frees it with ReleaseStgMedium.
  virtual HRESULT GetData(FORMATETC* format, STGMEDIUM* medium) = 0;
  virtual HRESULT QueryGetData(FORMATETC* format) = 0;

 protected:
  ~IDataObject() = default;
};

struct IShellExtInit : IUnknown {
  virtual HRESULT Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, reg::HKEY progId) = 0;

 protected:
  ~IShellExtInit() = default;
};

// Flags of QueryContextMenu.
constexpr UINT CMF_NORMAL = 0x0;
constexpr UINT CMF_DEFAULTONLY = 0x1;

// Request types of GetCommandString.
constexpr UINT GCS_VERBA = 0x0;
constexpr UINT GCS_HELPTEXTA = 0x1;
constexpr UINT GCS_VALIDATEA = 0x2;
constexpr UINT GCS_VERBW = 0x4;
constexpr UINT GCS_HELPTEXTW = 0x5;
constexpr UINT GCS_VALIDATEW = 0x6;

constexpr int SW_SHOWNORMAL = 1;

struct CMINVOKECOMMANDINFO {
  DWORD cbSize;
  DWORD fMask;
  HWND hwnd;
  // A command offset in the low 16 bits (the high bits zero), or a verb.
  const char* lpVerb;
  const char* lpParameters;
  const char* lpDirectory;
  int nShow;
  DWORD dwHotKey;
  void* hIcon;
};

// A command offset passed where a verb string may stand.
inline const char* MAKEINTRESOURCEA(UINT offset) {
  return reinterpret_cast<const char*>(static_cast<uintptr_t>(offset & 0xFFFF));
}
inline bool IS_INTRESOURCE(const void* p) {
  return (reinterpret_cast<uintptr_t>(p) >> 16) == 0;
}

struct IContextMenu : IUnknown {
  // Returns a success code whose code part is the number of command ids used.
  virtual HRESULT QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                   UINT flags) = 0;
  virtual HRESULT InvokeCommand(CMINVOKECOMMANDINFO* info) = 0;
  // For the W request types `name` is a buffer of `cchMax` UTF-16 units.
  virtual HRESULT GetCommandString(UINT_PTR idCmd, UINT type, UINT* reserved, char* name,
                                   UINT cchMax) = 0;

 protected:
  ~IContextMenu() = default;
};

constexpr UINT SEVERITY_SUCCESS = 0;
constexpr HRESULT MAKE_HRESULT(UINT severity, UINT facility, UINT code) {
  return static_cast<HRESULT>((severity << 31) | (facility << 16) | code);
}
constexpr UINT HRESULT_CODE(HRESULT hr) {
  return static_cast<UINT>(hr) & 0xFFFF;
}

extern const IID IID_IShellExtInit;  // {000214E8-0000-0000-C000-000000000046}
extern const IID IID_IContextMenu;   // {000214E4-0000-0000-C000-000000000046}
extern const IID IID_IDataObject;    // {0000010E-0000-0000-C000-000000000046}

}  // namespace zb
