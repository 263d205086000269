// Phones paired with this computer through KDE Connect or GSConnect, on the
// user's D-Bus session bus.
//
// Neither is ever started by the service: a daemon that is not running has
// no phones (every call is made without D-Bus activation). Each call waits
// at most a few seconds for an answer.
#pragma once

#include <gio/gio.h>

#include <string>
#include <vector>

namespace zb::service {

struct PhoneDevice {
  std::string id, name;
  std::string via;  // "kdeconnect" or "gsconnect"
};

// A connection to the user's session bus (DBUS_SESSION_BUS_ADDRESS, else
// $XDG_RUNTIME_DIR/bus), or null when there is none. Never starts a bus.
GDBusConnection* OpenSessionBus();

// Whether `name` has an owner on `bus` now.
bool BusNameRunning(GDBusConnection* bus, const char* name);

// Calls a method of a phone daemon's device without starting the daemon,
// waiting a few seconds at most. False, with "<who> did not take the
// ringtone" and the bus's reason in `error`, when the call fails.
bool CallDevice(GDBusConnection* bus, const char* name, const std::string& path, const char* iface,
                const char* method, GVariant* params, const char* who, std::string* error);

// Whether `id` can name a device's object (letters, digits and '_').
bool IsDeviceId(const std::string& id);

// The phones each one has paired and can reach now.
std::vector<PhoneDevice> KdeConnectDevices(GDBusConnection* bus);
std::vector<PhoneDevice> GsConnectDevices(GDBusConnection* bus);

// Hands the file at `path` to the device; false and a sentence in `error`
// when it is refused.
bool KdeConnectShare(GDBusConnection* bus, const std::string& id, const std::string& path,
                     std::string* error);
bool GsConnectShare(GDBusConnection* bus, const std::string& id, const std::string& path,
                    std::string* error);

// Every phone of both, KDE Connect's first.
std::vector<PhoneDevice> PairedPhones();
// Hands the file to the phone `id` of PairedPhones().
bool SendToPhone(const std::string& id, const std::string& path, std::string* error);

}  // namespace zb::service
