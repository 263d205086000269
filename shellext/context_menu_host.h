// The file manager's side of context-menu handlers: finds the handlers
// registered for every file type (under HKEY_CLASSES_ROOT,
// "*\ShellEx\ContextMenuHandlers") and approved under HKEY_LOCAL_MACHINE, loads each
// one's in-process library, creates it through DllGetClassObject, hands it the
// selection and records the entries it inserts. Display-free and shared by
// every file manager's module (Nautilus, Caja, Nemo and Thunar through
// shellext/gobject_menu_items.*, Dolphin through its own plugin), each of
// which turns the entries into its own menu items.
//
// Use from one thread (the file manager's main thread): handlers are
// apartment-model objects.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "shellext/shell_extension.h"

namespace zb::host {

class HandlerSession;

struct HostMenuItem {
  std::string name;   // unique: "ZimbrelHost::<class id>::<command offset>"
  std::string label;  // the entry's text without mnemonic marks
  std::string tip;    // the handler's help text, may be empty
  // The entry's unchecked-state bitmap, 0xRRGGBB rows from the top; empty
  // when it has none.
  int iconWidth = 0;
  int iconHeight = 0;
  std::vector<uint32_t> iconPixels;
  UINT commandOffset = 0;
  // Keeps the handler (and its library) alive while the item exists.
  std::shared_ptr<HandlerSession> session;
};

// Runs the entry's command on its handler; the handler's result.
HRESULT InvokeMenuItem(const HostMenuItem& item);

// One selected item as the file manager describes it. `isDirectory` is the
// file manager's own answer (never a stat here: a dead network mount would
// hang the file manager's thread).
struct SelectedItem {
  std::string path;  // full local path, UTF-8
  bool isDirectory = false;
};

// Entries of every approved handler for a selection. The handlers registered
// for every file type ("*") apply to files only: a selection holding a folder,
// an empty or relative path or a name that is not valid UTF-8 gets none.
// Handlers that decline the selection, cannot be loaded or insert nothing
// contribute nothing.
std::vector<HostMenuItem> CollectMenuItems(const std::vector<SelectedItem>& selection);

// Libraries currently loaded by the host (for checks).
size_t LoadedLibraryCount();

// "&Open && run" -> "Open & run".
std::string StripMnemonics(const std::u16string& text);

}  // namespace zb::host
