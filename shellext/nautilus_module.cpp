// libzimbrel-nautilus.so: a Nautilus 43 extension module that shows the
// entries of the context-menu handlers registered in our registry. Each
// entry becomes a NautilusMenuItem whose "activate" runs the handler's
// command.
#include <gio/gio.h>
extern "C" {
#include <nautilus-extension.h>
}

#include "shellext/gobject_menu_items.h"

#define ZB_NAUTILUS_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

GType gProviderType = 0;

GList* GetFileItems(NautilusMenuProvider*, GList* files) {
  return zb::host::MenuItemsForFiles(files, nautilus_file_info_get_location,
                                     nautilus_file_info_is_directory, nautilus_menu_item_new);
}

GList* GetBackgroundItems(NautilusMenuProvider*, NautilusFileInfo*) {
  return nullptr;
}

void MenuProviderInit(gpointer iface, gpointer) {
  auto* menu = static_cast<NautilusMenuProviderInterface*>(iface);
  menu->get_file_items = GetFileItems;
  menu->get_background_items = GetBackgroundItems;
}

}  // namespace

ZB_NAUTILUS_EXPORT void nautilus_module_initialize(GTypeModule* module) {
  gProviderType = zb::host::RegisterMenuProviderType(module, "ZimbrelMenuProvider",
                                                     NAUTILUS_TYPE_MENU_PROVIDER, MenuProviderInit);
}

ZB_NAUTILUS_EXPORT void nautilus_module_shutdown(void) {}

ZB_NAUTILUS_EXPORT void nautilus_module_list_types(const GType** types, int* count) {
  zb::host::ListProviderType(gProviderType, types, count);
}
