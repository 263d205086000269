#include "shellext/gobject_menu_items.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <cstdio>

namespace zb::host {

namespace {

constexpr char kItemKey[] = "zimbrel-host-item";

// FNV-1a over the size and pixels: names an icon file by its content.
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

void OnActivate(GObject* menuItem, gpointer) {
  auto* item = static_cast<HostMenuItem*>(g_object_get_data(menuItem, kItemKey));
  if (item) InvokeMenuItem(*item);
}

void DeleteItem(gpointer p) {
  delete static_cast<HostMenuItem*>(p);
}

}  // namespace

std::string MenuIconFile(const HostMenuItem& item) {
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

GType RegisterMenuProviderType(GTypeModule* module, const char* name, GType menuProvider,
                               GInterfaceInitFunc init) {
  static const GTypeInfo kInfo = {sizeof(GObjectClass), nullptr, nullptr, nullptr, nullptr, nullptr,
                                  sizeof(GObject),      0,       nullptr, nullptr};
  GType type =
      g_type_module_register_type(module, G_TYPE_OBJECT, name, &kInfo, static_cast<GTypeFlags>(0));
  const GInterfaceInfo menuInfo = {init, nullptr, nullptr};
  g_type_module_add_interface(module, type, menuProvider, &menuInfo);
  return type;
}

void ListProviderType(GType type, const GType** types, int* count) {
  static GType list[1];
  list[0] = type;
  *types = list;
  *count = 1;
}

void AttachHostItem(GObject* menuItem, HostMenuItem item) {
  g_object_set_data_full(menuItem, kItemKey, new HostMenuItem(std::move(item)), DeleteItem);
  g_signal_connect(menuItem, "activate", G_CALLBACK(OnActivate), nullptr);
}

}  // namespace zb::host
