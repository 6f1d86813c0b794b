// The bind-status callback of one download: registered in the bind context
// before the binding starts, it collects the file details while the
// binding runs and, when it replaced a callback of the browser's, stands in
// for that one and puts it back.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include "com/com_ptr.h"
#include "com/object.h"
#include "DMRules.h"

namespace zv::watch {

class TBindStatusCallBack : public zv::com::Object<IBindStatusCallback> {
 public:
  // `known`: details learnt before the binding starts; none for a download.
  explicit TBindStatusCallBack(TFileDetails known = {}) : Object(nullptr), details_(std::move(known)) {}

  // The browser's callback, revoked from `context` to make room for this
  // one: told that its binding stopped, given every status but the
  // content-disposition one, and put back under its key when the binding
  // ends. `context` may be null: then it is not put back.
  void StandInFor(zv::com::ComPtr<IBindStatusCallback> previous, zv::com::ComPtr<IBindCtx> context);
  bool StandsIn() const { return static_cast<bool>(previous_); }

  // Ends the binding once the cache file is named, the last detail the
  // text needs, so that the browser does not fetch the whole file before
  // the download manager fetches it again. A file whose cache file is
  // already whole, or whose size the response does not give, is left to
  // end by itself: urlmon may have its result in hand by then, and an
  // abort on top of it leaves the binding without a result to return.
  void EndBindingEarly() { endEarly_ = true; }

  // Between OnStartBinding and OnStopBinding.
  bool HoldsBinding() const { return static_cast<bool>(binding_); }

  // The details for the command text.
  const TFileDetails& Details() const { return details_; }

  // IBindStatusCallback
  STDMETHODIMP OnStartBinding(DWORD reserved, IBinding* binding) override;
  STDMETHODIMP GetPriority(LONG* priority) override;
  STDMETHODIMP OnLowResource(DWORD reserved) override;
  STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR statusText) override;
  STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR error) override;
  STDMETHODIMP GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) override;
  STDMETHODIMP OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP OnObjectAvailable(REFIID iid, IUnknown* object) override;

 protected:
  IUnknown* FindInterface(REFIID iid) override;

 private:
  void CollectHeaderDetails();
  void EndBindingIfMoreIsToCome(LPCWSTR cacheFile);

  zv::com::ComPtr<IBinding> binding_;
  zv::com::ComPtr<IBindStatusCallback> previous_;  // the browser's, set only after it was revoked
  zv::com::ComPtr<IBindCtx> context_;              // where `previous_` goes back
  TFileDetails details_;
  bool endEarly_ = false;
};

}  // namespace zv::watch
