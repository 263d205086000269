#include "platform/automation.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zb {

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

bool operator==(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

std::string GuidToString(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
bool ParseHex(std::string_view t, size_t pos, size_t n, uint64_t* out) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) {
    int d = HexDigit(t[pos + i]);
    if (d < 0) return false;
    v = v * 16 + static_cast<uint64_t>(d);
  }
  *out = v;
  return true;
}
}  // namespace

bool GuidFromString(std::string_view t, GUID* out) {
  if (t.size() != 38 || t[0] != '{' || t[37] != '}' || t[9] != '-' || t[14] != '-' ||
      t[19] != '-' || t[24] != '-')
    return false;
  uint64_t v;
  GUID g{};
  if (!ParseHex(t, 1, 8, &v)) return false;
  g.Data1 = static_cast<uint32_t>(v);
  if (!ParseHex(t, 10, 4, &v)) return false;
  g.Data2 = static_cast<uint16_t>(v);
  if (!ParseHex(t, 15, 4, &v)) return false;
  g.Data3 = static_cast<uint16_t>(v);
  const size_t pos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ParseHex(t, pos[i], 2, &v)) return false;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  *out = g;
  return true;
}

BSTR SysAllocStringLen(const OLECHAR* s, UINT len) {
  auto* block = static_cast<char*>(std::malloc(sizeof(uint32_t) + (size_t{len} + 1) * 2));
  if (!block) return nullptr;
  uint32_t bytes = len * 2;
  std::memcpy(block, &bytes, sizeof bytes);
  auto* str = reinterpret_cast<OLECHAR*>(block + sizeof(uint32_t));
  if (s)
    std::memcpy(str, s, size_t{len} * 2);
  else
    std::memset(str, 0, size_t{len} * 2);
  str[len] = 0;
  return str;
}

BSTR SysAllocString(std::u16string_view s) {
  return SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}

void SysFreeString(BSTR s) {
  if (s) std::free(reinterpret_cast<char*>(s) - sizeof(uint32_t));
}

UINT SysStringLen(BSTR s) {
  if (!s) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<char*>(s) - sizeof(uint32_t), sizeof bytes);
  return bytes / 2;
}

std::u16string_view BstrView(BSTR s) {
  return s ? std::u16string_view(s, SysStringLen(s)) : u"";
}

void VariantInit(VARIANT* v) {
  std::memset(v, 0, sizeof *v);
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
  if ((v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) && v->punkVal) v->punkVal->Release();
  VariantInit(v);
  return S_OK;
}

}  // namespace zb
