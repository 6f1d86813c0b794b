#include "trace.h"

#include <windows.h>

namespace zv::handler {

const char* TraceText(Trace trace) {
  switch (trace) {
    case Trace::kBegin: return "TL Protocol handler.dll version 1.0.0.1. Begin\n";
    case Trace::kShift: return "Shift pressed.\n";
    case Trace::kUseCtrlAltMode: return "UseCtrlAlt mode\n";
    case Trace::kUrlReady: return "1\n";
    case Trace::kCtrlAlt: return "Ctrl+Alt pressed\n";
    case Trace::kHostPrefixPassed: return "2\n";
    case Trace::kSpecialPageChecked: return "3\n";
    case Trace::kQueryFound: return "? found\n";
    case Trace::kNoExtension: return "There is no extention\n";
    case Trace::kExtensionFound: return "4\n";
    case Trace::kIgnoreListRule: return "5\n";
    case Trace::kNoIgnoreList: return "Ignoring types not found\n";
    case Trace::kExtensionIgnored: return "This extention is ignoring\n";
    case Trace::kAcceptListRule: return "6\n";
    case Trace::kNoAcceptList: return "Accepting types not found\n";
    case Trace::kExtensionNotAccepted: return "This extention is not accepting\n";
    case Trace::kTypeFilterPassed: return "7\n";
    case Trace::kPostCheck: return "POST?\n";
    case Trace::kCreateCommand: return "Create the command line\n";
    case Trace::kManagerFound: return "ZV found\n";
    case Trace::kManagerNotFound: return "ZV not found, run it\n";
    case Trace::kManagerStarted: return "Runned\n";
    case Trace::kFreeMemory: return "Free memory...\n";
    case Trace::kDone: return "Done. Quit.\n";
    case Trace::kSentToRunning: return "Ok 1\n";
    case Trace::kSentAfterStartup: return "Ok 2\n";
    case Trace::kRefused: return "Access denied\n";
  }
  return "";
}

void WriteTrace(Trace trace) { OutputDebugStringA(TraceText(trace)); }

std::string CommandTraceLine(const std::string& commandText) {
  static constexpr char kPrefix[] = "lpCommand = ";
  constexpr size_t kRoom = kCommandTraceLimit - (sizeof(kPrefix) - 1) - 1;  // prefix, line feed
  std::string line = kPrefix;
  line.append(commandText, 0, kRoom);
  line.push_back('\n');
  return line;
}

void WriteCommandTrace(const std::string& commandText) {
  OutputDebugStringA(CommandTraceLine(commandText).c_str());
}

}  // namespace zv::handler
