#include "standin_browser.h"

#include <exdispid.h>
#include <olectl.h>

#include <cstring>
#include <map>

namespace zv::test {
namespace {

// Every IWebBrowser2 method the helper object has no business calling.
class WebBrowserStub : public IWebBrowser2 {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP GoBack() override { return E_NOTIMPL; }
  STDMETHODIMP GoForward() override { return E_NOTIMPL; }
  STDMETHODIMP GoHome() override { return E_NOTIMPL; }
  STDMETHODIMP GoSearch() override { return E_NOTIMPL; }
  STDMETHODIMP Navigate(BSTR, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP Refresh() override { return E_NOTIMPL; }
  STDMETHODIMP Refresh2(VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP Stop() override { return E_NOTIMPL; }
  STDMETHODIMP get_Application(IDispatch**) override { return E_NOTIMPL; }
  STDMETHODIMP get_Parent(IDispatch**) override { return E_NOTIMPL; }
  STDMETHODIMP get_Container(IDispatch**) override { return E_NOTIMPL; }
  STDMETHODIMP get_Document(IDispatch**) override { return E_NOTIMPL; }
  STDMETHODIMP get_TopLevelContainer(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP get_Type(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_Left(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP put_Left(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP get_Top(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP put_Top(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP get_Width(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP put_Width(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP get_Height(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP put_Height(LONG) override { return E_NOTIMPL; }
  STDMETHODIMP get_LocationName(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_Busy(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP Quit() override { return E_NOTIMPL; }
  STDMETHODIMP ClientToWindow(int*, int*) override { return E_NOTIMPL; }
  STDMETHODIMP PutProperty(BSTR, VARIANT) override { return E_NOTIMPL; }
  STDMETHODIMP GetProperty(BSTR, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP get_Name(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_HWND(SHANDLE_PTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_FullName(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_Path(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_Visible(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_Visible(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP get_StatusBar(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_StatusBar(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP get_StatusText(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP put_StatusText(BSTR) override { return E_NOTIMPL; }
  STDMETHODIMP get_ToolBar(int*) override { return E_NOTIMPL; }
  STDMETHODIMP put_ToolBar(int) override { return E_NOTIMPL; }
  STDMETHODIMP get_MenuBar(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_MenuBar(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP get_FullScreen(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_FullScreen(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP Navigate2(VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryStatusWB(OLECMDID, OLECMDF*) override { return E_NOTIMPL; }
  STDMETHODIMP ExecWB(OLECMDID, OLECMDEXECOPT, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP ShowBrowserBar(VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
  STDMETHODIMP get_ReadyState(READYSTATE*) override { return E_NOTIMPL; }
  STDMETHODIMP get_Offline(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_Offline(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP get_Silent(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_Silent(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP get_RegisterAsBrowser(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_RegisterAsBrowser(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP get_RegisterAsDropTarget(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_RegisterAsDropTarget(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP get_TheaterMode(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_TheaterMode(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP get_AddressBar(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_AddressBar(VARIANT_BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP get_Resizable(VARIANT_BOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP put_Resizable(VARIANT_BOOL) override { return E_NOTIMPL; }
};

class PlainSite final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
    *out = this;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (!left) delete this;
    return static_cast<ULONG>(left);
  }

 private:
  LONG refs_ = 1;
};

}  // namespace

class StandInBrowserObject final : public WebBrowserStub, public IConnectionPointContainer, public IConnectionPoint {
 public:
  explicit StandInBrowserObject(EventSource events) : events_(events) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IWebBrowser) ||
        IsEqualIID(iid, IID_IWebBrowserApp) || IsEqualIID(iid, IID_IWebBrowser2))
      *out = static_cast<IWebBrowser2*>(this);
    else if (IsEqualIID(iid, IID_IConnectionPointContainer) && events_ != EventSource::kNoContainer)
      *out = static_cast<IConnectionPointContainer*>(this);
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (!left) delete this;
    return static_cast<ULONG>(left);
  }

  STDMETHODIMP get_LocationURL(BSTR* location) override {
    ++locationQueries;
    *location = nullptr;
    if (FAILED(locationResult)) return locationResult;
    if (location_) *location = SysAllocString(location_->c_str());
    return S_OK;
  }

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
    *out = nullptr;
    if (events_ == EventSource::kNotFound || !IsEqualIID(iid, DIID_DWebBrowserEvents2)) return CONNECT_E_NOCONNECTION;
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }

  // IConnectionPoint
  STDMETHODIMP GetConnectionInterface(IID* iid) override {
    *iid = DIID_DWebBrowserEvents2;
    return S_OK;
  }
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override {
    *out = static_cast<IConnectionPointContainer*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
    ++advises;
    *cookie = 0;
    if (events_ == EventSource::kAdviseFails) return CONNECT_E_CANNOTCONNECT;
    zv::com::ComPtr<IDispatch> dispatch;
    if (!sink || FAILED(sink->QueryInterface(IID_IDispatch, dispatch.put_void()))) return CONNECT_E_CANNOTCONNECT;
    *cookie = nextCookie_++;
    sinks_[*cookie] = std::move(dispatch);
    return S_OK;
  }
  STDMETHODIMP Unadvise(DWORD cookie) override {
    ++unadvises;
    auto found = sinks_.find(cookie);
    if (found == sinks_.end()) return CONNECT_E_NOCONNECTION;
    const zv::com::ComPtr<IDispatch> sink = std::move(found->second);
    sinks_.erase(found);
    return S_OK;
  }
  STDMETHODIMP EnumConnections(IEnumConnections** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }

  zv::com::ComPtr<IDispatch> FirstSink() const {
    return sinks_.empty() ? zv::com::ComPtr<IDispatch>() : zv::com::ComPtr<IDispatch>::Share(sinks_.begin()->second.get());
  }
  long References() const { return refs_; }
  int Connected() const { return static_cast<int>(sinks_.size()); }
  void DropSinks() {
    auto sinks = std::move(sinks_);
    sinks_.clear();
  }

  void SetLocation(const std::optional<std::wstring>& location, HRESULT hr) {
    location_ = location;
    locationResult = hr;
  }

  int advises = 0;
  int unadvises = 0;
  int locationQueries = 0;
  HRESULT locationResult = S_OK;

 private:
  EventSource events_;
  LONG refs_ = 1;
  std::optional<std::wstring> location_ = std::wstring(L"http://example.org/downloads.html");
  std::map<DWORD, zv::com::ComPtr<IDispatch>> sinks_;
  DWORD nextCookie_ = 0x100;
};

StandInBrowser::StandInBrowser(EventSource events) : object_(new StandInBrowserObject(events)) {}

StandInBrowser::~StandInBrowser() {
  // The sinks hold the helper object, which holds the browser.
  object_->DropSinks();
  object_->Release();
}

IUnknown* StandInBrowser::site() const { return static_cast<IWebBrowser2*>(object_); }
void StandInBrowser::SetLocation(const std::optional<std::wstring>& location, HRESULT hr) {
  object_->SetLocation(location, hr);
}
int StandInBrowser::Advises() const { return object_->advises; }
int StandInBrowser::Unadvises() const { return object_->unadvises; }
int StandInBrowser::Connected() const { return object_->Connected(); }
int StandInBrowser::LocationQueries() const { return object_->locationQueries; }
long StandInBrowser::References() const { return object_->References(); }

HRESULT StandInBrowser::InvokeRaw(DISPID member, DISPPARAMS* params) {
  // Held for the call: the sink may unadvise itself while it runs.
  const zv::com::ComPtr<IDispatch> sink = object_->FirstSink();
  if (!sink) return E_FAIL;
  return sink->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, nullptr, nullptr, nullptr);
}

HRESULT StandInBrowser::Quit() {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  return InvokeRaw(DISPID_QUIT, &none);
}

HRESULT StandInBrowser::OnQuit() {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  return InvokeRaw(DISPID_ONQUIT, &none);
}

NavigationResult StandInBrowser::BeforeNavigate2(const Navigation& n) {
  NavigationResult result;
  if (!object_->FirstSink()) return result;
  result.fired = true;

  // The values the by-reference arguments point to.
  VARIANT url, flags, frame, post, headers;
  for (VARIANT* v : {&url, &flags, &frame, &post, &headers}) VariantInit(v);
  V_VT(&url) = VT_BSTR;
  V_BSTR(&url) = SysAllocString(n.url.c_str());
  V_VT(&flags) = VT_I4;
  V_I4(&flags) = 0;
  V_VT(&frame) = VT_BSTR;
  V_BSTR(&frame) = SysAllocString(L"");
  V_VT(&headers) = VT_BSTR;
  V_BSTR(&headers) = SysAllocString(L"");
  if (n.postData) {
    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(n.postData->size()));
    void* data = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(bytes, &data))) {
      memcpy(data, n.postData->data(), n.postData->size());
      SafeArrayUnaccessData(bytes);
    }
    V_VT(&post) = VT_ARRAY | VT_UI1;
    V_ARRAY(&post) = bytes;
  }
  VARIANT_BOOL cancel = n.cancel;

  VARIANT args[7];
  for (VARIANT& v : args) VariantInit(&v);
  auto byRef = [](VARIANT& arg, VARIANT* target) {
    V_VT(&arg) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&arg) = target;
  };
  V_VT(&args[6]) = VT_DISPATCH;
  V_DISPATCH(&args[6]) = static_cast<IWebBrowser2*>(object_);
  if (n.urlByRef) {
    byRef(args[5], &url);
  } else {
    V_VT(&args[5]) = VT_BSTR;
    V_BSTR(&args[5]) = V_BSTR(&url);
  }
  byRef(args[4], &flags);
  byRef(args[3], &frame);
  byRef(args[2], &post);
  byRef(args[1], &headers);
  if (n.cancelByRef) {
    V_VT(&args[0]) = VT_BYREF | VT_BOOL;
    V_BOOLREF(&args[0]) = &cancel;
  } else {
    V_VT(&args[0]) = VT_BOOL;
    V_BOOL(&args[0]) = cancel;
  }

  DISPPARAMS params{args, nullptr, n.argCount, 0};
  result.hr = InvokeRaw(DISPID_BEFORENAVIGATE2, &params);
  result.cancel = n.cancelByRef ? cancel : V_BOOL(&args[0]);
  for (VARIANT* v : {&url, &flags, &frame, &post, &headers}) VariantClear(v);
  return result;
}

// Born with its one reference.
zv::com::ComPtr<IUnknown> NewPlainSite() { return zv::com::ComPtr<IUnknown>::Adopt(new PlainSite()); }

}  // namespace zv::test
