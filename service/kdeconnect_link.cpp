// Phones through KDE Connect's daemon (org.kde.kdeconnect).
#include "service/phone_links.h"

namespace zb::service {
namespace {

constexpr char kName[] = "org.kde.kdeconnect";
constexpr int kWaitMs = 5000;

std::string DevicePath(const std::string& id) {
  return "/modules/kdeconnect/devices/" + id;
}

}  // namespace

std::vector<PhoneDevice> KdeConnectDevices(GDBusConnection* bus) {
  std::vector<PhoneDevice> out;
  if (!BusNameRunning(bus, kName)) return out;
  // Paired and reachable only.
  GVariant* r = g_dbus_connection_call_sync(
      bus, kName, "/modules/kdeconnect", "org.kde.kdeconnect.daemon", "devices",
      g_variant_new("(bb)", TRUE, TRUE), G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
      kWaitMs, nullptr, nullptr);
  if (!r) return out;
  GVariantIter* ids = nullptr;
  const gchar* id = nullptr;
  g_variant_get(r, "(as)", &ids);
  while (g_variant_iter_loop(ids, "&s", &id)) {
    if (!IsDeviceId(id)) continue;
    PhoneDevice d{id, id, "kdeconnect"};
    GVariant* name = g_dbus_connection_call_sync(
        bus, kName, DevicePath(id).c_str(), "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.kde.kdeconnect.device", "name"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, kWaitMs, nullptr, nullptr);
    if (name) {
      GVariant* v = nullptr;
      g_variant_get(name, "(v)", &v);
      if (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING)) d.name = g_variant_get_string(v, nullptr);
      g_variant_unref(v);
      g_variant_unref(name);
    }
    out.push_back(std::move(d));
  }
  g_variant_iter_free(ids);
  g_variant_unref(r);
  return out;
}

bool KdeConnectShare(GDBusConnection* bus, const std::string& id, const std::string& path,
                     std::string* error) {
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  if (!uri || !IsDeviceId(id)) {
    g_free(uri);
    *error = "The ringtone cannot be handed to KDE Connect.";
    return false;
  }
  const bool ok =
      CallDevice(bus, kName, DevicePath(id) + "/share", "org.kde.kdeconnect.device.share",
                 "shareUrl", g_variant_new("(s)", uri), "KDE Connect", error);
  g_free(uri);
  return ok;
}

}  // namespace zb::service
