#include "service/phone_links.h"

#include <cstdlib>

namespace zb::service {

GDBusConnection* OpenSessionBus() {
  std::string address;
  if (const char* a = std::getenv("DBUS_SESSION_BUS_ADDRESS"); a && *a) {
    address = a;
  } else if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) {
    std::string path = std::string(run) + "/bus";
    if (!g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) return nullptr;
    address = "unix:path=" + path;
  } else {
    return nullptr;
  }
  GError* error = nullptr;
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (error) g_error_free(error);
  if (bus) g_dbus_connection_set_exit_on_close(bus, FALSE);
  return bus;
}

bool CallDevice(GDBusConnection* bus, const char* name, const std::string& path, const char* iface,
                const char* method, GVariant* params, const char* who, std::string* error) {
  GError* e = nullptr;
  GVariant* r = g_dbus_connection_call_sync(bus, name, path.c_str(), iface, method, params, nullptr,
                                            G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, &e);
  if (!r) {
    *error = std::string(who) + " did not take the ringtone" +
             (e ? std::string(" (") + e->message + ")." : std::string("."));
    if (e) g_error_free(e);
    return false;
  }
  g_variant_unref(r);
  return true;
}

bool BusNameRunning(GDBusConnection* bus, const char* name) {
  GVariant* r = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, 3000,
      nullptr, nullptr);
  if (!r) return false;
  gboolean has = FALSE;
  g_variant_get(r, "(b)", &has);
  g_variant_unref(r);
  return has;
}

bool IsDeviceId(const std::string& id) {
  if (id.empty() || id.size() > 128) return false;
  for (char c : id)
    if (!g_ascii_isalnum(c) && c != '_') return false;
  return true;
}

std::vector<PhoneDevice> PairedPhones() {
  std::vector<PhoneDevice> all;
  GDBusConnection* bus = OpenSessionBus();
  if (!bus) return all;
  all = KdeConnectDevices(bus);
  for (PhoneDevice& d : GsConnectDevices(bus)) all.push_back(std::move(d));
  g_object_unref(bus);
  return all;
}

bool SendToPhone(const std::string& id, const std::string& path, std::string* error) {
  GDBusConnection* bus = OpenSessionBus();
  if (!bus) {
    *error = "Neither KDE Connect nor GSConnect is running.";
    return false;
  }
  bool ok = false;
  bool found = false;
  for (const PhoneDevice& d : KdeConnectDevices(bus))
    if (d.id == id) found = true, ok = KdeConnectShare(bus, id, path, error);
  if (!found)
    for (const PhoneDevice& d : GsConnectDevices(bus))
      if (d.id == id) found = true, ok = GsConnectShare(bus, id, path, error);
  if (!found) *error = "That phone is not paired or not within reach just now.";
  g_object_unref(bus);
  return ok;
}

}  // namespace zb::service
