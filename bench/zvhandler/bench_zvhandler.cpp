// B3: the protocol handler's Start for a request it passes through (an
// .html GET), against what that path cannot avoid: one keyboard-state read,
// one settings-key open, one read per value consulted, one close, and the
// trace lines of the path as bare OutputDebugStringA calls.
//
//   bench_zvhandler.exe --module=PATH [--count]
#include <windows.h>
#include <urlmon.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "zvbench.h"

namespace {

constexpr char kSettingsKey[] = "Software\\Quennet\\Zorvane";
constexpr wchar_t kUrl[] = L"http://example.org/news/index.html";
const CLSID kHandlerClass = {0xE131C96E, 0x4DDB, 0x11D4, {0x84, 0xB8, 0x00, 0x80, 0x48, 0xB3, 0x3D, 0xEA}};
const char* const kPathTraces[] = {"TL Protocol handler.dll version 1.0.0.1. Begin\n",
                                   "1\n",
                                   "2\n",
                                   "3\n",
                                   "4\n",
                                   "6\n",
                                   "This extention is not accepting\n"};

IInternetProtocolRoot* g_protocol = nullptr;

void PrepareSettings() { zvbench::ResetManagerSettings({{"AcceptingTypes", "ZIP,EXE,MP3,RAR,ISO,MSI,7Z"}}); }

void Start() { g_protocol->Start(kUrl, nullptr, nullptr, 0, 0); }

void StartFloor() {
  zvbench::DecisionFloor({"IEUrlCatch", "IntegrationTemporaryOff", "AcceptFileTypes", "AcceptingTypes"});
  for (const char* line : kPathTraces) OutputDebugStringA(line);
}

}  // namespace

int main(int argc, char** argv) {
  const char* module = zvbench::Option(argc, argv, "--module=");
  if (!module) {
    std::fprintf(stderr, "usage: bench_zvhandler --module=PATH [--count]\n");
    return 64;
  }
  PrepareSettings();
  BYTE none[256] = {};
  SetKeyboardState(none);
  if (!zvbench::CreateFromModule(module, kHandlerClass, IID_IInternetProtocolRoot,
                                 reinterpret_cast<void**>(&g_protocol))) {
    std::fprintf(stderr, "bench_zvhandler: cannot create the handler from %s\n", module);
    return 1;
  }
  if (zvbench::CountMode(argc, argv)) {
    Start();  // warm-up: first-use costs are not the request's
    StartFloor();
    zvbench::CountedSection("B3-ours", Start);
    zvbench::CountedSection("B3-floor", StartFloor);
  } else {
    for (int round = 0; round < 2; ++round) {
      const double ours = zvbench::MedianMicros(21, 50, Start);
      const double floor = zvbench::MedianMicros(21, 50, StartFloor);
      zvbench::PrintTimes("B3", "handler Start, .html passes through", ours, floor);
    }
  }
  g_protocol->Release();
  RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
  return 0;
}
