#include "DMMain.h"

#include <shellapi.h>

#include <new>
#include <optional>
#include <vector>

#include "IeConst.h"
#include "win/registry.h"
#include "win/unique_handles.h"
#include "win/wait.h"

namespace zvwatch {
namespace {

constexpr DWORD kInputIdleTimeoutMs = 30000;
constexpr DWORD kPollPauseMs = 100;
// A download manager showing a dialog before it answers is waited for; one
// that stopped pumping messages is given up on at once.
constexpr DWORD kSendTimeoutMs = 120000;

// A WinINet header as text, learning its size first; empty when absent.
AnsiString QueryHttpInfoText(IWinInetHttpInfo* info, DWORD option) {
  DWORD size = 0;
  DWORD flags = 0;
  info->QueryInfo(option, nullptr, &size, &flags, nullptr);  // answers only the size
  if (size == 0) return {};
  // One byte more than asked for, so that a size without the terminator fits too.
  std::vector<char> buffer(size + 1, '\0');
  DWORD length = static_cast<DWORD>(buffer.size());
  flags = 0;
  if (info->QueryInfo(option, buffer.data(), &length, &flags, nullptr) != S_OK) return {};
  return AnsiString(buffer.data());
}

HWND LookUpManagerWindow(const AnsiString& caption) {
  HWND window = FindWindowA(kManagerWindowClass, caption.c_str());
  return window && IsWindow(window) ? window : nullptr;
}

AnsiString DisplayNameOf(IMoniker* moniker, IBindCtx* context) {
  LPOLESTR name = nullptr;
  moniker->GetDisplayName(context, nullptr, &name);
  const AnsiString url = WideToAnsi(name, zv::win::Unholdable::kPercentEncoded);
  if (name) CoTaskMemFree(name);
  return url;
}

// Registers `callback`; when the bind context refuses it over the browser's
// own callback, revokes that one and lets `callback` stand in for it.
HRESULT RegisterCallback(IBindCtx* context, TBindStatusCallBack* callback,
                         TRegisterCallback registerCallback) {
  ComPtr<IBindStatusCallback> previous;
  HRESULT hr = registerCallback(context, callback, previous.put(), 0);
  if (FAILED(hr) && previous && context) {
    hr = context->RevokeObjectParam(const_cast<LPOLESTR>(kBscbHolderKey));
    if (SUCCEEDED(hr)) {
      ComPtr<IBindStatusCallback> previous2;
      hr = registerCallback(context, callback, previous2.put(), 0);
      if (SUCCEEDED(hr)) {
        callback->FPrevCallback = previous;
        callback->FBindCtx = ComPtr<IBindCtx>::Share(context);
      }
    }
  }
  return hr;
}

// Runs the binding so that the callback sees the response; its result and
// the stream it may give are of no interest.
void StartBinding(IMoniker* moniker, IBindCtx* context, const TBindStatusCallBack& callback) {
  ComPtr<IUnknown> object;
  void** out = reinterpret_cast<void**>(object.put());
  if (callback.FPrevCallback)
    moniker->BindToStorage(context, nullptr, IID_IStream, out);
  else
    moniker->BindToObject(context, nullptr, IID_IStream, out);
}

// The post data of a POST: only from global memory that holds all of it.
std::optional<std::string> PostDataOf(DWORD bindVerb, const BINDINFO* bindInfo) {
  if (bindVerb != kBindVerbPost || !bindInfo) return std::nullopt;
  const STGMEDIUM& medium = bindInfo->stgmedData;
  const DWORD size = bindInfo->cbstgmedData;
  if (medium.tymed != TYMED_HGLOBAL) return std::nullopt;
  if (size == 0) return std::string();
  if (!medium.hGlobal || GlobalSize(medium.hGlobal) < size) return std::nullopt;
  const void* data = GlobalLock(medium.hGlobal);
  if (!data) return std::nullopt;
  std::string bytes(static_cast<const char*>(data), size);
  GlobalUnlock(medium.hGlobal);
  return bytes;
}

}  // namespace

// --- TBindStatusCallBack ---------------------------------------------------------

IUnknown* TBindStatusCallBack::FindInterface(REFIID riid) {
  return IsEqualIID(riid, IID_IBindStatusCallback) ? static_cast<IBindStatusCallback*>(this) : nullptr;
}

HRESULT STDMETHODCALLTYPE TBindStatusCallBack::OnStartBinding(DWORD, IBinding* pib) {
  try {
    FBinding = ComPtr<IBinding>::Share(pib);
    FFileName.clear();
    if (FPrevCallback) FPrevCallback->OnStopBinding(kPreviousBindingStopped, nullptr);
  } catch (...) {
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TBindStatusCallBack::GetPriority(LONG*) { return S_OK; }
HRESULT STDMETHODCALLTYPE TBindStatusCallBack::OnLowResource(DWORD) { return S_OK; }

void TBindStatusCallBack::CollectHeaderDetails() {
  if (!FBinding) return;
  ComPtr<IWinInetHttpInfo> info;
  if (FAILED(FBinding.As(IID_WinInetHttpInfo, info)) || !info) return;
  const AnsiString disposition = QueryHttpInfoText(info.get(), kQueryContentDisposition);
  if (!disposition.empty()) FFileName = FileNameFromContentDisposition(disposition);
  FReferer = QueryHttpInfoText(info.get(), kQueryReferer | kQueryFlagRequestHeaders);
  FMIMEType = QueryHttpInfoText(info.get(), kQueryContentType);
  FSize = ContentLengthValue(QueryHttpInfoText(info.get(), kQueryContentLength));
  FFileDateTime = QueryHttpInfoText(info.get(), kQueryDate);
  FCookie = QueryHttpInfoText(info.get(), kQueryCookie | kQueryFlagRequestHeaders);
}

HRESULT STDMETHODCALLTYPE TBindStatusCallBack::OnProgress(ULONG ulProgress, ULONG ulProgressMax,
                                                          ULONG ulStatusCode, LPCWSTR szStatusText) {
  try {
    switch (ulStatusCode) {
      case kStatusBeginDownloadData:
        CollectHeaderDetails();
        break;
      case kStatusCacheFileNameAvailable:
        FFileName = FileNameWithCacheFile(FFileName, WideToAnsi(szStatusText));
        break;
      case kStatusContentDispositionAttach:
        return S_OK;  // the browser's callback must not offer its own save dialog
      default:
        break;
    }
    if (FPrevCallback) FPrevCallback->OnProgress(ulProgress, ulProgressMax, ulStatusCode, szStatusText);
  } catch (...) {
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TBindStatusCallBack::OnStopBinding(HRESULT, LPCWSTR) {
  if (FPrevCallback && FBindCtx)
    FBindCtx->RegisterObjectParam(const_cast<LPOLESTR>(kBscbHolderKey), FPrevCallback.get());
  FPrevCallback.reset();
  FBindCtx.reset();
  FBinding.reset();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TBindStatusCallBack::GetBindInfo(DWORD*, BINDINFO*) { return S_OK; }

HRESULT STDMETHODCALLTYPE TBindStatusCallBack::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TBindStatusCallBack::OnObjectAvailable(REFIID, IUnknown*) { return S_OK; }

TFileDetails TBindStatusCallBack::Details() const {
  TFileDetails details;
  details.FileName = FFileName;
  details.Referer = FReferer;
  details.MIMEType = FMIMEType;
  details.Size = FSize;
  details.FileDateTime = FFileDateTime;
  details.Cookie = FCookie;
  return details;
}

// --- Decision and delivery -------------------------------------------------------------

bool IsKeyComboHeld(const char* settingName) {
  KeyboardState state{};
  GetKeyboardState(state.data());
  const std::string codes = ComboCodesOrDefault(settingName, Base64Decode(ReadIniSetting(settingName)));
  return IsComboHeldInState(state, codes);
}

HWND FindManagerWindowOrStart() {
  const AnsiString caption = ReadIniSetting("ZVCaption");
  if (caption.empty()) return nullptr;
  if (HWND window = LookUpManagerWindow(caption)) return window;

  const AnsiString program = ReadRegString(HKEY_LOCAL_MACHINE, kPortableAppPathsKey, "");
  if (program.empty() || !FileFound(program)) return nullptr;
  SHELLEXECUTEINFOA start{};
  start.cbSize = sizeof(start);
  start.fMask = SEE_MASK_NOCLOSEPROCESS;
  HWND active = GetActiveWindow();
  start.hwnd = active && IsWindow(active) && IsWindowVisible(active) ? active : nullptr;
  start.lpFile = program.c_str();
  start.nShow = SW_SHOW;
  if (!ShellExecuteExA(&start)) return nullptr;
  const zv::win::UniqueHandle process(start.hProcess);
  if (!process || WaitForInputIdle(process.get(), kInputIdleTimeoutMs) != 0) return nullptr;

  HWND window = LookUpManagerWindow(caption);
  for (int lookUp = 0; !window && lookUp < kManagerPollLookups; ++lookUp) {
    zv::win::PauseAnsweringSentMessages(kPollPauseMs);
    window = LookUpManagerWindow(caption);
  }
  return window;
}

HRESULT Download(IMoniker* pmk, IBindCtx* pbc, DWORD dwBindVerb, const BINDINFO* pBindInfo,
                 TRegisterCallback registerCallback) {
  if (!pmk) return E_NOTIMPL;
  ComPtr<IMoniker> moniker = ComPtr<IMoniker>::Share(pmk);
  ComPtr<IBindCtx> context = ComPtr<IBindCtx>::Share(pbc);

  if (IsKeyComboHeld(kKeysToIgnore)) return E_NOTIMPL;
  if (ReadIniSetting("IntegrationTemporaryOff") == "FALSE" && !IsKeyComboHeld(kKeysToAdd))
    return E_NOTIMPL;

  const AnsiString url = DisplayNameOf(moniker.get(), context.get());
  const ComPtr<TBindStatusCallBack> callback = ComPtr<TBindStatusCallBack>::Share(new TBindStatusCallBack);
  if (SUCCEEDED(RegisterCallback(context.get(), callback.get(), registerCallback)))
    StartBinding(moniker.get(), context.get(), *callback.get());
  context.reset();
  moniker.reset();

  const AnsiString body = BuildCommandBody(callback->Details());
  HWND window = FindManagerWindowOrStart();
  if (!window) return E_NOTIMPL;

  AnsiString text = BuildCommandText(url, body, PostDataOf(dwBindVerb, pBindInfo));
  COPYDATASTRUCT data{};
  data.dwData = 0;
  data.cbData = static_cast<DWORD>(text.size());
  data.lpData = text.data();
  // Unanswered, the download was not taken: the browser saves it itself.
  DWORD_PTR reply = 0;
  if (!SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                           kSendTimeoutMs, &reply))
    return E_NOTIMPL;
  return S_OK;
}

// --- TIEDownloadManager ----------------------------------------------------------------

IUnknown* TIEDownloadManager::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IDownloadManager)) return static_cast<IDownloadManager*>(this);
  if (IsEqualIID(riid, IID_ISupportErrorInfo)) return static_cast<ISupportErrorInfo*>(this);
  return nullptr;
}

HRESULT STDMETHODCALLTYPE TIEDownloadManager::Download(IMoniker* pmk, IBindCtx* pbc, DWORD dwBindVerb,
                                                        LONG, BINDINFO* pBindInfo, LPCOLESTR,
                                                        LPCOLESTR, UINT) {
  try {
    return zvwatch::Download(pmk, pbc, dwBindVerb, pBindInfo);
  } catch (...) {
    return zv::com::ReportError(E_NOTIMPL, L"The download could not be handed to the download manager.",
                       IID_IDownloadManager);
  }
}

// --- Registration and module lifetime --------------------------------------------------

TIEDownloadManagerFactory::TIEDownloadManagerFactory(TComServer& server)
    : TComObjectFactory(server, {&CLSID_TIEDownloadManager, &zv::com::CreateObject<TIEDownloadManager>, true},
                        kClassName, kClassDescription, kThreadingModel) {}

bool TIEDownloadManagerFactory::UpdateRegistry(bool registering) {
  if (!TComObjectFactory::UpdateRegistry(registering)) return false;
  // Both Internet Explorers of 64-bit Windows read the value, each in its
  // own registry view.
  for (const REGSAM view : zv::win::MachineViews()) {
    if (registering) {
      zv::win::WriteRegText(HKEY_LOCAL_MACHINE, kInternetExplorerKey, kDownloadUIValue, kClassIdText, view);
    } else if (SameTextIgnoringCase(
                   zv::win::ReadRegText(HKEY_LOCAL_MACHINE, kInternetExplorerKey, kDownloadUIValue, view)
                       .value_or(AnsiString()),
                   kClassIdText)) {
      // Another program's download manager stays in place.
      zv::win::DeleteRegValue(HKEY_LOCAL_MACHINE, kInternetExplorerKey, kDownloadUIValue, view);
    }
  }
  return true;
}

// The settings file's place is computed on its first use, once for the
// process, so that every call reads the same file.
bool InitializeModule(HINSTANCE instance) {
  try {
    ComServer = new TComServer(instance);
    ComServer->AddFactory(new TIEDownloadManagerFactory(*ComServer));
    SetSettingsModule(instance);
    return true;
  } catch (...) {
    return false;
  }
}

void FinalizeModule() {
  delete ComServer;
  ComServer = nullptr;
  SettingsFileName.clear();
  SettingsFileName.shrink_to_fit();
}

}  // namespace zvwatch
