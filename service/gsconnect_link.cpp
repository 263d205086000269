// Phones through GSConnect (org.gnome.Shell.Extensions.GSConnect), the same
// protocol as KDE Connect with GNOME's D-Bus face: devices are objects of
// its object manager, and a file is shared with the device's "shareFile"
// action.
#include "service/phone_links.h"

#include <cstring>

namespace zb::service {
namespace {

constexpr char kName[] = "org.gnome.Shell.Extensions.GSConnect";
constexpr char kRoot[] = "/org/gnome/Shell/Extensions/GSConnect";
constexpr char kDevice[] = "org.gnome.Shell.Extensions.GSConnect.Device";
constexpr int kWaitMs = 5000;

bool Flag(GVariant* props, const char* key) {
  gboolean b = FALSE;
  return g_variant_lookup(props, key, "b", &b) && b;
}

}  // namespace

std::vector<PhoneDevice> GsConnectDevices(GDBusConnection* bus) {
  std::vector<PhoneDevice> out;
  if (!BusNameRunning(bus, kName)) return out;
  GVariant* r =
      g_dbus_connection_call_sync(bus, kName, kRoot, "org.freedesktop.DBus.ObjectManager",
                                  "GetManagedObjects", nullptr, G_VARIANT_TYPE("(a{oa{sa{sv}}})"),
                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, kWaitMs, nullptr, nullptr);
  if (!r) return out;
  GVariant* objects = g_variant_get_child_value(r, 0);
  GVariantIter it;
  g_variant_iter_init(&it, objects);
  const gchar* path = nullptr;
  GVariant* interfaces = nullptr;
  while (g_variant_iter_loop(&it, "{&o@a{sa{sv}}}", &path, &interfaces)) {
    GVariant* props = g_variant_lookup_value(interfaces, kDevice, G_VARIANT_TYPE("a{sv}"));
    if (!props) continue;
    const gchar* last = std::strrchr(path, '/');
    PhoneDevice d{last ? last + 1 : "", "", "gsconnect"};
    const gchar* text = nullptr;
    if (g_variant_lookup(props, "Id", "&s", &text)) d.id = text;
    if (g_variant_lookup(props, "Name", "&s", &text)) d.name = text;
    if (d.name.empty()) d.name = d.id;
    if (IsDeviceId(d.id) && Flag(props, "Connected") && Flag(props, "Paired"))
      out.push_back(std::move(d));
    g_variant_unref(props);
  }
  g_variant_unref(objects);
  g_variant_unref(r);
  return out;
}

bool GsConnectShare(GDBusConnection* bus, const std::string& id, const std::string& path,
                    std::string* error) {
  if (!IsDeviceId(id)) {
    *error = "The ringtone cannot be handed to GSConnect.";
    return false;
  }
  // Activate("shareFile", [<(path, false)>], {}): false shares the file
  // itself rather than a link to it.
  GVariantBuilder params;
  g_variant_builder_init(&params, G_VARIANT_TYPE("av"));
  g_variant_builder_add(&params, "v", g_variant_new("(sb)", path.c_str(), FALSE));
  GVariantBuilder data;
  g_variant_builder_init(&data, G_VARIANT_TYPE("a{sv}"));
  return CallDevice(bus, kName, std::string(kRoot) + "/Device/" + id, "org.gtk.Actions", "Activate",
                    g_variant_new("(sava{sv})", "shareFile", &params, &data), "GSConnect", error);
}

}  // namespace zb::service
