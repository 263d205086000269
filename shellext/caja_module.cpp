// libzimbrel-caja.so: a Caja 1.26 extension module (GTK 3) that shows the
// entries of the context-menu handlers registered in our registry. Each
// entry becomes a CajaMenuItem whose "activate" runs the handler's command.
#include <libcaja-extension/caja-extension-types.h>
#include <libcaja-extension/caja-menu-provider.h>

#include "shellext/gobject_menu_items.h"

#define ZB_CAJA_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

GType gProviderType = 0;

GList* GetFileItems(CajaMenuProvider*, GtkWidget*, GList* files) {
  return zb::host::MenuItemsForFiles(files, caja_file_info_get_location,
                                     caja_file_info_is_directory, caja_menu_item_new);
}

void MenuProviderInit(gpointer iface, gpointer) {
  static_cast<CajaMenuProviderIface*>(iface)->get_file_items = GetFileItems;
}

}  // namespace

ZB_CAJA_EXPORT void caja_module_initialize(GTypeModule* module) {
  gProviderType = zb::host::RegisterMenuProviderType(module, "ZimbrelCajaMenuProvider",
                                                     CAJA_TYPE_MENU_PROVIDER, MenuProviderInit);
}

ZB_CAJA_EXPORT void caja_module_shutdown(void) {}

ZB_CAJA_EXPORT void caja_module_list_types(const GType** types, int* count) {
  zb::host::ListProviderType(gProviderType, types, count);
}
