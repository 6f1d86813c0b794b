// The class table of a module and the class factories DllGetClassObject
// hands out for it.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstddef>

namespace zv::com {

using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);

// One class of a module. Classes that cannot be aggregated refuse an outer
// object with CLASS_E_NOAGGREGATION.
struct ClassEntry {
  const CLSID* clsid;
  CreateFunction create;
  bool aggregatable;
};

// Makes an object of `entry`'s class, as IClassFactory::CreateInstance.
HRESULT CreateInstance(const ClassEntry& entry, IUnknown* outer, REFIID iid, void** out) noexcept;
// IClassFactory::LockServer: the lock counts in the module lock count.
HRESULT LockServer(BOOL lock) noexcept;

// A class factory that lives as long as its module's server, for modules
// that make their factories at load: holding one does not keep the module
// loaded, only LockServer does.
class ServerClassFactory : public IClassFactory {
 public:
  explicit ServerClassFactory(const ClassEntry& entry) : entry_(entry) {}
  ServerClassFactory(const ServerClassFactory&) = delete;
  ServerClassFactory& operator=(const ServerClassFactory&) = delete;
  virtual ~ServerClassFactory() = default;

  const CLSID& ClassId() const { return *entry_.clsid; }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    return com::CreateInstance(entry_, outer, iid, out);
  }
  STDMETHODIMP LockServer(BOOL lock) override { return com::LockServer(lock); }

 private:
  ClassEntry entry_;
};

// DllGetClassObject over a module's class table.
HRESULT GetClassObject(const ClassEntry* table, size_t count, REFCLSID clsid, REFIID iid, void** out) noexcept;

template <size_t N>
HRESULT GetClassObject(const ClassEntry (&table)[N], REFCLSID clsid, REFIID iid, void** out) noexcept {
  return GetClassObject(table, N, clsid, iid, out);
}

// DllGetClassObject over factories that live as long as the module.
HRESULT GetClassObject(ServerClassFactory* const* factories, size_t count, REFCLSID clsid, REFIID iid,
                       void** out) noexcept;

// DllCanUnloadNow: S_OK when no object, factory or server lock is alive.
HRESULT CanUnloadNow() noexcept;

}  // namespace zv::com
