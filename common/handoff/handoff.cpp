#include "handoff.h"

#include <sddl.h>
#include <shellapi.h>

#include "../win/process.h"
#include "../win/registry.h"
#include "../win/wait.h"

namespace zv::handoff {
namespace {

bool KeyDown(const BYTE* state, int key) { return (state[key] & 0x80) != 0; }

void Notify(const std::function<void()>& note) {
  if (note) note();
}

// What a wait and a release need; all access would be refused to a
// low-integrity process when a medium one created the mutex.
constexpr DWORD kLockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;
// Low label, no write-up: processes of every level may open it.
constexpr char kLockLabel[] = "S:(ML;;NW;;;LW)";

// CreateMutexExA is looked up: systems before integrity levels lack it.
HANDLE CreateLockMutex() {
  using CreateMutexExFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPCSTR, DWORD, DWORD);
  const auto createMutexEx = reinterpret_cast<CreateMutexExFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateMutexExA")));
  if (!createMutexEx) return CreateMutexA(nullptr, FALSE, kLockName);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kLockLabel, SDDL_REVISION_1, &descriptor, nullptr))
    descriptor = nullptr;
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  HANDLE mutex = createMutexEx(descriptor ? &attributes : nullptr, kLockName, 0, kLockAccess);
  if (descriptor) LocalFree(descriptor);
  return mutex;
}

}  // namespace

std::optional<std::string> ToAnsi(const wchar_t* text) { return win::ToAnsi(text, win::Unholdable::kPercentEncoded); }

std::optional<std::string> ReadManagerValue(const char* name) {
  return ReadRegText(HKEY_CURRENT_USER, kSettingsKey, name);
}

std::optional<std::string> ManagerSettings::Read(const char* name) {
  if (!opened_) {
    opened_ = true;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, key_.put()) != ERROR_SUCCESS) key_.reset();
  }
  if (!key_) return std::nullopt;
  return win::QueryValueText(key_.get(), name);
}

ModifierKeys ReadModifierKeys() {
  BYTE state[256] = {};
  if (!GetKeyboardState(state)) return {};
  return ModifierKeys{KeyDown(state, VK_SHIFT), KeyDown(state, VK_CONTROL), KeyDown(state, VK_MENU)};
}

HWND FindManagerWindow(const char* caption, IntegrityQuery integrityOf) {
  HWND window = FindWindowA(kManagerClass, caption);
  // Only a second window of the class and caption costs a further lookup.
  while (window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (!win::RunsBelow(integrityOf(processId), win::OwnIntegrityLevel())) return window;
    window = FindWindowExA(nullptr, window, kManagerClass, caption);
  }
  return nullptr;
}

void ApplyAutoAddRule(HWND window, SettingsSource& settings) {
  if (IsTrue(settings.Read(setting::kAutoAdd))) {
    const auto mode = settings.Read(setting::kAutoAddMode);
    if (mode && (*mode == "0" || *mode == "1" || *mode == "3")) return;
  }
  SetForegroundWindow(window);
}

bool SendWithinBound(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD timeoutMs, LRESULT& reply) {
  DWORD_PTR result = 0;
  const bool answered = SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, timeoutMs, &result) != 0;
  reply = answered ? static_cast<LRESULT>(result) : 0;
  return answered;
}

void SendForegroundQuery(HWND window, DWORD timeoutMs) {
  LRESULT reply = 0;
  if (SendWithinBound(window, kForegroundQuery, 0, 0, timeoutMs, reply) && reply == 1) SetForegroundWindow(window);
}

HWND StartManagerAndWait(const std::string& programPath, const char* caption, StartMethod method,
                         IntegrityQuery integrityOf) {
  if (method == StartMethod::kWinExec)
    WinExec(win::QuotedProgramPath(programPath).c_str(), SW_SHOW);
  else
    ShellExecuteA(GetActiveWindow(), "open", programPath.c_str(), nullptr, nullptr, SW_SHOW);
  for (int poll = 0; poll < kStartupPolls; ++poll) {
    win::PauseAnsweringSentMessages(kStartupPollMs);
    if (HWND window = FindManagerWindow(caption, integrityOf)) return window;
  }
  return nullptr;
}

