#include "ie_catcher.h"

#include <exdispid.h>

#include "handoff/handoff.h"

namespace zv::helper {

const com::TypeLibraryId kLibrary{&LIBID_ZVHELPERLib, 1, 0, 0x409};

namespace {

using namespace zv::handoff;

constexpr char kSinkFailureText[] = "Failure sinking events from IWebBrowser2";
constexpr char kCaption[] = "ZVHelper";
// The quit notifications: of the browser's older event set, and the one
// Internet Explorer actually sends DWebBrowserEvents2 sinks.
constexpr DISPID kQuitEvent = DISPID_QUIT;
constexpr DISPID kOnQuitEvent = DISPID_ONQUIT;
constexpr UINT kBeforeNavigate2Args = 6;  // at least up to the URL, counted from the last
constexpr UINT kUrlArg = 5;
constexpr UINT kPostDataArg = 2;
constexpr UINT kCancelArg = 0;

// The variant a by-reference variant argument points to, as a BSTR.
std::optional<com::UniqueBstr> ReferencedText(const VARIANT& argument) {
  if (V_VT(&argument) != (VT_BYREF | VT_VARIANT) || !V_VARIANTREF(&argument)) return std::nullopt;
  com::UniqueVariant copy;
  if (FAILED(VariantCopy(copy.get(), V_VARIANTREF(&argument)))) return std::nullopt;
  if (FAILED(VariantChangeType(copy.get(), copy.get(), 0, VT_BSTR))) return std::nullopt;
  com::UniqueBstr text;
  *text.put() = V_BSTR(copy.get());
  V_VT(copy.get()) = VT_EMPTY;  // the BSTR now belongs to `text`
  return text;
}

// The browser passes the body as bytes, which the conversion to BSTR keeps
// as they are; the text ends at the first NUL.
std::optional<std::string> PostDataText(const VARIANT& argument) {
  const auto body = ReferencedText(argument);
  if (!body) return std::nullopt;
  const char* bytes = reinterpret_cast<const char*>(body->get());
  const size_t size = body->ByteLength();
  size_t length = 0;
  while (length < size && bytes[length] != '\0') ++length;
  return std::string(bytes, length);
}

}  // namespace

IECatcher::IECatcher(IUnknown* outer) : Object(outer) {}

IUnknown* IECatcher::FindInterface(REFIID iid) {
  if (IsEqualIID(iid, IID_IIECatcher) || IsEqualIID(iid, IID_IDispatch)) return static_cast<IIECatcher*>(this);
  if (IsEqualIID(iid, IID_ISupportErrorInfo)) return static_cast<ISupportErrorInfo*>(this);
  if (IsEqualIID(iid, IID_IObjectWithSite)) return static_cast<IObjectWithSite*>(this);
  return nullptr;
}

STDMETHODIMP IECatcher::Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
  if (!params) return E_INVALIDARG;
  // Whatever happens inside, the browser goes on with its event.
  com::Guarded([&] {
    if (member == kQuitEvent || member == kOnQuitEvent)
      DisconnectEvents();
    else if (member == DISPID_BEFORENAVIGATE2)
      OnBeforeNavigate2(*params);
    return S_OK;
  });
  return S_OK;
}

STDMETHODIMP IECatcher::SetSite(IUnknown* site) {
  // Whatever the new site, the old browser is let go of: the connection
  // holds us and we hold the browser, so neither would ever be freed.
  com::Guarded([&] {
    DisconnectEvents();
    if (!site) return S_OK;
    com::ComPtr<IWebBrowser2> browser;
    site->QueryInterface(IID_IWebBrowser2, browser.put_void());
    browser_ = browser;
    if (browser_) ConnectEvents();
    return S_OK;
  });
  return S_OK;
}

STDMETHODIMP IECatcher::GetSite(REFIID, void** site) {
  if (site) *site = nullptr;
  return E_FAIL;
}

void IECatcher::ConnectEvents() {
  com::ComPtr<IConnectionPointContainer> container;
  if (FAILED(browser_.As(IID_IConnectionPointContainer, container)) || !container) return;
  com::ComPtr<IConnectionPoint> point;
  HRESULT hr = container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.put());
  if (SUCCEEDED(hr) && point)
    hr = point->Advise(static_cast<IIECatcher*>(this), &cookie_);
  else
    hr = E_FAIL;
  // No owner: the box must still come up in front of the browser.
  if (FAILED(hr)) MessageBoxA(nullptr, kSinkFailureText, kCaption, MB_OK | MB_SETFOREGROUND);
}

void IECatcher::DisconnectEvents() {
  // The browser is released even when the connection cannot be undone.
  const com::ComPtr<IWebBrowser2> browser = browser_;
  browser_.reset();
  if (!browser || !cookie_) return;
  com::ComPtr<IConnectionPointContainer> container;
  if (FAILED(browser.As(IID_IConnectionPointContainer, container)) || !container) return;
  com::ComPtr<IConnectionPoint> point;
  if (FAILED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.put())) || !point) return;
  point->Unadvise(cookie_);
  cookie_ = 0;
}

std::optional<std::string> IECatcher::BrowserLocation() const {
  if (!browser_) return std::nullopt;
  com::UniqueBstr location;
  if (FAILED(browser_->get_LocationURL(location.put()))) return std::nullopt;
  return ToAnsi(location.get()).value_or(std::string());
}

void IECatcher::OnBeforeNavigate2(DISPPARAMS& params) {
  if (params.cArgs < kBeforeNavigate2Args || !params.rgvarg) return;
  if (V_VT(&params.rgvarg[kUrlArg]) != (VT_BYREF | VT_VARIANT)) return;

  const ModifierKeys keys = ReadModifierKeys();
  if (keys.shift) return;
  const auto wideUrl = ReferencedText(params.rgvarg[kUrlArg]);
  if (!wideUrl || wideUrl->Length() < 1) return;
  const auto url = ToAnsi(wideUrl->get());
  if (!url) return;
  const std::optional<std::string> postData = PostDataText(params.rgvarg[kPostDataArg]);

  ManagerSettings settings;
  CaptureRequest request{*url, std::nullopt};
  if (postData) request.postData = *postData;
  if (!DecideCapture(CaptureModule::kHelperObject, keys, settings, request).caught) return;

  VARIANT& cancel = params.rgvarg[kCancelArg];
  HandoffSteps steps;
  // Without a by-reference Cancel flag the navigation cannot be taken over.
  steps.proceedAfterQuery = [&] { return V_VT(&cancel) == (VT_BYREF | VT_BOOL) && V_BOOLREF(&cancel); };
  steps.buildText = [&] {
    CommandLines lines;
    lines.referer = BrowserLocation();
    lines.postData = postData;
    return BuildCommandText(*url, lines);
  };
  HandoffOptions options;
  options.settings = &settings;
  const HandoffOutcome outcome = HandOff(kHelperObjectHandoff, steps, options);
  if (outcome.sent()) *V_BOOLREF(&cancel) = outcome.reply ? VARIANT_TRUE : VARIANT_FALSE;
}

}  // namespace zv::helper
