// DovetrilShl: the context-menu handler. For a selection of exactly one file
// whose name ends in one of six audio extensions it adds "Send to Phone as
// Ringtone"; choosing it starts <ZBInstDir>/zimbrel with the file's path.
//
// Apartment model: an object is only called from the thread that created it,
// so its reference count is a plain integer.
#pragma once

#include <string>

#include "settings/registry.h"
#include "shellext/shell_extension.h"

namespace zb::dovetril {

// A dual interface with no members of its own.
struct IDovetrilShl : IDispatch {
 protected:
  ~IDovetrilShl() = default;
};

class DovetrilShl final : public IDovetrilShl, public IShellExtInit, public IContextMenu {
 public:
  // Creates an object and queries it for `riid`. With an `outer` unknown the
  // object is aggregated and `riid` must be IID_IUnknown (the caller gets the
  // inner, non-delegating unknown); CLASS_E_NOAGGREGATION otherwise.
  static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv);

  // IUnknown (delegates to the controlling unknown).
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // IDispatch: no members, no type information handed out.
  HRESULT GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  HRESULT GetIDsOfNames(REFIID riid, OLECHAR** rgszNames, UINT cNames, LCID lcid,
                        DISPID* rgDispId) override;
  HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                 VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

  // IShellExtInit: keeps the one selected file whole, whatever its length.
  HRESULT Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, reg::HKEY progId) override;

  // IContextMenu
  HRESULT QueryContextMenu(HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                           UINT flags) override;
  HRESULT InvokeCommand(CMINVOKECOMMANDINFO* info) override;
  HRESULT GetCommandString(UINT_PTR idCmd, UINT type, UINT* reserved, char* name,
                           UINT cchMax) override;

  const std::u16string& SelectedFile() const { return m_selectedFile; }
  HBITMAP MenuBitmap() const { return m_bitmap; }

 private:
  // The non-delegating unknown: owns the object's life.
  struct Inner final : IUnknown {
    DovetrilShl* self;
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
  };

  explicit DovetrilShl(IUnknown* outer);
  ~DovetrilShl();
  DovetrilShl(const DovetrilShl&) = delete;
  DovetrilShl& operator=(const DovetrilShl&) = delete;

  HRESULT InternalQueryInterface(REFIID riid, void** ppv);

  LONG m_refCount = 0;
  Inner m_inner;
  IUnknown* m_controlling;  // the outer unknown, or m_inner
  bool m_aggregated;
  registry m_settings;
  registry::value m_instDir;
  std::u16string m_selectedFile;
  HBITMAP m_bitmap = nullptr;
};

// The launch error box: the message box function the handler calls (the
// GTK 4 box by default). Returns the previous one; tests put a recorder here.
using MessageBoxFn = int (*)(HWND owner, const char16_t* text, const char16_t* caption, UINT type);
MessageBoxFn SetMessageBoxFunction(MessageBoxFn fn);

}  // namespace zb::dovetril
