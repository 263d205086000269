// The ZBL method table: 38 member names in a fixed order; a member's DISPID
// is its 1-based position. Names compare byte for byte (case matters).
#pragma once

#include <array>
#include <string_view>

#include "platform/automation.h"

namespace zb {

enum class MemberKind { kMethod, kProperty, kBoth };

struct MemberInfo {
  std::string_view name;
  MemberKind kind;
};

constexpr int kMemberCount = 38;
extern const std::array<MemberInfo, kMemberCount> kMethodTable;

// DISPID of a name, or DISPID_UNKNOWN.
DISPID LookupMember(std::string_view name);

}  // namespace zb
