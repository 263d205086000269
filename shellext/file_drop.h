// Global memory blocks and the file-drop list (CF_HDROP) in them, and a data
// object that hands out a list of paths the way the file manager does.
//
// A file-drop block holds a DROPFILES header (offset of the list, a point, two
// flags) followed by the paths in UTF-16, each zero-terminated, and one more
// zero after the last.
#pragma once

#include <string>
#include <vector>

#include "shellext/shell_extension.h"

namespace zb {

using HDROP = HGLOBAL;

// Null when memory runs out.
HGLOBAL GlobalAlloc(size_t bytes);
// Null for a null block; every successful lock needs an unlock.
void* GlobalLock(HGLOBAL block);
// False once the lock count is back to zero, true while locks remain.
bool GlobalUnlock(HGLOBAL block);
size_t GlobalSize(HGLOBAL block);
// Frees the block; returns null. Freeing a locked block is allowed.
HGLOBAL GlobalFree(HGLOBAL block);
// The number of outstanding locks on a block (for checks).
int GlobalLockCount(HGLOBAL block);
// The number of global blocks allocated and not yet freed, in this library.
long GlobalLiveBlocks();

// A file-drop block for `paths` (UTF-8), or null when memory runs out.
HDROP MakeFileDropBlock(const std::vector<std::string>& paths);
// index 0xFFFFFFFF: the number of paths. Otherwise the length of path `index`
// without its zero when `buffer` is null, else copies at most cch - 1 units
// and a zero and returns the number of units copied (0 for a bad index or a
// block that is not a file-drop list).
UINT DragQueryFileW(HDROP drop, UINT index, char16_t* buffer, UINT cch);

// A data object offering `paths` as CF_HDROP in global memory (DVASPECT_CONTENT,
// lindex -1, no target device), with a reference count of 1. Null when memory
// runs out.
IDataObject* CreateFileDropDataObject(const std::vector<std::string>& paths);

}  // namespace zb
