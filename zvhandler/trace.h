// The protocol handler's trace lines, written with OutputDebugStringA: the
// only report of what it decided.
#pragma once

#include <string>

#include "handoff/capture_filter.h"

namespace zv::handler {

// The handler's own points; those of the capture decision are traced by
// their DecisionPoint.
enum class Trace {
  kBegin,
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

// The exact line for `trace` or `point`, line feed included.
const char* TraceText(Trace trace);
const char* TraceText(handoff::DecisionPoint point);

void WriteTrace(Trace trace);
void WriteTrace(handoff::DecisionPoint point);

// The line for a command text; at most kCommandTraceLimit bytes long, a
// longer text is cut in the trace only.
inline constexpr size_t kCommandTraceLimit = 4080;
std::string CommandTraceLine(const std::string& commandText);
void WriteCommandTrace(const std::string& commandText);

}  // namespace zv::handler
