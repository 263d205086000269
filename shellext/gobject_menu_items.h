// What the GTK file managers' modules (Nautilus, Caja, Nemo, Thunar) share:
// the selection read from the file manager's file-info objects, and the host
// core's entries turned into the file manager's own menu-item objects, each
// running its handler's command on "activate". The file managers' item and
// file-info types differ only in name, so each module passes its own
// functions. GLib, GIO and gdk-pixbuf only: no toolkit.
#pragma once

#include <gio/gio.h>
#include <glib.h>

#include <optional>
#include <string>
#include <vector>

#include "shellext/context_menu_host.h"

namespace zb::host {

// The selection as the host core takes it: each file's local path and the
// file manager's own answer to "is it a folder". Empty when any file is not
// local (handlers see local files only).
template <typename FileInfo>
std::optional<std::vector<SelectedItem>> SelectionFrom(GList* files, GFile* (*location)(FileInfo*),
                                                       gboolean (*isDirectory)(FileInfo*)) {
  std::vector<SelectedItem> selection;
  for (GList* l = files; l; l = l->next) {
    auto* info = static_cast<FileInfo*>(l->data);
    GFile* file = location(info);
    char* path = file ? g_file_get_path(file) : nullptr;
    if (file) g_object_unref(file);
    if (!path) return std::nullopt;
    selection.push_back({path, isDirectory(info) != FALSE});
    g_free(path);
  }
  return selection;
}

// A plain GObject type named `name`, registered in `module`, that implements
// the file manager's menu-provider interface through `init`. For the file
// managers whose modules are GTypeModules (Nautilus, Caja, Nemo).
GType RegisterMenuProviderType(GTypeModule* module, const char* name, GType menuProvider,
                               GInterfaceInitFunc init);

// The one type a module lists: `*types` points at storage that lives as long
// as the module.
void ListProviderType(GType type, const GType** types, int* count);

// The item's bitmap as a PNG file in the user's cache (written once, named
// by its content); its absolute path serves as the icon name. Empty when the
// item has no bitmap or the file cannot be written.
std::string MenuIconFile(const HostMenuItem& item);

// Hands `item` to `menuItem` (freed with it) and runs the item's command when
// `menuItem` emits "activate".
void AttachHostItem(GObject* menuItem, HostMenuItem item);

// The file manager's menu items for a selection: one per host entry, made by
// `newItem(name, label, tip, icon)`, in the host core's order.
template <typename MenuItem>
GList* MenuItemsFor(const std::vector<SelectedItem>& selection,
                    MenuItem* (*newItem)(const char*, const char*, const char*, const char*)) {
  GList* result = nullptr;
  for (auto& hostItem : CollectMenuItems(selection)) {
    std::string icon = MenuIconFile(hostItem);
    MenuItem* item = newItem(hostItem.name.c_str(), hostItem.label.c_str(),
                             hostItem.tip.empty() ? nullptr : hostItem.tip.c_str(),
                             icon.empty() ? nullptr : icon.c_str());
    AttachHostItem(G_OBJECT(item), std::move(hostItem));
    result = g_list_append(result, item);
  }
  return result;
}

// Both steps: the menu items for the file manager's selection list.
template <typename MenuItem, typename FileInfo>
GList* MenuItemsForFiles(GList* files, GFile* (*location)(FileInfo*),
                         gboolean (*isDirectory)(FileInfo*),
                         MenuItem* (*newItem)(const char*, const char*, const char*, const char*)) {
  auto selection = SelectionFrom(files, location, isDirectory);
  return selection ? MenuItemsFor(*selection, newItem) : nullptr;
}

}  // namespace zb::host
