// IObjectSafety for a class whose interfaces are safe for the options in
// `Supported` (INTERFACESAFE_FOR_UNTRUSTED_CALLER, _FOR_UNTRUSTED_DATA):
// a scripting host asks and enables them per interface the object exposes.
#pragma once

#include <windows.h>
#include <objsafe.h>

namespace zv::com {

template <DWORD Supported>
class ObjectSafety : public IObjectSafety {
 public:
  STDMETHODIMP GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) override {
    if (!supported || !enabled) return E_POINTER;
    if (const HRESULT hr = Exposes(iid); FAILED(hr)) {
      *supported = 0;
      *enabled = 0;
      return hr;
    }
    *supported = Supported;
    *enabled = enabled_;
    return S_OK;
  }

  // Only the bits named in `mask` change; a bit the object cannot promise
  // is refused.
  STDMETHODIMP SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD options) override {
    if (FAILED(Exposes(iid))) return E_NOINTERFACE;
    if (mask & ~Supported) return E_FAIL;
    enabled_ = (enabled_ & ~mask) | (options & mask);
    return S_OK;
  }

 private:
  // Asked through the object's own QueryInterface, so an aggregate answers
  // for its outer object.
  HRESULT Exposes(REFIID iid) {
    IUnknown* exposed = nullptr;
    const HRESULT hr = QueryInterface(iid, reinterpret_cast<void**>(&exposed));
    if (SUCCEEDED(hr) && exposed) exposed->Release();
    return hr;
  }

  DWORD enabled_ = 0;
};

}  // namespace zv::com
