// Invoke with arbitrary DISPIDs, flags, argument counts and VARIANT types.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bridge/external_dispatch.h"
#include "fuzz_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static zb::FuzzHost host;
  zb::CExternalDispatch disp([] { return &host.core; });
  size_t p = 0;
  auto take = [&](size_t n) -> uint64_t {
    uint64_t v = 0;
    for (size_t i = 0; i < n && p < size; ++i) v = v << 8 | data[p++];
    return v;
  };
  int32_t dispid = zb::FuzzSafeDispid(static_cast<int32_t>(static_cast<int8_t>(take(1))));
  uint16_t flags = static_cast<uint16_t>(take(1));
  size_t argc = take(1) % 12;
  bool withResult = take(1) & 1;
  std::vector<zb::VARIANT> args(argc);
  for (auto& v : args) {
    zb::VariantInit(&v);
    switch (take(1) % 8) {
      case 0:
        break;
      case 1:
        v.vt = zb::VT_NULL;
        break;
      case 2:
        v.vt = zb::VT_I4;
        v.lVal = static_cast<int32_t>(take(4));
        break;
      case 3:
        v.vt = zb::VT_INT;
        v.intVal = static_cast<int32_t>(take(4));
        break;
      case 4: {
        v.vt = zb::VT_R8;
        uint64_t bits = take(8);
        std::memcpy(&v.dblVal, &bits, 8);
        break;
      }
      case 5:
        v.vt = zb::VT_BOOL;
        v.boolVal = static_cast<int16_t>(take(2));
        break;
      case 6: {
        size_t n = take(1) % 64;
        std::u16string s;
        for (size_t i = 0; i < n; ++i) s += static_cast<char16_t>(take(2));
        v.vt = zb::VT_BSTR;
        v.bstrVal = zb::SysAllocString(s);
        break;
      }
      default:
        v.vt = static_cast<zb::VARTYPE>(take(2) | 0x40);
        break;  // types nobody reads
    }
  }
  zb::DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr,
                        static_cast<zb::UINT>(take(1) & 1 ? argc : take(1) % 12), 0};
  if (params.cArgs > argc) params.cArgs = static_cast<zb::UINT>(argc);
  zb::VARIANT result;
  zb::VariantInit(&result);
  if (disp.Invoke(dispid, zb::IID_NULL, 0, flags, &params, withResult ? &result : nullptr, nullptr,
                  nullptr) != zb::S_OK)
    __builtin_trap();
  zb::VariantClear(&result);
  for (auto& v : args)
    if (v.vt == zb::VT_BSTR) zb::SysFreeString(v.bstrVal);
  return 0;
}
