#include "class_factory.h"

#include "object.h"

namespace zv::com {
namespace {

LONG g_moduleLocks = 0;

// A factory is a live object of the module too: a client holding one keeps
// the module loaded even without LockServer.
class ClassFactory final : public Object<IClassFactory> {
 public:
  ClassFactory(IUnknown* outer, const ClassEntry& entry) : Object(outer), entry_(entry) {}

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    return com::CreateInstance(entry_, outer, iid, out);
  }
  STDMETHODIMP LockServer(BOOL lock) override { return com::LockServer(lock); }

 protected:
  IUnknown* FindInterface(REFIID iid) override {
    if (IsEqualIID(iid, IID_IClassFactory)) return static_cast<IClassFactory*>(this);
    return nullptr;
  }

 private:
  const ClassEntry& entry_;
};

}  // namespace

void LockModule() noexcept { InterlockedIncrement(&g_moduleLocks); }
void UnlockModule() noexcept { InterlockedDecrement(&g_moduleLocks); }
LONG ModuleLockCount() noexcept { return InterlockedCompareExchange(&g_moduleLocks, 0, 0); }

HRESULT CreateInstance(const ClassEntry& entry, IUnknown* outer, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer && !entry.aggregatable) return CLASS_E_NOAGGREGATION;
  return entry.create(outer, iid, out);
}

HRESULT LockServer(BOOL lock) noexcept {
  if (lock)
    LockModule();
  else
    UnlockModule();
  return S_OK;
}

STDMETHODIMP ServerClassFactory::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
  *out = static_cast<IClassFactory*>(this);
  return S_OK;
}

HRESULT GetClassObject(const ClassEntry* table, size_t count, REFCLSID clsid, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (!IsEqualCLSID(*table[i].clsid, clsid)) continue;
    return Guarded([&]() -> HRESULT {
      ClassFactory* factory = new (std::nothrow) ClassFactory(nullptr, table[i]);
      if (!factory) return E_OUTOFMEMORY;
      IUnknown* inner = factory->InnerUnknown();
      inner->AddRef();
      const HRESULT hr = inner->QueryInterface(iid, out);
      inner->Release();
      return hr;
    });
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT GetClassObject(ServerClassFactory* const* factories, size_t count, REFCLSID clsid, REFIID iid,
                       void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (size_t i = 0; i < count; ++i)
    if (IsEqualCLSID(factories[i]->ClassId(), clsid)) return factories[i]->QueryInterface(iid, out);
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadNow() noexcept { return ModuleLockCount() == 0 ? S_OK : S_FALSE; }

}  // namespace zv::com
