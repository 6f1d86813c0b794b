// NP1: one stream in the plug-in, from NPP_NewStream to the repainted
// status line, with the download manager running; against the floor of any
// hand-off (the lock, the settings it consults, the lookup and the bounded
// send of the same text) plus the same repaint of the plug-in window.
//
//   bench_npzorvex.exe --plugin=PATH --standin=PATH [--count]
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "np_host.h"
#include "zvbench.h"

namespace {

constexpr char kCaption[] = "Zorvane bench";
constexpr char kUrl[] = "http://example.org/files/setup.zip";
constexpr char kText[] = "URL=http://example.org/files/setup.zip\nOpera=True";

void PrepareSettings() {
  zvbench::ResetManagerSettings(
      {{"ZVCaption", kCaption}, {"AutoAdd", "TRUE"}, {"AutoAddMode", "3"}});  // no foreground change in either variant
}

std::string LogPath() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  return std::string(temp) + "zvbench-npzorvex.log";
}

}  // namespace

int main(int argc, char** argv) {
  const char* pluginPath = zvbench::Option(argc, argv, "--plugin=");
  const char* standIn = zvbench::Option(argc, argv, "--standin=");
  if (!pluginPath || !standIn) {
    std::fprintf(stderr, "usage: bench_npzorvex --plugin=PATH --standin=PATH [--count]\n");
    return 64;
  }
  PrepareSettings();
  HANDLE process = zvbench::StartStandIn(standIn, kCaption, "\"--log=" + LogPath() + "\"");
  if (!process || !FindWindowA("TMainForm", kCaption)) {
    std::fprintf(stderr, "bench_npzorvex: the stand-in did not start\n");
    return 1;
  }
  {
    zv::test::np::Library library(pluginPath);
    zv::test::np::BrowserWindow browser;
    if (!library.Start()) {
      std::fprintf(stderr, "bench_npzorvex: the plug-in did not start\n");
      return 1;
    }
    zv::test::np::Instance instance(library);
    instance.SetWindow(browser.hwnd());
    HWND pluginWindow = browser.PluginWindow();

    auto ours = [&] { instance.NewStream(kUrl); };  // pumps the repaint
    auto floor = [&] {
      zvbench::HandoffFloor([] { zvbench::LookupAndSend(kCaption, kText); });
      InvalidateRect(pluginWindow, nullptr, TRUE);
      zv::test::np::PumpMessages();
    };

    if (zvbench::CountMode(argc, argv)) {
      ours();  // warm-up: first-use costs are not the stream's
      floor();
      zvbench::CountedSection("NP1-ours", ours);
      zvbench::CountedSection("NP1-floor", floor);
    } else {
      for (int round = 0; round < 2; ++round)
        zvbench::PrintTimes("NP1", "stream to a running manager, with repaint", zvbench::MedianMicros(21, 30, ours),
                            zvbench::MedianMicros(21, 30, floor));
    }
  }
  PostMessageA(FindWindowA("TMainForm", kCaption), WM_CLOSE, 0, 0);
  WaitForSingleObject(process, 5000);
  CloseHandle(process);
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Quennet\\Zorvane");
  DeleteFileA(LogPath().c_str());
  return 0;
}
