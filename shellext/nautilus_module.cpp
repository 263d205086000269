// libzimbrel-nautilus.so: a Nautilus 43 extension module that shows the
// entries of the context-menu handlers registered in our registry. Each
// entry becomes a NautilusMenuItem whose "activate" runs the handler's
// command.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <glib/gstdio.h>
#include <unistd.h>
extern "C" {
#include <nautilus-extension.h>
}

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "shellext/context_menu_host.h"

#define ZB_NAUTILUS_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using zb::host::HostMenuItem;

GType gProviderType = 0;

constexpr char kItemKey[] = "zimbrel-host-item";

// FNV-1a over the pixels: names an icon file by its content.
std::string IconName(const HostMenuItem& item) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      h ^= (v >> (8 * i)) & 0xFF;
      h *= 1099511628211ull;
    }
  };
  mix(static_cast<uint32_t>(item.iconWidth));
  mix(static_cast<uint32_t>(item.iconHeight));
  for (uint32_t p : item.iconPixels) mix(p);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

// The item's bitmap as a PNG file in the user's cache (written once); its
// path is the icon name. Empty when there is no bitmap or it cannot be
// written.
std::string IconFile(const HostMenuItem& item) {
  if (item.iconWidth <= 0 || item.iconHeight <= 0 ||
      item.iconPixels.size() != static_cast<size_t>(item.iconWidth) * item.iconHeight)
    return {};
  std::string dir = std::string(g_get_user_cache_dir()) + "/zimbrel/menu-icons";
  std::string path = dir + "/" + IconName(item) + ".png";
  if (g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR)) return path;
  if (g_mkdir_with_parents(dir.c_str(), 0700) != 0) return {};
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, item.iconWidth, item.iconHeight);
  if (!pixbuf) return {};
  int stride = gdk_pixbuf_get_rowstride(pixbuf);
  guchar* px = gdk_pixbuf_get_pixels(pixbuf);
  for (int y = 0; y < item.iconHeight; ++y)
    for (int x = 0; x < item.iconWidth; ++x) {
      uint32_t c = item.iconPixels[static_cast<size_t>(y) * item.iconWidth + x];
      guchar* p = px + y * stride + x * 3;
      p[0] = static_cast<guchar>(c >> 16);
      p[1] = static_cast<guchar>(c >> 8);
      p[2] = static_cast<guchar>(c);
    }
  // Written under a temporary name and renamed, so a reader never sees half.
  std::string tmp = path + ".tmp-" + std::to_string(::getpid());
  gboolean ok = gdk_pixbuf_save(pixbuf, tmp.c_str(), "png", nullptr, nullptr);
  g_object_unref(pixbuf);
  if (!ok || g_rename(tmp.c_str(), path.c_str()) != 0) {
    g_unlink(tmp.c_str());
    return {};
  }
  return path;
}

void OnActivate(NautilusMenuItem* menuItem, gpointer) {
  auto* item = static_cast<HostMenuItem*>(g_object_get_data(G_OBJECT(menuItem), kItemKey));
  if (item) zb::host::InvokeMenuItem(*item);
}

void DeleteItem(gpointer p) {
  delete static_cast<HostMenuItem*>(p);
}

GList* GetFileItems(NautilusMenuProvider*, GList* files) {
  std::vector<zb::host::SelectedItem> selection;
  for (GList* l = files; l; l = l->next) {
    NautilusFileInfo* info = NAUTILUS_FILE_INFO(l->data);
    GFile* location = nautilus_file_info_get_location(info);
    char* path = location ? g_file_get_path(location) : nullptr;
    if (location) g_object_unref(location);
    // Handlers see local files only: a selection with any other offers nothing.
    if (!path) return nullptr;
    selection.push_back({path, nautilus_file_info_is_directory(info) != FALSE});
    g_free(path);
  }
  GList* result = nullptr;
  for (auto& hostItem : zb::host::CollectMenuItems(selection)) {
    std::string icon = IconFile(hostItem);
    NautilusMenuItem* item =
        nautilus_menu_item_new(hostItem.name.c_str(), hostItem.label.c_str(),
                               hostItem.tip.empty() ? nullptr : hostItem.tip.c_str(),
                               icon.empty() ? nullptr : icon.c_str());
    g_object_set_data_full(G_OBJECT(item), kItemKey, new HostMenuItem(std::move(hostItem)),
                           DeleteItem);
    g_signal_connect(item, "activate", G_CALLBACK(OnActivate), nullptr);
    result = g_list_append(result, item);
  }
  return result;
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
