#include "bridge/external_dispatch.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "bridge/method_table.h"
#include "core/core_host.h"
#include "platform/decimal_text.h"
#include "platform/utf.h"

namespace zb {

CExternalDispatch::CExternalDispatch(std::function<CoreHost*()> core) : m_core(std::move(core)) {}

HRESULT CExternalDispatch::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch) {
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CExternalDispatch::AddRef() {
  return static_cast<ULONG>(++m_refCount);
}
ULONG CExternalDispatch::Release() {
  return static_cast<ULONG>(--m_refCount);
}
HRESULT CExternalDispatch::GetTypeInfoCount(UINT*) {
  return E_NOTIMPL;
}
HRESULT CExternalDispatch::GetTypeInfo(UINT, LCID, ITypeInfo**) {
  return E_NOTIMPL;
}

HRESULT CExternalDispatch::GetIDsOfNames(REFIID, OLECHAR** rgszNames, UINT cNames, LCID,
                                         DISPID* rgDispId) {
  if (cNames == 0) return S_OK;
  if (!rgszNames || !rgDispId) return E_POINTER;
  bool allFound = true;
  for (UINT i = 0; i < cNames; ++i) {
    std::string narrow =
        rgszNames[i] ? Utf16ToUtf8(std::u16string_view(rgszNames[i])) : std::string();
    rgDispId[i] = LookupMember(narrow);
    if (rgDispId[i] == DISPID_UNKNOWN) allFound = false;
  }
  return allFound ? S_OK : DISP_E_UNKNOWNNAME;
}

std::string NumberText(double d) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
  if (d == 0) return "0";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

namespace {

const VARIANT* ArgAt(const DISPPARAMS* params, UINT scriptIndex, UINT count) {
  // Arguments are stored last-first: the k-th (0-based) of n is element n-1-k.
  if (!params || !params->rgvarg || scriptIndex >= count) return nullptr;
  UINT n = params->cArgs;
  if (scriptIndex >= n) return nullptr;
  return &params->rgvarg[n - 1 - scriptIndex];
}

int32_t ClampToInt(double d) {
  if (std::isnan(d)) return 0;
  d = std::trunc(d);
  if (d >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (d <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(d);
}

}  // namespace

std::string ArgAsString(const DISPPARAMS* params, UINT scriptIndex, UINT count) {
  const VARIANT* v = ArgAt(params, scriptIndex, count);
  if (!v) return {};
  switch (v->vt) {
    case VT_BSTR:
      return Utf16ToUtf8(BstrView(v->bstrVal));
    case VT_I4:
      return std::to_string(v->lVal);
    case VT_INT:
      return std::to_string(v->intVal);
    case VT_I2:
      return std::to_string(v->iVal);
    case VT_R8:
      return NumberText(v->dblVal);
    case VT_BOOL:
      return v->boolVal ? "true" : "false";
    default:
      return {};
  }
}

int32_t ArgAsInt(const DISPPARAMS* params, UINT scriptIndex, UINT count) {
  const VARIANT* v = ArgAt(params, scriptIndex, count);
  if (!v) return 0;
  switch (v->vt) {
    case VT_I4:
      return v->lVal;
    case VT_INT:
      return v->intVal;
    case VT_I2:
      return v->iVal;
    case VT_R8:
      return ClampToInt(v->dblVal);
    case VT_BOOL:
      return v->boolVal ? 1 : 0;
    case VT_BSTR:
      return ReadDecimal(Utf16ToUtf8(BstrView(v->bstrVal)));
    default:
      return 0;
  }
}

HRESULT CExternalDispatch::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                  VARIANT* result, EXCEPINFO*, UINT*) {
  if (id < 1 || id > kMemberCount) return S_OK;
  const Member& m = kMethodTable[id - 1];
  const bool method = flags & DISPATCH_METHOD;
  const bool propget = (flags & DISPATCH_PROPERTYGET) && result;

  if (m.kind == MemberKind::kEither) {
    // ZBL_IsZBL read as a property is answered at once, without the window;
    // as a method (also both at once) its operation answers too.
    if (propget) {
      VariantClear(result);
      result->vt = VT_BOOL;
      result->boolVal = VARIANT_TRUE;
    }
    if (!method) return S_OK;
  }
  if (m.kind == MemberKind::kMethod && !method) return S_OK;
  if (m.kind == MemberKind::kProperty && !propget) return S_OK;
  CoreHost* w = m_core ? m_core() : nullptr;
  if (!w) return S_OK;

  const UINT n = params ? params->cArgs : 0;
  MemberArgs args;
  for (int k = 0; k < m.argCount; ++k) {
    if (m.args[k] == ArgType::kString)
      args[k].text = ArgAsString(params, k, n);
    else
      args[k].number = ArgAsInt(params, k, n);
  }
  MemberResult r;
  m.call(*w, args, &r);

  if (!result || m.result == ResultType::kNone) return S_OK;
  VariantClear(result);
  switch (m.result) {
    case ResultType::kBool:
      result->vt = VT_BOOL;
      result->boolVal = r.truth ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case ResultType::kInteger:
      result->vt = VT_INT;
      result->intVal = r.number;
      break;
    case ResultType::kString:
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocString(Utf8ToUtf16(r.text));
      break;
    case ResultType::kNone:
      break;
  }
  return S_OK;
}

}  // namespace zb
