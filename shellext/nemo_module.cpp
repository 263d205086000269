// libzimbrel-nemo.so: a Nemo 5.6 extension module (GTK 3) that shows the
// entries of the context-menu handlers registered in our registry. Each
// entry becomes a NemoMenuItem whose "activate" runs the handler's command.
#include <libnemo-extension/nemo-extension-types.h>
#include <libnemo-extension/nemo-menu-provider.h>

#include "shellext/gobject_menu_items.h"

#define ZB_NEMO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

GType gProviderType = 0;

GList* GetFileItems(NemoMenuProvider*, GtkWidget*, GList* files) {
  return zb::host::MenuItemsForFiles(files, nemo_file_info_get_location,
                                     nemo_file_info_is_directory, nemo_menu_item_new);
}

void MenuProviderInit(gpointer iface, gpointer) {
  static_cast<NemoMenuProviderInterface*>(iface)->get_file_items = GetFileItems;
}

}  // namespace

ZB_NEMO_EXPORT void nemo_module_initialize(GTypeModule* module) {
  gProviderType = zb::host::RegisterMenuProviderType(module, "ZimbrelNemoMenuProvider",
                                                     NEMO_TYPE_MENU_PROVIDER, MenuProviderInit);
}

ZB_NEMO_EXPORT void nemo_module_shutdown(void) {}

ZB_NEMO_EXPORT void nemo_module_list_types(const GType** types, int* count) {
  zb::host::ListProviderType(gProviderType, types, count);
}