LRESULT SendCommandText(HWND window, const std::string& text, DWORD timeoutMs, bool* refused) {
  COPYDATASTRUCT data{};
  data.dwData = 0;
  data.cbData = static_cast<DWORD>(text.size());
  data.lpData = const_cast<char*>(text.c_str());
  LRESULT reply = 0;
  SetLastError(ERROR_SUCCESS);
  const bool answered = SendWithinBound(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), timeoutMs, reply);
  if (refused) *refused = !answered && GetLastError() == ERROR_ACCESS_DENIED;
  return reply;
}

HandoffLock HandoffLock::Acquire(DWORD waitMs) {
  HandoffLock lock;
  lock.mutex_.reset(CreateLockMutex());
  if (!lock.mutex_) lock.mutex_.reset(OpenMutexA(kLockAccess, FALSE, kLockName));
  if (!lock.mutex_) return lock;
  const DWORD wait = win::WaitAnsweringSentMessages(lock.mutex_.get(), waitMs);
  lock.held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  return lock;
}

void HandoffLock::Release() {
  if (held_) ReleaseMutex(mutex_.get());
  held_ = false;
  mutex_.reset();
}

HandoffOutcome HandOff(const HandoffVariant& variant, const HandoffSteps& steps, const HandoffOptions& options) {
  ManagerSettings ownSettings;
  SettingsSource& settings = options.settings ? *options.settings : ownSettings;

  std::string text;
  // The caption is read once per hand-off, at its first lookup.
  std::optional<std::string> caption;
  bool captionRead = false;
  auto lookUp = [&]() -> HWND {
    if (!captionRead) {
      caption = settings.Read(setting::kCaption);
      captionRead = true;
    }
    return FindManagerWindow(caption ? caption->c_str() : nullptr, options.integrityOf);
  };
  // A send the system refused is an outcome of its own: the download
  // manager never saw the text.
  auto send = [&](HWND window, bool afterStartup) -> HandoffOutcome {
    bool refused = false;
    const LRESULT reply = SendCommandText(window, text, options.sendTimeoutMs, &refused);
    if (refused) {
      Notify(steps.onRefused);
      return {HandoffStatus::kRefused};
    }
    return {HandoffStatus::kSent, reply, afterStartup};
  };

  using Query = HandoffVariant::Query;
  if (variant.foregroundQuery == Query::kBeforeLock)
    if (HWND window = lookUp()) SendForegroundQuery(window, options.sendTimeoutMs);
  if (steps.proceedAfterQuery && !steps.proceedAfterQuery()) return {HandoffStatus::kStopped};

  std::optional<HandoffLock> lock;
  if (variant.takesLock) {
    lock.emplace(HandoffLock::Acquire(options.lockWaitMs));
    if (!lock->held()) return {HandoffStatus::kLockNotObtained};
  }
  if (variant.foregroundQuery == Query::kAfterLock)
    if (HWND window = lookUp()) SendForegroundQuery(window, options.sendTimeoutMs);

  text = steps.buildText();
  if (HWND window = lookUp()) {
    Notify(steps.onFoundAtOnce);
    ApplyAutoAddRule(window, settings);
    return send(window, false);
  }
  Notify(steps.onNotFound);

  const auto programPath = ReadRegText(HKEY_LOCAL_MACHINE, kAppPathsKey, "");
  if (!programPath) return {HandoffStatus::kNoProgram};
  HWND window =
      StartManagerAndWait(*programPath, caption ? caption->c_str() : nullptr, variant.start, options.integrityOf);
  if (!window) {
    Notify(steps.onStartupTimedOut);
    return {HandoffStatus::kStartupTimedOut};
  }
  Notify(steps.onFoundAfterStartup);
  if (variant.frontAfterStart == HandoffVariant::FrontAfterStart::kAlways ||
      !FindWindowA(kPropertiesClass, kPropertiesCaption))
    SetForegroundWindow(window);
  return send(window, true);
}

}  // namespace zv::handoff
