#include "bridge_handoff.h"

#include <algorithm>
#include <optional>

#include "handoff/handoff.h"
#include "win/text.h"

namespace zv::bridge {
namespace {

using namespace zv::handoff;

class Budget {
 public:
  explicit Budget(DWORD ms) { Renew(ms); }
  void Renew(DWORD ms) { end_ = GetTickCount64() + ms; }
  // What is left for a step that must leave room for the reply.
  DWORD Left() const {
    const ULONGLONG now = GetTickCount64() + kReplyReserveMs;
    return now >= end_ ? 0 : static_cast<DWORD>(end_ - now);
  }

 private:
  ULONGLONG end_ = 0;
};

// App Paths values are sometimes stored quoted.
std::wstring Unquoted(std::wstring path) {
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') return path.substr(1, path.size() - 2);
  return path;
}

// The budget bounds the wait, so a download manager is not given up on for
// looking hung: Wine counts a window that waited idle for 5 s as hung.
BridgeOutcome Send(HWND window, const std::string& text, const Budget& budget) {
  const DWORD left = budget.Left();
  if (left == 0) return {BridgeStatus::kExpired};
  COPYDATASTRUCT data{0, static_cast<DWORD>(text.size()), const_cast<char*>(text.c_str())};
  DWORD_PTR reply = 0;
  SetLastError(ERROR_SUCCESS);
  if (!SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, left, &reply)) {
    // A download manager of higher integrity that did not allow the message
    // from ours never saw the text.
    if (GetLastError() == ERROR_ACCESS_DENIED) return {BridgeStatus::kRefused};
    reply = 0;
  }
  return {BridgeStatus::kSent, static_cast<LRESULT>(reply)};
}

}  // namespace

bool StartManagerDetached(const std::string& programPath) {
  const std::wstring program = Unquoted(zv::win::WideFromAnsi(programPath));
  if (program.empty()) return false;
  std::wstring commandLine = L"\"" + program + L"\"";
  const std::wstring folder = program.substr(0, program.find_last_of(L"\\/") + 1);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  // Standard handles of its own (none): without them Wine hands a console
  // child the host's, the browser's pipes, which would then stay open
  // for as long as the download manager runs.
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_SHOW;
  for (const DWORD flags : {static_cast<DWORD>(CREATE_BREAKAWAY_FROM_JOB), static_cast<DWORD>(0)}) {
    PROCESS_INFORMATION process{};
    if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                       folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
      return true;
    }
    // Only a job that forbids breaking away earns the second try.
    if (GetLastError() != ERROR_ACCESS_DENIED) return false;
  }
  return false;
}

BridgeOutcome HandOffWithin(DWORD budgetMs, const std::string& text, SettingsSource& settings,
                            const std::function<void()>& notePending) {
  Budget budget(budgetMs);
  bool pending = false;
  auto goPending = [&] {
    if (pending) return;
    pending = true;
    notePending();
    budget.Renew(kPendingBudgetMs);
  };
  const auto caption = settings.Read(setting::kCaption);
  const char* captionText = caption ? caption->c_str() : nullptr;
  if (!FindManagerWindow(captionText)) goPending();

  // The lock leaves half of the rest for the send.
  const HandoffLock lock = HandoffLock::Acquire(budget.Left() / 2);
  if (!lock.held()) return {budget.Left() == 0 ? BridgeStatus::kExpired : BridgeStatus::kLockNotObtained};
  if (HWND window = FindManagerWindow(captionText)) {
    ApplyAutoAddRule(window, settings);
    return Send(window, text, budget);
  }
  const auto program = ReadRegText(HKEY_LOCAL_MACHINE, kAppPathsKey, "");
  if (!program) return {BridgeStatus::kNoProgram};
  goPending();  // the window may have closed since the first lookup
  if (!StartManagerDetached(*program)) return {BridgeStatus::kNotStarted};
  HWND window = nullptr;
  while (!(window = FindManagerWindow(captionText))) {
    if (budget.Left() <= kStartupPollMs) return {BridgeStatus::kStartupTimedOut};
    Sleep(kStartupPollMs);
  }
  if (!FindWindowA(kPropertiesClass, kPropertiesCaption)) SetForegroundWindow(window);
  return Send(window, text, budget);
}

}  // namespace zv::bridge
