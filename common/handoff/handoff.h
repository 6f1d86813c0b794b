// Delivery of a command text to the download manager's main window: the
// hand-off lock, the window lookup, the foreground rules, the start-up of a
// download manager that is not running, and the WM_COPYDATA message.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "capture_filter.h"
#include "command_text.h"
#include "../win/integrity.h"
#include "../win/registry.h"
#include "../win/text.h"
#include "../win/unique_handles.h"

namespace zv::handoff {

inline constexpr char kSettingsKey[] = "Software\\Quennet\\Zorvane";
inline constexpr char kAppPathsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\zorvex.exe";
inline constexpr char kManagerClass[] = "TMainForm";
inline constexpr char kPropertiesClass[] = "TdlgProp";
inline constexpr char kPropertiesCaption[] = "Project Properties";
inline constexpr char kLockName[] = "ZVAddURLMutex";
inline constexpr DWORD kLockWaitMs = 60000;
// How long a message to the download manager may take. A download manager
// that shows a dialog before it answers still pumps messages and is waited
// for; one that stopped pumping is given up on at once.
inline constexpr DWORD kSendTimeoutMs = 120000;
inline constexpr UINT kForegroundQuery = 0x80D4;  // WM_APP + 0xD4
inline constexpr int kStartupPolls = 50;
inline constexpr DWORD kStartupPollMs = 100;

// A URL from the browser (a BSTR or a wide string) in the ANSI code page; a
// character the code page cannot hold is sent percent-encoded as UTF-8, as
// the browser itself would send it. Absent for a null string.
std::optional<std::string> ToAnsi(const wchar_t* text);

// Reads one value as text (up to its first NUL); absent when the key cannot
// be opened or the value cannot be read. The value type is ignored.
using win::ReadRegText;

// ReadRegText on the download manager's settings key under HKCU.
std::optional<std::string> ReadManagerValue(const char* name);

// The settings of one decision or one hand-off, read through one open of
// the settings key. Each Read goes to the registry: nothing is cached, so a
// new object per decision sees the download manager's latest values.
class ManagerSettings final : public SettingsSource {
 public:
  ManagerSettings() = default;
  std::optional<std::string> Read(const char* name) override;

 private:
  bool opened_ = false;
  win::UniqueHkey key_;
};

// The state of Shift, Ctrl and Alt as of the calling thread's current
// message (one keyboard-state read).
ModifierKeys ReadModifierKeys();

// The integrity level of a window's process, asked before a text goes to it.
using IntegrityQuery = std::optional<DWORD> (*)(DWORD processId);

// The download manager's main window; a null caption matches any caption.
// A window of that class and caption whose process runs at a lower
// integrity level than ours is not the download manager (a sandboxed
// process can make one to read every download): it is passed over.
HWND FindManagerWindow(const char* caption, IntegrityQuery integrityOf = &win::ProcessIntegrityLevel);

// Foreground rule for a download manager that was already running.
void ApplyAutoAddRule(HWND window, SettingsSource& settings);

// SendMessageA bounded by `timeoutMs` and given up on at once when the
// receiver is hung; false (and reply 0) when it did not answer.
bool SendWithinBound(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD timeoutMs, LRESULT& reply);

// Sends the foreground query; a reply of exactly 1 brings the window to the
// front. A receiver that does not answer counts as any other reply.
void SendForegroundQuery(HWND window, DWORD timeoutMs = kSendTimeoutMs);

enum class StartMethod { kShellExecute, kWinExec };

// Starts the download manager from `programPath` and polls for its window,
// answering messages sent to this thread meanwhile.
HWND StartManagerAndWait(const std::string& programPath, const char* caption, StartMethod method,
                         IntegrityQuery integrityOf = &win::ProcessIntegrityLevel);

// WM_COPYDATA with dwData 0 and cbData the text length (no NUL counted).
// A receiver that does not answer has not taken the text: 0. `refused` is
// set when the system refused the message (a download manager of higher
// integrity that does not allow it from ours).
LRESULT SendCommandText(HWND window, const std::string& text, DWORD timeoutMs = kSendTimeoutMs,
                        bool* refused = nullptr);

// The named mutex that serialises hand-offs across browser processes. It
// carries a low mandatory label and is opened for waiting and releasing
// only, so that a low-integrity browser tab can use the one a
// medium-integrity process created.
class HandoffLock {
 public:
  // Waits at most `waitMs`, answering messages sent to this thread. A mutex
  // abandoned by a crashed browser is ours by then and guards no data, so it
  // counts as acquired.
  static HandoffLock Acquire(DWORD waitMs = kLockWaitMs);
  HandoffLock(HandoffLock&& other) noexcept
      : mutex_(std::move(other.mutex_)), held_(std::exchange(other.held_, false)) {}
  HandoffLock& operator=(HandoffLock&& other) noexcept {
    if (this != &other) {
      Release();
      mutex_ = std::move(other.mutex_);
      held_ = std::exchange(other.held_, false);
    }
    return *this;
  }
  HandoffLock(const HandoffLock&) = delete;
  HandoffLock& operator=(const HandoffLock&) = delete;
  ~HandoffLock() { Release(); }

