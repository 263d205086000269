// CExternalDispatch: the one scripting object handed to page script as
// window.external. It has no type information; names resolve through the
// method table; Invoke converts the arguments and the result as the member's
// entry lists them and calls the core's operation the entry names.
// Its reference count never governs its life: the application deletes it
// after the main window has closed. It answers with HRESULTs, as an
// IDispatch does (platform/automation.h).
//
// Where the automation layer begins and ends: the automation shapes
// (IDispatch, DISPID, DISPPARAMS, VARIANT, BSTR, HRESULT) are how page script
// and the program met on the system this was first written for, and the
// pages and the member table still follow their rules (DISPIDs by position,
// arguments last-first, VT_BOOL/VT_INT/VT_BSTR results). They begin where the
// bridge reads a call off the wire (bridge/bridge_wire.h: straight into
// VARIANTs) and end here, in Invoke, where each argument becomes the string
// or integer the core's operation takes, and its result becomes a VARIANT
// again. Nothing in core/, media/, net/ or settings/ sees them.
#pragma once

#include <functional>
#include <string>

#include "platform/automation.h"

namespace zb {

class CoreHost;

class CExternalDispatch final : public IDispatch {
 public:
  // `core` is asked for the core (the main window) on every call; it may give
  // null (before the main window exists and after it has closed): the call
  // then does nothing.
  explicit CExternalDispatch(std::function<CoreHost*()> core);
  virtual ~CExternalDispatch() = default;

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  HRESULT GetIDsOfNames(REFIID riid, OLECHAR** rgszNames, UINT cNames, LCID lcid,
                        DISPID* rgDispId) override;
  HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                 VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

 private:
  LONG m_refCount = 0;
  std::function<CoreHost*()> m_core;
};

// Argument conversions used by Invoke: never read past the array or through
// the wrong type. A missing argument is "" or 0; a number where a string is
// listed becomes its decimal text; a string where an integer is listed is
// parsed as a decimal number (0 when it is none); fractions are cut toward 0.
std::string ArgAsString(const DISPPARAMS* params, UINT scriptIndex, UINT count);
int32_t ArgAsInt(const DISPPARAMS* params, UINT scriptIndex, UINT count);
std::string NumberText(double d);

}  // namespace zb
