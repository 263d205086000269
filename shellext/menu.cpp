#include "shellext/menu.h"

#include <new>

namespace zb {

namespace {
// The index an item is addressed by, or -1.
long Locate(HMENU menu, UINT position, UINT flags) {
  if (flags & MF_BYPOSITION)
    return position < menu->items.size() ? static_cast<long>(position) : -1;
  for (size_t i = 0; i < menu->items.size(); ++i)
    if (menu->items[i].id == position) return static_cast<long>(i);
  return -1;
}
}  // namespace

HMENU CreatePopupMenu() {
  return new (std::nothrow) Menu;
}

bool DestroyMenu(HMENU menu) {
  if (!menu) return false;
  delete menu;
  return true;
}

int GetMenuItemCount(HMENU menu) {
  return menu ? static_cast<int>(menu->items.size()) : -1;
}

bool InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR id, const char16_t* text) {
  if (!menu || (flags & MF_POPUP)) return false;
  MenuItem item;
  item.id = static_cast<UINT>(id);
  item.flags = flags & ~MF_BYPOSITION;
  if (!(flags & MF_SEPARATOR) && text) item.text = text;
  long at = Locate(menu, position, flags);
  if (at < 0) at = static_cast<long>(menu->items.size());
  menu->items.insert(menu->items.begin() + at, std::move(item));
  return true;
}

bool SetMenuItemBitmaps(HMENU menu, UINT position, UINT flags, HBITMAP unchecked, HBITMAP checked) {
  if (!menu) return false;
  long at = Locate(menu, position, flags);
  if (at < 0) return false;
  menu->items[at].uncheckedBitmap = unchecked;
  menu->items[at].checkedBitmap = checked;
  return true;
}

}  // namespace zb
