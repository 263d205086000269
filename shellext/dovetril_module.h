// The Dovetril library as a whole: its lock count, its resources, its own
// path and the four exported entry points.
#pragma once

#include <string>

#include "platform/automation.h"
#include "shellext/bitmap.h"

#define DOVETRIL_EXPORT extern "C" __attribute__((visibility("default")))

DOVETRIL_EXPORT zb::HRESULT DllGetClassObject(zb::REFCLSID clsid, zb::REFIID riid, void** ppv);
DOVETRIL_EXPORT zb::HRESULT DllCanUnloadNow();
DOVETRIL_EXPORT zb::HRESULT DllRegisterServer();
DOVETRIL_EXPORT zb::HRESULT DllUnregisterServer();

namespace zb::dovetril {

// The library's lock count: one per live component object, per outside
// reference to the class object and per LockServer(TRUE). Interlocked.
void ModuleLock();
void ModuleUnlock();
long ModuleLockCount();

// The resources carried inside the library (bitmap 201).
HINSTANCE ModuleInstance();
// The resolved full path of the file that holds this code.
std::string ModulePath();

}  // namespace zb::dovetril
