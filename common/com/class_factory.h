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

// DllGetClassObject over a module's class table.
HRESULT GetClassObject(const ClassEntry* table, size_t count, REFCLSID clsid, REFIID iid,
                       void** out) noexcept;

template <size_t N>
HRESULT GetClassObject(const ClassEntry (&table)[N], REFCLSID clsid, REFIID iid, void** out) noexcept {
  return GetClassObject(table, N, clsid, iid, out);
}

// DllCanUnloadNow: S_OK when no object, factory or server lock is alive.
HRESULT CanUnloadNow() noexcept;

}  // namespace zv::com
