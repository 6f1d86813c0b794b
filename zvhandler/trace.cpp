#include "trace.h"

#include <windows.h>

#include <iterator>

namespace zv::handler {

namespace {

using handoff::DecisionPoint;

struct DecisionTrace {
  DecisionPoint point;
  const char* text;
};

// Indexed by decision point; the numbered lines mark the filter's stages.
constexpr DecisionTrace kDecisionTraces[] = {
    {DecisionPoint::kShift, "Shift pressed.\n"},
    {DecisionPoint::kGateRefused, "UseCtrlAlt mode\n"},
    {DecisionPoint::kUrlReady, "1\n"},
    {DecisionPoint::kCtrlAlt, "Ctrl+Alt pressed\n"},
    {DecisionPoint::kHostPrefixPassed, "2\n"},
    {DecisionPoint::kSpecialPageChecked, "3\n"},
    {DecisionPoint::kQueryFound, "? found\n"},
    {DecisionPoint::kNoExtension, "There is no extention\n"},
    {DecisionPoint::kExtensionFound, "4\n"},
    {DecisionPoint::kIgnoreListRule, "5\n"},
    {DecisionPoint::kNoIgnoreList, "Ignoring types not found\n"},
    {DecisionPoint::kExtensionIgnored, "This extention is ignoring\n"},
    {DecisionPoint::kAcceptListRule, "6\n"},
    {DecisionPoint::kNoAcceptList, "Accepting types not found\n"},
    {DecisionPoint::kExtensionNotAccepted, "This extention is not accepting\n"},
    {DecisionPoint::kTypeFilterPassed, "7\n"},
};

constexpr size_t kDecisionPointCount = static_cast<size_t>(DecisionPoint::kTypeFilterPassed) + 1;
static_assert(std::size(kDecisionTraces) == kDecisionPointCount, "a decision point has no trace line");

constexpr bool EveryRowAtItsPoint() {
  for (size_t i = 0; i < std::size(kDecisionTraces); ++i)
    if (static_cast<size_t>(kDecisionTraces[i].point) != i) return false;
  return true;
}
static_assert(EveryRowAtItsPoint(), "a trace line sits at another decision point's index");

}  // namespace

const char* TraceText(Trace trace) {
  switch (trace) {
    case Trace::kBegin:
      return "TL Protocol handler.dll version 1.0.0.1. Begin\n";
    case Trace::kPostCheck:
      return "POST?\n";
    case Trace::kCreateCommand:
      return "Create the command line\n";
    case Trace::kManagerFound:
      return "ZV found\n";
    case Trace::kManagerNotFound:
      return "ZV not found, run it\n";
    case Trace::kManagerStarted:
      return "Runned\n";
    case Trace::kFreeMemory:
      return "Free memory...\n";
    case Trace::kDone:
      return "Done. Quit.\n";
    case Trace::kSentToRunning:
      return "Ok 1\n";
    case Trace::kSentAfterStartup:
      return "Ok 2\n";
    case Trace::kRefused:
      return "Access denied\n";
  }
  return "";
}

const char* TraceText(DecisionPoint point) {
  const auto index = static_cast<size_t>(point);
  return index < std::size(kDecisionTraces) ? kDecisionTraces[index].text : "";
}

void WriteTrace(DecisionPoint point) { OutputDebugStringA(TraceText(point)); }

void WriteTrace(Trace trace) { OutputDebugStringA(TraceText(trace)); }

std::string CommandTraceLine(const std::string& commandText) {
  static constexpr char kPrefix[] = "lpCommand = ";
  constexpr size_t kRoom = kCommandTraceLimit - (sizeof(kPrefix) - 1) - 1;  // prefix, line feed
  std::string line = kPrefix;
  line.append(commandText, 0, kRoom);
  line.push_back('\n');
  return line;
}

void WriteCommandTrace(const std::string& commandText) { OutputDebugStringA(CommandTraceLine(commandText).c_str()); }

}  // namespace zv::handler
