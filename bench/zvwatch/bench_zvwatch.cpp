// B7: Download of a loopback URL, the download manager running, against the
// floor of what any such component must do: the same binding through urlmon
// (URL moniker, bind context, a callback that leaves the bind flags alone,
// BindToObject for IStream), one keyboard-state read, a settings-file read
// per value the decision consults, the window look-up with its IsWindow
// check, and the bounded send of a text of the same size. What is left is
// the component's own work: its callback and the header queries.
//
//   bench_zvwatch.exe --module=PATH --standin=PATH [--count]
// With --count each measured call runs once inside a marked section, for
// count_round_trips.sh.
#include "loopback_http.h"

#include <windows.h>
#include <downloadmgr.h>
#include <urlmon.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "zvbench.h"

namespace {

constexpr char kCaption[] = "Kestrix bench";
const CLSID kClass = {0x4B2AFC7F, 0x7D72, 0x4025, {0x81, 0x92, 0x4D, 0xCF, 0xB4, 0xA1, 0xBE, 0xDD}};

// Each binding asks for a URL of its own, so that no cached copy answers.
class Urls {
 public:
  Urls(zv::test::LoopbackHttpServer& server, const char* tag, int count) {
    zv::test::HttpResponse response;
    response.headers = {{"Content-Type", "application/zip"},
                        {"Content-Disposition", "attachment; filename=\"bench.zip\""},
                        {"Date", "Tue, 15 Nov 1994 08:12:31 GMT"}};
    response.body = std::string(4096, 'z');
    for (int i = 0; i < count; ++i) {
      char path[96];
      std::snprintf(path, sizeof(path), "/b7/%lu-%lu-%s-%d/bench.zip", GetCurrentProcessId(), GetTickCount(), tag, i);
      server.Serve(path, response);
      const std::string url = server.Url(path);
      urls_.emplace_back(url.begin(), url.end());
    }
  }
  const wchar_t* Next() { return urls_[next_++ % urls_.size()].c_str(); }

 private:
  std::vector<std::wstring> urls_;
  size_t next_ = 0;
};

struct Binding {
  IMoniker* moniker = nullptr;
  IBindCtx* context = nullptr;
  explicit Binding(const wchar_t* url) {
    CreateURLMonikerEx(nullptr, url, &moniker, URL_MK_UNIFORM);
    CreateBindCtx(0, &context);
  }
  ~Binding() {
    if (context) context->Release();
    if (moniker) moniker->Release();
  }
};

void FloorBinding(Urls& urls) { zvbench::BareBinding(urls.Next()); }

// The text the component sends for these URLs, near enough in size.
const std::string& FloorText() {
  static const std::string text =
      "URL=http://127.0.0.1:65535/b7/0000-0000000000-floor-00/bench.zip\nFileName=bench.zip\n"
      "MIMEType=application/zip\nFileSize=4096\nFileDateTime=Tue, 15 Nov 1994 08:12:31 GMT\n";
  return text;
}

void FloorDownload(Urls& urls, const std::string& settingsFile) {
  FloorBinding(urls);
  BYTE keys[256];
  GetKeyboardState(keys);
  char value[256];
  for (const char* name : {"KeysToIgnore", "IntegrationTemporaryOff", "ZVCaption"})
    GetPrivateProfileStringA("SOFTWARE\\Quennet\\Zorvane", name, "", value, sizeof(value), settingsFile.c_str());
  HWND window = FindWindowA("TMainForm", value);
  if (!window || !IsWindow(window)) return;
  COPYDATASTRUCT data{0, static_cast<DWORD>(FloorText().size()), const_cast<char*>(FloorText().data())};
  DWORD_PTR reply = 0;
  SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 120000, &reply);
}

void OurDownload(IDownloadManager* manager, Urls& urls) {
  Binding binding(urls.Next());
  manager->Download(binding.moniker, binding.context, BINDVERB_GET, 0, nullptr, nullptr, nullptr, CP_ACP);
}

