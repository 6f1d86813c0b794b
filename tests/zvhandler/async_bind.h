// The browser's side of an asynchronous binding through urlmon, shared by
// the urlmon tests and the demo program.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <functional>
#include <string>

namespace zv::test {

// The browser's side of a binding: asynchronous, no cache, data pulled.
class BindCallback final : public IBindStatusCallback {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IBindStatusCallback)) return E_NOINTERFACE;
    *out = static_cast<IBindStatusCallback*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }

  STDMETHODIMP OnStartBinding(DWORD, IBinding* binding) override {
    if (binding) {
      binding->AddRef();
      binding_ = binding;
    }
    return S_OK;
  }
  STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
  STDMETHODIMP OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
  STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR) override {
    stopped = true;
    stopResult = result;
    return S_OK;
  }
  STDMETHODIMP GetBindInfo(DWORD* flags, BINDINFO* info) override {
    *flags = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA | BINDF_NOWRITECACHE | BINDF_GETNEWESTVERSION;
    const DWORD size = info->cbSize;
    ZeroMemory(info, size);
    info->cbSize = size;
    info->dwBindVerb = BINDVERB_GET;
    return S_OK;
  }
  STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
    ++dataCalls;
    return S_OK;
  }
  STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

  void Abort() {
    if (binding_) binding_->Abort();
  }
  ~BindCallback() {
    if (binding_) binding_->Release();
  }

  bool stopped = false;
  HRESULT stopResult = S_OK;
  int dataCalls = 0;

 private:
  LONG refs_ = 1;
  IBinding* binding_ = nullptr;
};

// Binds `url` to storage asynchronously; returns what BindToStorage answered.
HRESULT BindAsync(const std::string& url, BindCallback& callback, IMoniker** moniker, IBindCtx** context);

// Dispatches the thread's messages (the binding's progress) until `done`
// or `ms` milliseconds.
void PumpMessagesFor(DWORD ms, const std::function<bool()>& done);

}  // namespace zv::test
