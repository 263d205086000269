#include "shellext/dovetril_module.h"

#include <atomic>
#include <mutex>
#include <new>

#include "platform/module_dir.h"
#include "shellext/dovetril_ids.h"
#include "shellext/dovetril_registration.h"
#include "shellext/dovetril_shl.h"

namespace zb::dovetril {

namespace {

std::atomic<long> gLockCount{0};

// The class object of DovetrilShl. The library keeps one reference for its
// lifetime; while anyone else holds one the library stays locked.
class ClassFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override {
    long n = ++m_refs;
    if (n == 2) ModuleLock();
    return static_cast<ULONG>(n);
  }
  ULONG Release() override {
    long n = --m_refs;
    if (n == 1) ModuleUnlock();
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    return DovetrilShl::Create(outer, riid, ppv);
  }
  HRESULT LockServer(int lock) override {
    if (lock)
      ModuleLock();
    else
      ModuleUnlock();
    return S_OK;
  }

 private:
  std::atomic<long> m_refs{1};
};

std::mutex gFactoryMutex;
ClassFactory* gFactory = nullptr;

// Runs when the library is unloaded: drops the cached class object.
__attribute__((destructor)) void ReleaseCachedFactory() {
  std::lock_guard<std::mutex> lock(gFactoryMutex);
  if (gFactory) {
    // Outside references (if a host broke the rules) keep it alive.
    gFactory->Release();
    gFactory = nullptr;
  }
}

}  // namespace

void ModuleLock() {
  ++gLockCount;
}
void ModuleUnlock() {
  --gLockCount;
}
long ModuleLockCount() {
  return gLockCount.load();
}

std::string ModulePath() {
  return ModulePathOf(reinterpret_cast<const void*>(&ModulePath));
}

}  // namespace zb::dovetril

using namespace zb;
using namespace zb::dovetril;

HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!(clsid == CLSID_DovetrilShl)) return CLASS_E_CLASSNOTAVAILABLE;
  // Made once; the query runs under the lock so that creation is serialised.
  std::lock_guard<std::mutex> lock(gFactoryMutex);
  if (!gFactory) gFactory = new (std::nothrow) ClassFactory;
  if (!gFactory) return E_OUTOFMEMORY;
  return gFactory->QueryInterface(riid, ppv);
}

HRESULT DllCanUnloadNow() {
  return ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

HRESULT DllRegisterServer() {
  return RegisterServer(ModulePath(), DefaultPlatformVersion());
}

HRESULT DllUnregisterServer() {
  return UnregisterServer(ModulePath(), DefaultPlatformVersion());
}
