#include "DMMain.h"

#include <shellapi.h>

#include <new>
#include <optional>
#include <vector>

#include "IeConst.h"
#include "win/unique_handles.h"
#include "win/wait.h"

namespace zv::watch {
namespace {

using zv::com::ComPtr;

constexpr DWORD kInputIdleTimeoutMs = 30000;
constexpr DWORD kPollPauseMs = 100;
// A download manager showing a dialog before it answers is waited for; one
// that stopped pumping messages is given up on at once.
constexpr DWORD kSendTimeoutMs = 120000;

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
HRESULT RegisterCallback(IBindCtx* context, TBindStatusCallBack* callback, TRegisterCallback registerCallback) {
  ComPtr<IBindStatusCallback> previous;
  HRESULT hr = registerCallback(context, callback, previous.put(), 0);
  if (FAILED(hr) && previous && context) {
    hr = context->RevokeObjectParam(const_cast<LPOLESTR>(kBscbHolderKey));
    if (SUCCEEDED(hr)) {
      ComPtr<IBindStatusCallback> previous2;
      hr = registerCallback(context, callback, previous2.put(), 0);
      if (SUCCEEDED(hr)) callback->StandInFor(previous, ComPtr<IBindCtx>::Share(context));
    }
  }
  return hr;
}

// Runs the binding until the callback knows the details the text needs;
// its result and the stream it may give are of no interest.
void StartBinding(IMoniker* moniker, IBindCtx* context, TBindStatusCallBack& callback) {
  ComPtr<IUnknown> object;
  void** out = reinterpret_cast<void**>(object.put());
  callback.EndBindingEarly();
  if (callback.StandsIn())
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
  if (ReadIniSetting("IntegrationTemporaryOff") == "FALSE" && !IsKeyComboHeld(kKeysToAdd)) return E_NOTIMPL;

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
  if (!SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &reply))
    return E_NOTIMPL;
  return S_OK;
}

}  // namespace zv::watch
