#include "bridge/external_dispatch.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "bridge/method_table.h"
#include "platform/utf.h"

namespace zb {

CExternalDispatch::CExternalDispatch(std::function<ZblHost*()> mainWindow)
    : m_mainWindow(std::move(mainWindow)) {}

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

int32_t ParseDecimal(const std::string& s) {
  // Leading blanks, a sign, digits; anything after is ignored; 0 when none.
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  int64_t v = 0;
  bool any = false;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    any = true;
    if (v < (int64_t{1} << 32)) v = v * 10 + (s[i] - '0');
  }
  if (!any) return 0;
  if (neg) v = -v;
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
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
      return ParseDecimal(Utf16ToUtf8(BstrView(v->bstrVal)));
    default:
      return 0;
  }
}

HRESULT CExternalDispatch::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                  VARIANT* result, EXCEPINFO*, UINT*) {
  ZblHost* w = m_mainWindow ? m_mainWindow() : nullptr;
  if (id < 1 || id > kMemberCount) return S_OK;
  const MemberInfo& m = kMethodTable[id - 1];
  const bool method = flags & DISPATCH_METHOD;
  const bool propget = (flags & DISPATCH_PROPERTYGET) && result;

  auto setBool = [&](bool b) {
    if (!result) return;
    VariantClear(result);
    result->vt = VT_BOOL;
    result->boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  };
  auto setInt = [&](int32_t i) {
    if (!result) return;
    VariantClear(result);
    result->vt = VT_INT;
    result->intVal = i;
  };
  auto setStr = [&](const std::string& s) {
    if (!result) return;
    VariantClear(result);
    result->vt = VT_BSTR;
    result->bstrVal = SysAllocString(Utf8ToUtf16(s));
  };

  if (m.kind == MemberKind::kBoth) {  // ZBL_IsZBL
    if (propget) setBool(true);
    if (method && w) setBool(w->IsZBL());
    return S_OK;
  }
  if (m.kind == MemberKind::kMethod && !method) return S_OK;
  if (m.kind == MemberKind::kProperty && !propget) return S_OK;
  if (!w) return S_OK;

  const UINT n = params ? params->cArgs : 0;
  auto S = [&](UINT k) { return ArgAsString(params, k, n); };
  auto I = [&](UINT k) { return ArgAsInt(params, k, n); };

  switch (id) {
    case 2:
      w->CloseActiveWindow();
      break;
    case 3:
      setStr(w->ShowPageDialog(S(0), S(1), S(2), I(3), I(4), I(5), I(6)));
      break;
    case 4:
      setStr(w->GetZBName());
      break;
    case 5:
      w->SetZBName(S(0));
      break;
    case 6:
      setStr(w->GetZBPhone());
      break;
    case 7:
      w->SetZBPhone(S(0));
      break;
    case 8:
      setStr(w->GetZBNetwork());
      break;
    case 9:
      w->SetZBNetwork(S(0));
      break;
    case 10:
      setStr(w->GetZBAid());
      break;
    case 11:
      w->SetZBAid(S(0));
      break;
    case 12:
      setStr(w->GetZBNVCheck());
      break;
    case 13:
      w->SetZBNVCheck(S(0));
      break;
    case 14:
      setStr(w->GetVersion());
      break;
    case 15:
      setStr(w->GetDialogArgument());
      break;
    case 16:
      w->SetDialogRetValue(S(0));
      break;
    case 17:
      w->ShowAboutBox();
      break;
    case 18:
      w->ShowContact();
      break;
    case 19:
      w->ShowCompatibility();
      break;
    case 20:
      w->ShowUsage();
      break;
    case 21:
      w->OpenRedirect(S(0));
      break;
    case 22:
      setInt(w->MessageBox(S(0), I(1)));
      break;
    case 23:
      setBool(w->MakeHttpRequest(S(0)));
      break;
    case 24:
      setInt(w->xhStatus());
      break;
    case 25:
      setStr(w->xhResponse());
      break;
    case 26:
      setBool(w->TranscodeMedia(S(0), S(1)));
      break;
    case 27:
      setInt(w->tsStatus());
      break;
    case 28:
      setStr(w->SelectMediaFile());
      break;
    case 29:
      setBool(w->UploadFile(S(0), S(1)));
      break;
    case 30:
      setInt(w->upStatus());
      break;
    case 31:
      setBool(w->GrabAudioDataFromCD(S(0), S(1), S(2)));
      break;
    case 32:
      setInt(w->ripStatus());
      break;
    case 33:
      setStr(w->clFileName());
      break;
    case 34:
      setStr(w->GetDrivesInfo());
      break;
    case 35:
      setStr(w->GetTracksInfo(I(0)));
      break;
    case 36:
      setBool(w->BreakAsyncOperation());
      break;
    case 37:
      setBool(w->NormalizeAudio(S(0)));
      break;
    case 38:
      setInt(w->norStatus());
      break;
    default:
      break;
  }
  return S_OK;
}

}  // namespace zb
