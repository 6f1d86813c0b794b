// The protocol handler's trace lines, written with OutputDebugStringA: the
// only report of what it decided.
#pragma once

#include <string>

namespace zv::handler {

enum class Trace {
  kBegin,
  kShift,
  kUseCtrlAltMode,
  kUrlReady,
  kCtrlAlt,
  kHostPrefixPassed,
  kSpecialPageChecked,
  kQueryFound,
  kNoExtension,
  kExtensionFound,
  kIgnoreListRule,
  kNoIgnoreList,
  kExtensionIgnored,
  kAcceptListRule,
  kNoAcceptList,
  kExtensionNotAccepted,
  kTypeFilterPassed,
  kPostCheck,
  kCreateCommand,
  kManagerFound,
  kManagerNotFound,
  kManagerStarted,
  kFreeMemory,
  kDone,
  kSentToRunning,
  kSentAfterStartup,
  // The system refused the message: a download manager of higher integrity
  // that does not allow WM_COPYDATA from this tab's level.
  kRefused,
};

// The exact line for `trace`, line feed included.
const char* TraceText(Trace trace);

void WriteTrace(Trace trace);

// The line for a command text; at most kCommandTraceLimit bytes long, a
// longer text is cut in the trace only.
inline constexpr size_t kCommandTraceLimit = 4080;
std::string CommandTraceLine(const std::string& commandText);
void WriteCommandTrace(const std::string& commandText);

}  // namespace zv::handler
