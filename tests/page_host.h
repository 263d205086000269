// The display-free core for tests that drive members through the scripting
// object: the real settings store, command-line file and jobs, and a front
// end that shows nothing (no page dialog, box or chooser is ever shown; a box
// answers OK, a page dialog hands back its argument, the chooser gives "").
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "bridge/external_dispatch.h"
#include "core/core_host.h"
#include "platform/utf.h"
#include "quiet_front_end.h"

namespace zb::testing {

// Invokes a member by DISPID with script-order arguments (stored last-first,
// as the web view does); the arguments are freed, the caller owns the result.
inline VARIANT InvokeMember(IDispatch& d, DISPID id, WORD flags, std::vector<VARIANT> args = {}) {
  std::vector<VARIANT> rev(args.rbegin(), args.rend());
  DISPPARAMS p{rev.data(), nullptr, static_cast<UINT>(rev.size()), 0};
  VARIANT r;
  VariantInit(&r);
  EXPECT_EQ(d.Invoke(id, IID_NULL, 0, flags, &p, &r, nullptr, nullptr), S_OK);
  for (auto& v : rev) VariantClear(&v);
  return r;
}

// Calls a member by name as InvokeMember does.
inline VARIANT CallMember(IDispatch& d, const std::u16string& name, WORD flags,
                          std::vector<VARIANT> args = {}) {
  OLECHAR* names[] = {const_cast<OLECHAR*>(name.c_str())};
  DISPID id = DISPID_UNKNOWN;
  EXPECT_EQ(d.GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  return InvokeMember(d, id, flags, std::move(args));
}

inline VARIANT StrArg(const std::string& s) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(Utf8ToUtf16(s));
  return v;
}

inline VARIANT IntArg(int32_t i) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = i;
  return v;
}

// The text of a string result.
inline std::string StringOf(const VARIANT& v) {
  return v.vt == VT_BSTR ? Utf16ToUtf8(BstrView(v.bstrVal)) : "<not a string>";
}

// The text of a string result, which is then freed.
inline std::string TakeString(VARIANT v) {
  std::string s = StringOf(v);
  VariantClear(&v);
  return s;
}

}  // namespace zb::testing
