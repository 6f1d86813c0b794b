#include "zorvex_classes.h"

#include <cstdint>

#include "handoff/handoff.h"
#include "win/unique_handles.h"

namespace zv::zorvex {
namespace {

using namespace zv::handoff;

constexpr char kCaption[] = "Zorvane";
constexpr char kStartFailedText[] = "Can not start Zorvane";
constexpr char kEnableQuestion[] = "Integration with MS IE context menu is disabled. Do you want to enable it?";
// The download manager's settings key as the modules write to it; the
// registry ignores the case, so it is the key the settings are read from.
constexpr char kWritableSettingsKey[] = "SOFTWARE\\QUENNET\\ZORVANE";

// Writes one setting of the download manager, best effort: the key must
// exist already (the download manager made it), and a failure is ignored.
void WriteManagerText(const char* name, const char* text) {
  win::UniqueHkey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kWritableSettingsKey, 0, KEY_WRITE, key.put()) != ERROR_SUCCESS) return;
  RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                 static_cast<DWORD>(lstrlenA(text) + 1));
}

// Called with the hand-off lock still held: the user learns that the
// download manager did not come up, and its stale program path is cleared
// so that it is looked up afresh.
void ReportFailedStart() {
  MessageBoxA(nullptr, kStartFailedText, kCaption, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
  WriteManagerText("ProgramPath", "");
}

short CatchNavigatorUrl(BSTR wideUrl) {
  const ModifierKeys keys = ReadModifierKeys();
  if (keys.shift) return 0;
  // The scheme is taken from the URL itself: the protocol Navigator names
  // is not looked at.
  const std::optional<std::string> url = ToAnsi(wideUrl);
  if (!url) return 0;
  ManagerSettings settings;
  if (!DecideCapture(CaptureModule::kNavigatorCatcher, keys, settings, CaptureRequest{*url, std::nullopt}).caught)
    return 0;

  HandoffSteps steps;
  steps.buildText = [&url] { return BuildCommandText(*url); };
  steps.onStartupTimedOut = ReportFailedStart;
  HandoffOptions options;
  options.settings = &settings;
  const HandoffOutcome outcome = HandOff(kNavigatorHandoff, steps, options);
  if (!outcome.sent()) return 0;
  return static_cast<short>(static_cast<std::uint16_t>(outcome.reply & 0xFFFF));
}

// "IECntxMenuCatch" absent or "TRUE": go on. Otherwise the user decides,
// and a Yes switches the context menu on for good.
bool ContextMenuSwitchOn() {
  if (SwitchOn(ReadManagerValue(setting::kIeContextMenuCatch))) return true;
  if (MessageBoxA(nullptr, kEnableQuestion, kCaption, MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) != IDYES)
    return false;
  WriteManagerText(setting::kIeContextMenuCatch, "TRUE");
  return true;
}

void AddLink(BSTR wideUrl, BSTR wideComment, BSTR wideReferer) {
  // A missing URL or comment means a broken menu page: nothing is sent.
  const std::optional<std::string> url = ToAnsi(wideUrl);
  if (!url) return;
  const std::optional<std::string> comment = win::ToAnsi(wideComment, win::Unholdable::kQuestionMark);
  if (!comment) return;
  std::optional<std::string> referer = std::string();
  if (wideReferer) referer = ToAnsi(wideReferer);
  if (!referer) return;
  if (!ContextMenuSwitchOn()) return;

  // The link text and the page are the page's to choose: BuildCommandText
  // keeps each of the three values on its own line.
  CommandLines lines;
  lines.comment = *comment;
  lines.referer = *referer;
  HandoffSteps steps;
  steps.buildText = [&] { return BuildCommandText(*url, lines); };
  HandOff(kContextMenuHandoff, steps);  // the answer is not examined
}

}  // namespace

const com::TypeLibraryId kLibrary{&LIBID_ZORVEXLib, 1, 0, 0x409};

IUnknown* NNCatcher::FindInterface(REFIID iid) {
  if (IsEqualIID(iid, IID_ICatcher) || IsEqualIID(iid, IID_IDispatch)) return static_cast<ICatcher*>(this);
  return nullptr;
}

STDMETHODIMP NNCatcher::Initialize(BSTR, BSTR pUrl, short* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = 0;
  com::Guarded([&] {
    *pVal = CatchNavigatorUrl(pUrl);
    return S_OK;
  });
  return S_OK;
}

STDMETHODIMP NNCatcher::Open(BSTR) { return S_OK; }

IUnknown* ContextMenuAddUrl::FindInterface(REFIID iid) {
  if (IsEqualIID(iid, IID_IContextMenu)) return static_cast<IContextMenu*>(this);
  if (IsEqualIID(iid, IID_IObjectSafety)) return static_cast<IObjectSafety*>(this);
  if (IsEqualIID(iid, IID_IDispatch)) return static_cast<IContextMenu*>(this);
  return nullptr;
}

STDMETHODIMP ContextMenuAddUrl::AddUrlWithReferer(BSTR pUrl, BSTR pComm, BSTR pReferer) {
  com::Guarded([&] {
    AddLink(pUrl, pComm, pReferer);
    return S_OK;
  });
  return S_OK;
}

// AddUrlWithReferer without a page, called through the interface.
STDMETHODIMP ContextMenuAddUrl::AddUrl(BSTR pUrl, BSTR pComment) {
  return static_cast<IContextMenu*>(this)->AddUrlWithReferer(pUrl, pComment, nullptr);
}

}  // namespace zv::zorvex
