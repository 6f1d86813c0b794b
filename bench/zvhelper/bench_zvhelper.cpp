// B4: the browser helper object's BeforeNavigate2 for a navigation the
// filter refuses (an .html page), against what that path cannot avoid: one
// keyboard-state read, one settings-key open, one read per value
// consulted, one close.
//
//   bench_zvhelper.exe --module=PATH [--count]
#include <windows.h>
#include <exdispid.h>
#include <oleauto.h>

#include <cstdio>
#include <cstring>

#include "zvbench.h"

namespace {

constexpr char kSettingsKey[] = "Software\\Quennet\\Zorvane";
const CLSID kCatcherClass = {0xB930BA63, 0x9E5A, 0x11D3, {0xA2, 0x88, 0x00, 0x00, 0xE8, 0x0E, 0x2E, 0xDE}};

IDispatch* g_sink = nullptr;

// The event's arguments as the browser passes them, last first.
struct Event {
  VARIANT url, flags, frame, post, headers;
  VARIANT_BOOL cancel = VARIANT_FALSE;
  VARIANT args[7];
  DISPPARAMS params{args, nullptr, 7, 0};

  Event() {
    for (VARIANT* v : {&url, &flags, &frame, &post, &headers}) VariantInit(v);
    V_VT(&url) = VT_BSTR;
    V_BSTR(&url) = SysAllocString(L"http://example.org/news/index.html");
    V_VT(&flags) = VT_I4;
    V_I4(&flags) = 0;
    VARIANT* targets[] = {&headers, &post, &frame, &flags, &url};  // args 1..5
    for (VARIANT& v : args) VariantInit(&v);
    V_VT(&args[0]) = VT_BYREF | VT_BOOL;
    V_BOOLREF(&args[0]) = &cancel;
    for (int i = 0; i < 5; ++i) {
      V_VT(&args[i + 1]) = VT_BYREF | VT_VARIANT;
      V_VARIANTREF(&args[i + 1]) = targets[i];
    }
    V_VT(&args[6]) = VT_EMPTY;
  }
  ~Event() {
    for (VARIANT* v : {&url, &flags, &frame, &post, &headers}) VariantClear(v);
  }
};

Event* g_event = nullptr;

void PrepareSettings() { zvbench::ResetManagerSettings({{"AcceptingTypes", "ZIP,EXE,MP3,RAR,ISO,MSI,7Z"}}); }

void BeforeNavigate2() {
  g_sink->Invoke(DISPID_BEFORENAVIGATE2, IID_NULL, 0, DISPATCH_METHOD, &g_event->params, nullptr, nullptr, nullptr);
}

void BeforeNavigate2Floor() {
  zvbench::DecisionFloor({"IntegrationTemporaryOff", "AcceptFileTypes", "AcceptingTypes"});
}

}  // namespace

int main(int argc, char** argv) {
  const char* module = zvbench::Option(argc, argv, "--module=");
  if (!module) {
    std::fprintf(stderr, "usage: bench_zvhelper --module=PATH [--count]\n");
    return 64;
  }
  PrepareSettings();
  BYTE none[256] = {};
  SetKeyboardState(none);
  if (!zvbench::CreateFromModule(module, kCatcherClass, IID_IDispatch, reinterpret_cast<void**>(&g_sink))) {
    std::fprintf(stderr, "bench_zvhelper: cannot create the helper object from %s\n", module);
    return 1;
  }
  Event event;
  g_event = &event;
  if (zvbench::CountMode(argc, argv)) {
    BeforeNavigate2();  // warm-up
    BeforeNavigate2Floor();
    zvbench::CountedSection("B4-ours", BeforeNavigate2);
    zvbench::CountedSection("B4-floor", BeforeNavigate2Floor);
  } else {
    for (int round = 0; round < 2; ++round) {
      const double ours = zvbench::MedianMicros(21, 50, BeforeNavigate2);
      const double floor = zvbench::MedianMicros(21, 50, BeforeNavigate2Floor);
      zvbench::PrintTimes("B4", "helper BeforeNavigate2, .html refused", ours, floor);
    }
  }
  if (event.cancel != VARIANT_FALSE) std::fprintf(stderr, "bench_zvhelper: the navigation was touched\n");
  g_sink->Release();
  RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
  return 0;
}