  bool held() const { return held_; }
  void Release();

 private:
  HandoffLock() = default;
  win::UniqueHandle mutex_;
  bool held_ = false;
};

// How one module performs its hand-off.
struct HandoffVariant {
  enum class Query { kNone, kBeforeLock, kAfterLock };
  enum class FrontAfterStart { kUnlessPropertiesDialog, kAlways };
  bool takesLock;
  Query foregroundQuery;
  StartMethod start;
  FrontAfterStart frontAfterStart;
};

inline constexpr HandoffVariant kProtocolHandlerHandoff{true, HandoffVariant::Query::kNone, StartMethod::kShellExecute,
                                                        HandoffVariant::FrontAfterStart::kUnlessPropertiesDialog};
inline constexpr HandoffVariant kHelperObjectHandoff{true, HandoffVariant::Query::kBeforeLock,
                                                     StartMethod::kShellExecute,
                                                     HandoffVariant::FrontAfterStart::kUnlessPropertiesDialog};
inline constexpr HandoffVariant kNavigatorHandoff{true, HandoffVariant::Query::kAfterLock, StartMethod::kShellExecute,
                                                  HandoffVariant::FrontAfterStart::kAlways};
inline constexpr HandoffVariant kContextMenuHandoff{false, HandoffVariant::Query::kNone, StartMethod::kShellExecute,
                                                    HandoffVariant::FrontAfterStart::kUnlessPropertiesDialog};
inline constexpr HandoffVariant kOperaHandoff{true, HandoffVariant::Query::kNone, StartMethod::kWinExec,
                                              HandoffVariant::FrontAfterStart::kUnlessPropertiesDialog};
// The native-messaging host of today's browsers: no browser window of its
// own to ask about the foreground.
inline constexpr HandoffVariant kWebExtensionHandoff{true, HandoffVariant::Query::kNone, StartMethod::kShellExecute,
                                                     HandoffVariant::FrontAfterStart::kUnlessPropertiesDialog};

enum class HandoffStatus {
  kSent,     // the text reached the window; see reply
  kStopped,  // the module stopped before the lock (no text to send)
  kLockNotObtained,
  kNoProgram,        // window missing and no App Paths entry
  kStartupTimedOut,  // started, but no window within the polls
  kRefused,          // the system refused the message (access denied)
};

struct HandoffOutcome {
  HandoffStatus status = HandoffStatus::kStopped;
  LRESULT reply = 0;
  bool afterStartup = false;
  bool sent() const { return status == HandoffStatus::kSent; }
};

// What the module contributes to the sequence. Only buildText is required.
struct HandoffSteps {
  // Called after the foreground query; false stops before the lock.
  std::function<bool()> proceedAfterQuery;
  // Builds the command text at the module's point of the sequence.
  std::function<std::string()> buildText;
  // Progress notes, for modules that report them.
  std::function<void()> onRefused;
  std::function<void()> onFoundAtOnce;
  std::function<void()> onNotFound;
  std::function<void()> onFoundAfterStartup;
  std::function<void()> onStartupTimedOut;  // called with the lock still held
};

struct HandoffOptions {
  DWORD lockWaitMs = kLockWaitMs;        // shortened by tests only
  DWORD sendTimeoutMs = kSendTimeoutMs;  // shortened by tests only
  // Settings already open for the decision; the hand-off opens its own if null.
  SettingsSource* settings = nullptr;
  IntegrityQuery integrityOf = &win::ProcessIntegrityLevel;  // replaced by tests only
};

// The whole hand-off of one module.
HandoffOutcome HandOff(const HandoffVariant& variant, const HandoffSteps& steps, const HandoffOptions& options = {});

}  // namespace zv::handoff