// Medians of `ours` and `floor` timed in alternation, so that a slow
// stretch of the machine weighs on both alike.
std::pair<double, double> AlternatingMedians(int samples, int iterations, const std::function<void()>& ours,
                                             const std::function<void()>& floor) {
  std::vector<double> oursTimes, floorTimes;
  for (int s = 0; s < samples; ++s) {
    oursTimes.push_back(zvbench::MedianMicros(1, iterations, ours));
    floorTimes.push_back(zvbench::MedianMicros(1, iterations, floor));
  }
  std::sort(oursTimes.begin(), oursTimes.end());
  std::sort(floorTimes.begin(), floorTimes.end());
  return {oursTimes[oursTimes.size() / 2], floorTimes[floorTimes.size() / 2]};
}

std::string Argument(int argc, char** argv, const char* name) {
  const size_t n = std::strlen(name);
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], name, n) == 0) return argv[i] + n;
  return {};
}

HANDLE StartStandIn(const std::string& path) {
  std::string commandLine = "\"" + path + "\" \"--caption=" + kCaption + "\" --log=-";
  STARTUPINFOA si{sizeof(si)};
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return nullptr;
  CloseHandle(pi.hThread);
  for (int i = 0; i < 500 && !FindWindowA("TMainForm", kCaption); ++i) Sleep(10);
  return pi.hProcess;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string built = Argument(argc, argv, "--module=");
  const std::string standIn = Argument(argc, argv, "--standin=");
  if (built.empty() || standIn.empty()) {
    std::fprintf(stderr, "usage: bench_zvwatch --module=PATH --standin=PATH [--count]\n");
    return 64;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  BYTE none[256] = {};
  SetKeyboardState(none);

  // The module in a folder of its own, with the portable edition's settings beside it.
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + "zvbench-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(folder.c_str(), nullptr);
  CreateDirectoryA((folder + "\\DATA").c_str(), nullptr);
  const std::string module = folder + "\\zvwatch.dll";
  CopyFileA(built.c_str(), module.c_str(), FALSE);
  const std::string settingsFile = folder + "\\DATA\\Settings.dat";
  std::ofstream(settingsFile, std::ios::binary) << "[SOFTWARE\\Quennet\\Zorvane]\r\nZVCaption=" << kCaption << "\r\n";

  HANDLE process = StartStandIn(standIn);
  HMODULE library = LoadLibraryA(module.c_str());
  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(library ? GetProcAddress(library, "DllGetClassObject") : nullptr));
  IClassFactory* factory = nullptr;
  IDownloadManager* manager = nullptr;
  if (getClassObject && SUCCEEDED(getClassObject(kClass, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
    factory->CreateInstance(nullptr, __uuidof(IDownloadManager), reinterpret_cast<void**>(&manager));
  if (!process || !manager || !FindWindowA("TMainForm", kCaption)) {
    std::fprintf(stderr, "bench_zvwatch: the module or the stand-in did not start\n");
    return 1;
  }

  {
    zv::test::LoopbackHttpServer server;
    const int samples = 21, iterations = 4;
    if (zvbench::CountMode(argc, argv)) {
      Urls ours(server, "ours", 4), floor(server, "floor", 4);
      OurDownload(manager, ours);  // warm-up: first-use costs belong to neither
      FloorDownload(floor, settingsFile);
      zvbench::CountedSection("B7-ours", [&] { OurDownload(manager, ours); });
      zvbench::CountedSection("B7-floor", [&] { FloorDownload(floor, settingsFile); });
    } else {
      for (int round = 0; round < 2; ++round) {
        // Each timed call, and the warm-up call before each sample, binds a URL of its own.
        const int calls = samples * (iterations + 1);
        Urls ours(server, "ours", calls), floor(server, "floor", calls);
        const auto [oursMicros, floorMicros] = AlternatingMedians(
            samples, iterations, [&] { OurDownload(manager, ours); }, [&] { FloorDownload(floor, settingsFile); });
        zvbench::PrintTimes("B7", "Download of a loopback URL, manager running", oursMicros, floorMicros);
      }
    }
  }

  manager->Release();
  factory->Release();
  FreeLibrary(library);
  PostMessageA(FindWindowA("TMainForm", kCaption), WM_CLOSE, 0, 0);
  WaitForSingleObject(process, 5000);
  CloseHandle(process);
  DeleteFileA(module.c_str());
  DeleteFileA((folder + "\\DATA\\Settings.dat").c_str());
  RemoveDirectoryA((folder + "\\DATA").c_str());
  RemoveDirectoryA(folder.c_str());
  CoUninitialize();
  return 0;
}
