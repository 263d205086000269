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
  static const GTypeInfo info = {sizeof(GObjectClass), nullptr, nullptr, nullptr, nullptr, nullptr,
                                 sizeof(GObject),      0,       nullptr, nullptr};
  static const GInterfaceInfo menuInfo = {MenuProviderInit, nullptr, nullptr};
  gProviderType = g_type_module_register_type(module, G_TYPE_OBJECT, "ZimbrelMenuProvider", &info,
                                              static_cast<GTypeFlags>(0));
  g_type_module_add_interface(module, gProviderType, NAUTILUS_TYPE_MENU_PROVIDER, &menuInfo);
}

ZB_NAUTILUS_EXPORT void nautilus_module_shutdown(void) {}

ZB_NAUTILUS_EXPORT void nautilus_module_list_types(const GType** types, int* count) {
  static GType list[1];
  list[0] = gProviderType;
  *types = list;
  *count = 1;
}
