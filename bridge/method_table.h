// The ZBL method table: the members page script reaches through
// window.external, as one declarative list. Each entry gives the member's
// name, its kind, its argument types in script order, its result type and
// the core's operation it calls (core/core_host.h). A member's DISPID is its 1-based
// position and nothing else; names compare byte for byte (case matters).
//
// The entry's types are checked against the operation's signature when the
// table is compiled, so the two can never disagree.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "bridge/page_texts.h"
#include "platform/automation.h"
#include "platform/outcome.h"

namespace zb {

class CoreHost;

// A method acts under DISPATCH_METHOD; a property under DISPATCH_PROPERTYGET
// with a result VARIANT; ZBL_IsZBL under either.
enum class MemberKind { kMethod, kProperty, kEither };

// What the dispatcher hands to the operation.
enum class ArgType : uint8_t { kString, kInteger };
// What the dispatcher puts into the caller's result: nothing, VT_BOOL,
// VT_INT or VT_BSTR. A bool result (a job started or not) stays a bool:
// the pages test it as one. Inside the program a failure and its reason are
// an Outcome (platform/outcome.h); the pages' texts for them are made in
// bridge/page_texts.h.
enum class ResultType : uint8_t { kNone, kBool, kInteger, kString };

constexpr int kMaxMemberArgs = 7;

// One converted argument (the member's ArgType says which half is meant).
struct MemberArg {
  std::string text;
  int32_t number = 0;
};
using MemberArgs = std::array<MemberArg, kMaxMemberArgs>;

// What an operation gave back (the member's ResultType says which is meant).
struct MemberResult {
  bool truth = false;
  int32_t number = 0;
  std::string text;
};

using MemberOperation = void (*)(CoreHost& host, const MemberArgs& args, MemberResult* result);

namespace member_binding {

// An operation that may fail gives an Outcome; the page gets its value, or
// the words for its failure (bridge/page_texts.h).
template <typename R>
struct IsOutcome : std::false_type {};
template <typename Reason, typename T>
struct IsOutcome<Outcome<Reason, T>> : std::true_type {};

template <typename T>
constexpr ArgType ArgTypeOf() {
  using U = std::remove_cvref_t<T>;
  static_assert(std::is_same_v<U, std::string> || std::is_same_v<U, int32_t>,
                "members take strings and 32-bit integers only");
  return std::is_same_v<U, std::string> ? ArgType::kString : ArgType::kInteger;
}

template <typename R>
constexpr ResultType ResultTypeOf() {
  if constexpr (std::is_void_v<R>)
    return ResultType::kNone;
  else if constexpr (std::is_same_v<R, bool>)
    return ResultType::kBool;
  else if constexpr (std::is_same_v<R, int32_t>)
    return ResultType::kInteger;
  else if constexpr (IsOutcome<R>::value)
    return ResultType::kString;
  else {
    static_assert(std::is_same_v<R, std::string>, "members give bool, int32_t or std::string");
    return ResultType::kString;
  }
}

template <typename T>
decltype(auto) Take(const MemberArg& a) {
  if constexpr (ArgTypeOf<T>() == ArgType::kString)
    return (a.text);
  else
    return a.number;
}

template <typename R>
void Store(R&& value, MemberResult* r) {
  using U = std::remove_cvref_t<R>;
  if constexpr (std::is_same_v<U, bool>)
    r->truth = value;
  else if constexpr (std::is_same_v<U, int32_t>)
    r->number = value;
  else if constexpr (IsOutcome<U>::value)
    r->text = PageText(value);
  else
    r->text = std::forward<R>(value);
}

// The operation's signature, read off its member-function pointer.
template <auto Fn>
struct Signature;
template <typename R, typename... A, R (CoreHost::*Fn)(A...)>
struct Signature<Fn> {
  static constexpr ResultType kResult = ResultTypeOf<R>();
  static constexpr std::array<ArgType, sizeof...(A)> kArgs = {ArgTypeOf<A>()...};
  static void Call(CoreHost& host, const MemberArgs& a, MemberResult* r) {
    [&]<size_t... I>(std::index_sequence<I...>) {
      if constexpr (std::is_void_v<R>)
        (host.*Fn)(Take<A>(a[I])...);
      else
        Store((host.*Fn)(Take<A>(a[I])...), r);
    }
    (std::index_sequence_for<A...>{});
  }
};

}  // namespace member_binding

// An operation of the core, with the types its signature gives.
struct BoundOperation {
  MemberOperation call;
  ResultType result;
  std::array<ArgType, kMaxMemberArgs> args;
  int argCount;
};

template <auto Fn>
constexpr BoundOperation Operation() {
  using S = member_binding::Signature<Fn>;
  static_assert(S::kArgs.size() <= kMaxMemberArgs);
  BoundOperation b{&S::Call, S::kResult, {}, static_cast<int>(S::kArgs.size())};
  for (size_t i = 0; i < S::kArgs.size(); ++i) b.args[i] = S::kArgs[i];
  return b;
}

struct Member {
  std::string_view name;
  MemberKind kind;
  std::array<ArgType, kMaxMemberArgs> args;
  int argCount;
  // The arguments a page must give; those after them may be left out (the
  // operation then gets "" or 0 for them).
  int required;
  ResultType result;
  MemberOperation call;

  // Compiled only when the listed types are the operation's own.
  consteval Member(std::string_view n, MemberKind k, std::initializer_list<ArgType> a, ResultType r,
                   BoundOperation op, int requiredArgs = -1)
      : name(n),
        kind(k),
        args{},
        argCount(static_cast<int>(a.size())),
        required(requiredArgs < 0 ? argCount : requiredArgs),
        result(r),
        call(op.call) {
    if (argCount != op.argCount || r != op.result || required > argCount)
      throw "the member's listed types are not its operation's";
    int i = 0;
    for (ArgType t : a) {
      if (t != op.args[i]) throw "the member's listed types are not its operation's";
      args[i++] = t;
    }
  }
};

// The first 38 are the members the pages have always had, in their order;
// those after them were added for the part that rings.
constexpr int kMemberCount = 41;
extern const std::array<Member, kMemberCount> kMethodTable;

// DISPID of a name, or DISPID_UNKNOWN.
DISPID LookupMember(std::string_view name);

}  // namespace zb
