// B1: the capture decision for a URL that passes through (an .html page on
// the protocol handler's path), against the registry and keyboard reads it
// cannot avoid. B2: a hand-off to a running download manager, against what
// it must do: take and give back the hand-off lock, read the settings it
// consults through one open key, FindWindowA and the bounded send of WM_COPYDATA
// of the same text (and, for reference, the bare lookup and send alone).
//
//   bench_core.exe --standin=PATH [--count]
// With --count each measured call runs once inside a marked section, for
// count_round_trips.sh.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "handoff/handoff.h"
#include "zvbench.h"

using namespace zv::handoff;

namespace {

constexpr char kCaption[] = "Zorvane bench";
constexpr char kUrl[] = "http://example.org/news/index.html";
const char* const kDecisionValues[] = {"IEUrlCatch", "IntegrationTemporaryOff", "AcceptFileTypes", "AcceptingTypes"};

void PrepareSettings() {
  zvbench::ResetManagerSettings({{"AcceptingTypes", "ZIP,EXE,MP3,RAR,ISO,MSI,7Z"},
                                 {"ZVCaption", kCaption},
                                 {"AutoAdd", "TRUE"},
                                 {"AutoAddMode", "3"}});  // leaves the window where it is: no foreground change
}

void Decision() {
  ManagerSettings settings;
  const ModifierKeys keys = ReadModifierKeys();
  DecideCapture(CaptureModule::kProtocolHandler, keys, settings, {kUrl});
}

// What any decision must do: one keyboard-state read, one open, one read
// per consulted value, one close.
void DecisionFloor() {
  zvbench::DecisionFloor({"IEUrlCatch", "IntegrationTemporaryOff", "AcceptFileTypes", "AcceptingTypes"});
}

// Each value through its own open, size query, read and close.
void DecisionNaive() {
  GetKeyState(VK_SHIFT);
  GetKeyState(VK_MENU);
  GetKeyState(VK_CONTROL);
  for (const char* name : kDecisionValues) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
      std::string buffer(size + 1, '\0');
      RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &size);
    }
    RegCloseKey(key);
  }
}

const std::string& Text() {
  static const std::string text = BuildCommandText("http://example.org/files/setup.zip",
                                                   CommandLines{false, {}, std::string("http://example.org/"), {}});
  return text;
}

void Handoff() {
  HandoffSteps steps;
  steps.buildText = [] { return Text(); };
  HandOff(kProtocolHandlerHandoff, steps);
}

void BareLookupAndSend() { zvbench::LookupAndSend(kCaption, Text()); }

void HandoffFloor() { zvbench::HandoffFloor(BareLookupAndSend); }

}  // namespace

int main(int argc, char** argv) {
  const char* standIn = zvbench::Option(argc, argv, "--standin=");
  if (!standIn) {
    std::fprintf(stderr, "usage: bench_core --standin=PATH [--count]\n");
    return 64;
  }
  PrepareSettings();
  BYTE none[256] = {};
  SetKeyboardState(none);
  HANDLE process = zvbench::StartStandIn(standIn, kCaption);
  if (!process || !FindWindowA(kManagerClass, kCaption)) {
    std::fprintf(stderr, "bench_core: the stand-in did not start\n");
    return 1;
  }

  if (zvbench::CountMode(argc, argv)) {
    Decision();  // warm-up: first-use costs are not the decision's
    Handoff();
    zvbench::CountedSection("B1-ours", Decision);
    zvbench::CountedSection("B1-floor", DecisionFloor);
    zvbench::CountedSection("B1-naive", DecisionNaive);
    zvbench::CountedSection("B2-ours", Handoff);
    zvbench::CountedSection("B2-floor", HandoffFloor);
    zvbench::CountedSection("B2-bare", BareLookupAndSend);
  } else {
    for (int round = 0; round < 2; ++round) {
      const double ours = zvbench::MedianMicros(21, 50, Decision);
      const double floor = zvbench::MedianMicros(21, 50, DecisionFloor);
      const double naive = zvbench::MedianMicros(21, 50, DecisionNaive);
      zvbench::PrintTimes("B1", "capture decision, .html passes through", ours, floor);
      zvbench::PrintTimes("", "  (each value read on its own, for reference)", naive, floor);
    }
    for (int round = 0; round < 2; ++round) {
      const double ours = zvbench::MedianMicros(21, 30, Handoff);
      const double floor = zvbench::MedianMicros(21, 30, HandoffFloor);
      const double bare = zvbench::MedianMicros(21, 30, BareLookupAndSend);
      zvbench::PrintTimes("B2", "hand-off to a running download manager", ours, floor);
      zvbench::PrintTimes("", "  (the bare lookup and send, for reference)", bare, floor);
    }
  }
  PostMessageA(FindWindowA(kManagerClass, kCaption), WM_CLOSE, 0, 0);
  WaitForSingleObject(process, 5000);
  CloseHandle(process);
  RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
  return 0;
}
