// A popup menu that records what a context-menu handler inserts: each item's
// text, command id, flags and bitmaps, in menu order. A host turns the
// recorded items into its own menu entries.
#pragma once

#include <string>
#include <vector>

#include "shellext/shell_extension.h"

namespace zb {

constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_POPUP = 0x0010;
constexpr UINT MF_SEPARATOR = 0x0800;
constexpr UINT MF_BYPOSITION = 0x0400;

struct MenuItem {
  UINT id = 0;
  UINT flags = 0;  // MF_STRING, MF_SEPARATOR, MF_GRAYED ... (never MF_BYPOSITION)
  std::u16string text;
  // Not owned: the handler that inserted the item keeps its bitmaps alive as
  // long as it lives.
  HBITMAP uncheckedBitmap = nullptr;
  HBITMAP checkedBitmap = nullptr;
};

struct Menu {
  std::vector<MenuItem> items;
};

HMENU CreatePopupMenu();
bool DestroyMenu(HMENU menu);
int GetMenuItemCount(HMENU menu);  // -1 for a null menu
// MF_BYPOSITION: inserts before the item at `position` (a position past the
// end, or 0xFFFFFFFF, appends). Without it: before the item whose id is
// `position`, appending when there is none. A popup (MF_POPUP) is refused.
bool InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR id, const char16_t* text);
// Sets the item's bitmaps, addressed by position (MF_BYPOSITION) or id.
bool SetMenuItemBitmaps(HMENU menu, UINT position, UINT flags, HBITMAP unchecked, HBITMAP checked);

}  // namespace zb
