// libzimbrel-thunar.so: a Thunar 4.18 extension (thunarx-3, GTK 3) that
// shows the entries of the context-menu handlers registered in our
// registry. Each entry becomes a ThunarxMenuItem whose "activate" runs the
// handler's command.
// Some of thunarx's headers lack C linkage markers.
#include <gtk/gtk.h>
extern "C" {
#include <thunarx/thunarx.h>
}

#include "shellext/gobject_menu_items.h"

#define ZB_THUNAR_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

GType gProviderType = 0;

GList* GetFileMenuItems(ThunarxMenuProvider*, GtkWidget*, GList* files) {
  return zb::host::MenuItemsForFiles(files, thunarx_file_info_get_location,
                                     thunarx_file_info_is_directory, thunarx_menu_item_new);
}

void MenuProviderInit(gpointer iface, gpointer) {
  static_cast<ThunarxMenuProviderIface*>(iface)->get_file_menu_items = GetFileMenuItems;
}

}  // namespace

ZB_THUNAR_EXPORT void thunar_extension_initialize(ThunarxProviderPlugin* plugin) {
  // The provider type and the loaded handler libraries cannot be torn down
  // while Thunar runs: the plugin stays loaded.
  thunarx_provider_plugin_set_resident(plugin, TRUE);
  static const GTypeInfo kInfo = {sizeof(GObjectClass), nullptr, nullptr, nullptr, nullptr, nullptr,
                                  sizeof(GObject),      0,       nullptr, nullptr};
  static const GInterfaceInfo kMenuInfo = {MenuProviderInit, nullptr, nullptr};
  gProviderType = thunarx_provider_plugin_register_type(
      plugin, G_TYPE_OBJECT, "ZimbrelThunarMenuProvider", &kInfo, static_cast<GTypeFlags>(0));
  thunarx_provider_plugin_add_interface(plugin, gProviderType, THUNARX_TYPE_MENU_PROVIDER,
                                        &kMenuInfo);
}

ZB_THUNAR_EXPORT void thunar_extension_shutdown(void) {}

ZB_THUNAR_EXPORT void thunar_extension_list_types(const GType** types, gint* count) {
  zb::host::ListProviderType(gProviderType, types, count);
}
