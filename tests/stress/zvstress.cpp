// Load on the hand-off: several browser host processes, each with a real
// module loaded as its browser loads it, hand off as fast as they can to one
// stand-in download manager. Every text must arrive exactly once and byte for
// byte, every send must happen while the sender holds the hand-off lock (the
// stand-in checks the lock at each message), nothing may hang, and a host
// must end with as many handles and about as much private memory after its
// last thousand hand-offs as after its first, with its module unloadable.
//
// The download-manager component (--watch) sends without the lock, and its
// bindings go to a port where nothing listens, so they fail at once. The
// system's URL monikers keep a little memory for each such binding: the
// component's host is measured against as many bare bindings afterwards.
//
//   zvstress run --standin=EXE [--handler=DLL] [--helper=DLL] [--plugin=DLL] [--navigator=DLL]
//                [--watch=DLL] [--count=N]
//   zvstress host KIND MODULE COUNT RESULT_FILE TAG    (started by run)
#include <windows.h>
#include <downloadmgr.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <urlmon.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "com/com_ptr.h"
#include "np_host.h"
#include "standin_bind_info.h"
#include "standin_browser.h"
#include "zvbench.h"
#include "win/unique_handles.h"
#include "zvtest.h"

namespace {

using zv::com::ComPtr;
using zv::com::UniqueVariant;
using zv::win::UniqueHandle;
using zv::win::UniqueLibrary;

constexpr char kPage[] = "http://stress.example/downloads.html";
const CLSID kHandlerClass = {0xE131C96E, 0x4DDB, 0x11D4, {0x84, 0xB8, 0x00, 0x80, 0x48, 0xB3, 0x3D, 0xEA}};
const CLSID kCatcherClass = {0xB930BA63, 0x9E5A, 0x11D3, {0xA2, 0x88, 0x00, 0x00, 0xE8, 0x0E, 0x2E, 0xDE}};
const CLSID kNavigatorClass = {0xB4B3E98F, 0xB797, 0x11D2, {0xA8, 0x32, 0x00, 0x60, 0x52, 0x05, 0x8F, 0xA5}};
const CLSID kWatchClass = {0x4B2AFC7F, 0x7D72, 0x4025, {0x81, 0x92, 0x4D, 0xCF, 0xB4, 0xA1, 0xBE, 0xDD}};
const IID kDownloadManagerIid = {0x988934A4, 0x064B, 0x11D3, {0xBB, 0x80, 0x00, 0x10, 0x4B, 0x35, 0xE7, 0xF9}};
constexpr DWORD kRunBoundMs = 10 * 60 * 1000;
constexpr int kLeakWindow = 1000;  // hand-offs between the two measurements

// A URL of its own per host and hand-off, of varying length and letters, so
// that a mixed-up or cut text cannot pass for another.
std::string HandOffUrl(const std::string& kind, const std::string& tag, int i) {
  return std::string(kind == "watch" ? "http://127.0.0.1:9/" : "http://stress.example/") + kind + "/" + tag + "/" +
         std::to_string(i) + "/" + std::string(static_cast<size_t>(i % 200), static_cast<char>('a' + i % 26)) + ".zip";
}

std::string ExpectedText(const std::string& kind, const std::string& url) {
  if (kind == "helper") return "URL=" + url + "\nReferer=" + kPage + "\nPostData=";
  if (kind == "plugin") return "URL=" + url + "\nOpera=True";
  if (kind == "watch") return "URL=" + url + "\r\nReferer=";
  return "URL=" + url;
}

// A path as CMake gives it (a Linux path) or as Windows writes it.
std::string WinPath(std::string path) {
  if (path.empty() || path[0] != '/') return path;
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Usage {
  DWORD handles = 0;
  SIZE_T privateBytes = 0;
  DWORD threads = 0;
};

DWORD ThreadCount() {
  const zv::win::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return 0;
  DWORD count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  return count;
}
// The open handles of this process. Where the system does not count them
// (Wine answers 0), the handle values in use are counted one by one.
DWORD OpenHandles() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count) return count;
  DWORD flags = 0;
  for (ULONG_PTR value = 4; value < 0x10000; value += 4)
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  return count;
}

Usage CurrentUsage() {
  Usage usage;
  // Counted first: the snapshot's own memory is then part of both figures.
  usage.threads = ThreadCount();
  usage.handles = OpenHandles();
  // The commit charge: private bytes (Wine leaves PrivateUsage at 0).
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  usage.privateBytes = counters.PagefileUsage;
  return usage;
}

// A COM server loaded by path as the browser loads it, with its class factory.
class ComModule {
 public:
  ComModule(const char* path, REFCLSID clsid) : module_(LoadLibraryA(path)) {
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = module_ ? reinterpret_cast<GetClassObject>(
                             reinterpret_cast<void*>(GetProcAddress(module_.get(), "DllGetClassObject")))
                       : nullptr;
    if (get) get(clsid, IID_IClassFactory, factory_.put_void());
  }
  // The factory goes before the module.
  ~ComModule() { ReleaseFactory(); }
  IClassFactory* factory() const { return factory_.get(); }
  void ReleaseFactory() { factory_.reset(); }
  HRESULT CanUnloadNow() const {
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    auto can = reinterpret_cast<CanUnload>(reinterpret_cast<void*>(GetProcAddress(module_.get(), "DllCanUnloadNow")));
    return can ? can() : E_NOTIMPL;
  }

 private:
  UniqueLibrary module_;
  ComPtr<IClassFactory> factory_;
};

// Initialize(protocol, url) through IDispatch on a new catcher; true when
// it answers the stand-in's reply of 1.
bool OfferToNavigatorCatcher(IClassFactory& factory, const std::string& url) {
  ComPtr<IDispatch> catcher;
  if (FAILED(factory.CreateInstance(nullptr, IID_IDispatch, catcher.put_void()))) return false;
  LPOLESTR name = const_cast<LPOLESTR>(L"Initialize");
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = catcher->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
  UniqueVariant protocol, address, answer;
  V_VT(protocol.get()) = VT_BSTR;
  V_BSTR(protocol.get()) = SysAllocString(L"http");
  V_VT(address.get()) = VT_BSTR;
  V_BSTR(address.get()) = SysAllocString(Wide(url).c_str());
  VARIANT args[2] = {*address.get(), *protocol.get()};  // shallow copies, in reverse order
  DISPPARAMS params{args, nullptr, 2, 0};
  if (SUCCEEDED(hr))
    hr = catcher->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, answer.get(), nullptr, nullptr);
  return SUCCEEDED(hr) && answer.type() == VT_I2 && V_I2(answer.get()) == 1;
}

// Runs the module's DllRegisterServer or DllUnregisterServer: the catcher
// is called by name through its registered type library.
HRESULT RegisterModule(const std::string& path, bool registering) {
  const UniqueLibrary module(LoadLibraryA(path.c_str()));
  if (!module) return E_FAIL;
  using Entry = HRESULT(STDAPICALLTYPE*)();
  auto entry = reinterpret_cast<Entry>(
      reinterpret_cast<void*>(GetProcAddress(module.get(), registering ? "DllRegisterServer" : "DllUnregisterServer")));
  return entry ? entry() : E_FAIL;
}

// --- One host process ----------------------------------------------------------------------------

struct HostResult {
  int done = 0;
  double longestMs = 0;
  double elapsedMs = 0;  // from the start signal to the last hand-off
  Usage early, late;
  // The same number of bare bindings afterwards, in the same process: what
  // the system's own URL monikers keep per binding.
  Usage floorEarly, floorLate;
  HRESULT canUnload = S_OK;
};

// What a browser's thread does between two events: handle what was posted
// to its windows meanwhile.
void PumpPendingMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// On a busy machine the system's URL bindings can still have a worker
// thread more running (its handle and its stack) when the calls end: the
// usage is taken once no more threads run than at `baseline`, within 20 s.
Usage SettledUsage(const Usage& baseline) {
  Usage usage = CurrentUsage();
  for (int i = 0; i < 200 && usage.threads > baseline.threads; ++i) {
    PumpPendingMessages();
    Sleep(100);
    usage = CurrentUsage();
  }
  return usage;
}

// Runs `handOff(i)` count times, after every host is ready.
template <typename F>
void RunHandOffs(int count, HostResult& result, HANDLE ready, HANDLE go, F handOff) {
  ReleaseSemaphore(ready, 1, nullptr);
  WaitForSingleObject(go, kRunBoundMs);
  const double begin = NowMs();
  for (int i = 0; i < count; ++i) {
    const double start = NowMs();
    if (handOff(i)) ++result.done;
    PumpPendingMessages();
    result.longestMs = std::max(result.longestMs, NowMs() - start);
    if (i + 1 == std::min(count, kLeakWindow)) result.early = CurrentUsage();
  }
  result.elapsedMs = NowMs() - begin;
  result.late = SettledUsage(result.early);
}

int Host(const std::string& kind, const char* module, int count, const char* resultFile, const std::string& tag,
         HANDLE ready, HANDLE go) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HostResult result;
  bool loaded = false;
  if (kind == "navigator") {
    // As Navigator offers each URL: a new catcher, "Initialize" called by
    // name, the answer the download manager's reply.
    ComModule server(module, kNavigatorClass);
    if ((loaded = server.factory() != nullptr)) {
      RunHandOffs(count, result, ready, go,
                  [&](int i) { return OfferToNavigatorCatcher(*server.factory(), HandOffUrl(kind, tag, i)); });
      server.ReleaseFactory();
      result.canUnload = server.CanUnloadNow();
    }
  } else if (kind == "handler") {
    ComModule server(module, kHandlerClass);
    if ((loaded = server.factory() != nullptr)) {
      RunHandOffs(count, result, ready, go, [&](int i) {
        ComPtr<IInternetProtocolRoot> protocol;
        if (FAILED(server.factory()->CreateInstance(nullptr, IID_IInternetProtocolRoot, protocol.put_void())))
          return false;
        zv::test::StandInBindInfo bindInfo;
        return protocol->Start(Wide(HandOffUrl(kind, tag, i)).c_str(), nullptr, &bindInfo, PI_FORCE_ASYNC, 0) ==
               S_FALSE;  // claimed
      });
      server.ReleaseFactory();
      result.canUnload = server.CanUnloadNow();
    }
  } else if (kind == "helper") {
    ComModule server(module, kCatcherClass);
    ComPtr<IObjectWithSite> catcher;
    if (server.factory() &&
        SUCCEEDED(server.factory()->CreateInstance(nullptr, IID_IObjectWithSite, catcher.put_void()))) {
      loaded = true;
      {
        zv::test::StandInBrowser browser;
        browser.SetLocation(Wide(kPage));
        catcher->SetSite(browser.site());
        RunHandOffs(count, result, ready, go, [&](int i) {
          zv::test::Navigation navigation;
          navigation.url = Wide(HandOffUrl(kind, tag, i));
          return browser.BeforeNavigate2(navigation).cancel == VARIANT_TRUE;  // taken over
        });
        catcher->SetSite(nullptr);
      }
      catcher.reset();
      server.ReleaseFactory();
      result.canUnload = server.CanUnloadNow();
    }
  } else if (kind == "plugin") {
    zv::test::np::Library library(module);
    if ((loaded = library.Start())) {
      zv::test::np::BrowserWindow browser;
      zv::test::np::Instance instance(library);
      instance.SetWindow(browser.hwnd());
      RunHandOffs(count, result, ready, go,
                  [&](int i) { return instance.NewStream(HandOffUrl(kind, tag, i).c_str()) == NPERR_NO_ERROR; });
    }
  } else if (kind == "watch") {
    ComModule server(module, kWatchClass);
    ComPtr<IDownloadManager> manager;
    if (server.factory() &&
        SUCCEEDED(server.factory()->CreateInstance(nullptr, kDownloadManagerIid, manager.put_void()))) {
      loaded = true;
      RunHandOffs(count, result, ready, go, [&](int i) {
        ComPtr<IMoniker> moniker;
        ComPtr<IBindCtx> context;
        HRESULT hr = CreateURLMonikerEx(nullptr, Wide(HandOffUrl(kind, tag, i)).c_str(), moniker.put(), URL_MK_UNIFORM);
        if (SUCCEEDED(hr)) hr = CreateBindCtx(0, context.put());
        if (SUCCEEDED(hr))
          hr = manager->Download(moniker.get(), context.get(), BINDVERB_GET, 0, nullptr, nullptr, nullptr, CP_ACP);
        return hr == S_OK;
      });
      for (int i = 0; i < count; ++i) {
        zvbench::BareBinding(Wide(HandOffUrl(kind, tag + "-floor", i)).c_str());
        PumpPendingMessages();
        if (i + 1 == std::min(count, kLeakWindow)) result.floorEarly = CurrentUsage();
      }
      result.floorLate = SettledUsage(result.floorEarly);
      manager.reset();
      server.ReleaseFactory();
      result.canUnload = server.CanUnloadNow();
    }
  }
  if (!loaded) ReleaseSemaphore(ready, 1, nullptr);  // the run must not wait for it
  std::ofstream out(resultFile);
  out << "done " << result.done << "\nlongest_ms " << result.longestMs << "\nelapsed_ms " << result.elapsedMs
      << "\nhandles " << result.early.handles << " " << result.late.handles << "\nthreads " << result.early.threads
      << " " << result.late.threads << "\nprivate " << result.early.privateBytes << " " << result.late.privateBytes
      << "\nfloor_private " << result.floorEarly.privateBytes << " " << result.floorLate.privateBytes << "\ncan_unload "
      << result.canUnload << "\n";
  CoUninitialize();
  return loaded ? 0 : 2;
}

// --- The run -------------------------------------------------------------------------------------

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Received {
  std::string lock;
  std::string bytes;
};
std::vector<Received> ReceivedTexts(const std::string& log) {
  std::vector<Received> texts;
  std::istringstream lines(ReadAll(log));
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, 9, "COPYDATA ") != 0) continue;
    Received r;
    const size_t lock = line.find(" lock="), data = line.find(" data=");
    if (lock != std::string::npos && lock < data) r.lock = line.substr(lock + 6, line.find(' ', lock + 6) - lock - 6);
    if (data != std::string::npos) r.bytes = zv::test::Unescape(line.substr(data + 6));
    texts.push_back(r);
  }
  return texts;
}

std::map<std::string, std::string> ReadResult(const std::string& path) {
  std::map<std::string, std::string> values;
  std::istringstream lines(ReadAll(path));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t space = line.find(' ');
    if (space != std::string::npos) values[line.substr(0, space)] = line.substr(space + 1);
  }
  return values;
}

// What the run sets up and takes away again: the stand-in download manager,
// the hosts to start, the component's copy beside its settings and the
// Navigator catcher's registration.
struct Rig {
  std::vector<std::pair<std::string, std::string>> hosts;  // kind, module
  int count = 0;
  std::string base, log, watchFolder;
  UniqueHandle manager;
  bool registered = false;
  std::vector<std::string> resultFiles;  // one per host started

  ~Rig() {
    if (manager) TerminateProcess(manager.get(), 0);
    if (log.empty()) return;
    DeleteFileA(log.c_str());
    DeleteFileA((watchFolder + "\\DATA\\Settings.dat").c_str());
    RemoveDirectoryA((watchFolder + "\\DATA").c_str());
    DeleteFileA((watchFolder + "\\zvwatch.dll").c_str());
    RemoveDirectoryA(watchFolder.c_str());
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Quennet\\Zorvane");
  }
};

// 0 when the rig stands, else the run's exit code.
int SetUpRig(int argc, char** argv, Rig& rig) {
  const char* standIn = zvbench::Option(argc, argv, "--standin=");
  const char* countText = zvbench::Option(argc, argv, "--count=");
  rig.count = countText ? std::atoi(countText) : 250;
  if (!standIn || rig.count <= 0) {
    std::fprintf(stderr,
                 "usage: zvstress run --standin=EXE [--handler=DLL] [--helper=DLL] [--plugin=DLL] [--count=N]\n");
    return 64;
  }
  for (const char* kind : {"handler", "helper", "plugin", "navigator", "watch"}) {
    if (const char* module = zvbench::Option(argc, argv, (std::string("--") + kind + "=").c_str()))
      rig.hosts.emplace_back(kind, WinPath(module));
  }

  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string pid = std::to_string(GetCurrentProcessId());
  rig.base = std::string(temp) + "zvstress-" + pid;
  rig.log = rig.base + ".log";
  rig.watchFolder = rig.base + "-watch";
  DeleteFileA(rig.log.c_str());
  zvbench::ResetManagerSettings({{"AcceptingTypes", "ZIP"}});
  const std::string caption = "Zorvane stress " + pid;
  rig.manager.reset(
      zvbench::StartStandIn(WinPath(standIn), caption, "\"--log=" + rig.log + "\" --lock-check --lifetime=900000"));
  for (int i = 0; i < 600 && rig.manager && !FindWindowA("TMainForm", caption.c_str()); ++i) Sleep(100);
  if (!rig.manager || !FindWindowA("TMainForm", caption.c_str())) {
    std::printf("FAIL: the stand-in download manager did not start\n");
    return 1;
  }

  // The component reads the caption to look for from "DATA\Settings.dat"
  // beside itself: it runs from a copy with such a file.
  for (auto& [kind, module] : rig.hosts) {
    if (kind != "watch") continue;
    CreateDirectoryA(rig.watchFolder.c_str(), nullptr);
    CreateDirectoryA((rig.watchFolder + "\\DATA").c_str(), nullptr);
    const std::string copy = rig.watchFolder + "\\zvwatch.dll";
    CopyFileA(module.c_str(), copy.c_str(), FALSE);
    WritePrivateProfileStringA("SOFTWARE\\Quennet\\Zorvane", "ZVCaption", caption.c_str(),
                               (rig.watchFolder + "\\DATA\\Settings.dat").c_str());
    module = copy;
  }

  for (const auto& [kind, module] : rig.hosts) {
    if (kind != "navigator") continue;
    if (FAILED(RegisterModule(module, true))) {
      std::printf("FAIL: the Navigator catcher's module did not register\n");
      return 1;
    }
    rig.registered = true;
  }
  return 0;
}

// Starts one process per host, lets them all go at once and waits for them
// to end; the failures seen.
int StartHosts(Rig& rig) {
  const std::string pid = std::to_string(GetCurrentProcessId());
  const std::string readyName = "ZvStressReady-" + pid, goName = "ZvStressGo-" + pid;
  const UniqueHandle ready(CreateSemaphoreA(nullptr, 0, 64, readyName.c_str()));
  const UniqueHandle go(CreateEventA(nullptr, TRUE, FALSE, goName.c_str()));
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::vector<UniqueHandle> processes;
  for (size_t h = 0; h < rig.hosts.size(); ++h) {
    const std::string tag = "h" + std::to_string(h);
    rig.resultFiles.push_back(rig.base + "-" + tag + ".txt");
    std::string command = "\"" + std::string(self) + "\" host " + rig.hosts[h].first + " \"" + rig.hosts[h].second +
                          "\" " + std::to_string(rig.count) + " \"" + rig.resultFiles.back() + "\" " + tag + " " +
                          readyName + " " + goName;
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      const UniqueHandle thread(pi.hThread);
      processes.emplace_back(pi.hProcess);
    }
  }
  int failures = 0;
  if (processes.size() != rig.hosts.size() || rig.hosts.empty()) {
    std::printf("FAIL: %zu of %zu host processes started\n", processes.size(), rig.hosts.size());
    ++failures;
  }
  for (size_t h = 0; h < processes.size(); ++h) WaitForSingleObject(ready.get(), kRunBoundMs);
  SetEvent(go.get());
  bool hung = false;
  for (const UniqueHandle& process : processes) {
    hung = hung || WaitForSingleObject(process.get(), kRunBoundMs) != WAIT_OBJECT_0;
  }
  for (const auto& [kind, module] : rig.hosts)
    if (rig.registered && kind == "navigator") RegisterModule(module, false);
  if (hung) {
    std::printf("FAIL: a host did not end within %lu s (deadlock?)\n", kRunBoundMs / 1000);
    ++failures;
  }
  return failures;
}

// Every expected text exactly once, nothing else, each sent under the lock;
// each host's count, flat usage and unload answer. The failures seen.
int CheckRun(const Rig& rig) {
  const auto& hosts = rig.hosts;
  const int count = rig.count;
  int failures = 0;
  std::map<std::string, int> expected;
  for (size_t h = 0; h < hosts.size(); ++h)
    for (int i = 0; i < count; ++i)
      ++expected[ExpectedText(hosts[h].first, HandOffUrl(hosts[h].first, "h" + std::to_string(h), i))];
  const std::vector<Received> received = ReceivedTexts(rig.log);
  int unexpected = 0, unlocked = 0;
  for (const Received& r : received) {
    auto it = expected.find(r.bytes);
    if (it == expected.end()) {
      if (++unexpected <= 3) std::printf("FAIL: unexpected text: %.120s\n", r.bytes.c_str());
    } else {
      --it->second;
    }
    const bool takesLock = r.bytes.find("\r\n") == std::string::npos;  // all but the component's texts
    if (takesLock && r.lock != "held") ++unlocked;
  }
  int missing = 0, repeated = 0;
  for (const auto& [text, left] : expected) {
    if (left > 0) missing += left;
    if (left < 0) repeated -= left;
  }
  if (unexpected || missing || repeated) {
    std::printf("FAIL: %zu texts received for %zu expected: %d missing, %d repeated, %d unexpected\n", received.size(),
                hosts.size() * count, missing, repeated, unexpected);
    ++failures;
  }
  if (unlocked) {
    std::printf("FAIL: %d texts arrived while the hand-off lock was free\n", unlocked);
    ++failures;
  }

  double longest = 0, elapsedMs = 0;
  for (size_t h = 0; h < hosts.size(); ++h) {
    auto result = ReadResult(rig.resultFiles[h]);
    DeleteFileA(rig.resultFiles[h].c_str());
    longest = std::max(longest, std::atof(result["longest_ms"].c_str()));
    elapsedMs = std::max(elapsedMs, std::atof(result["elapsed_ms"].c_str()));
    if (std::atoi(result["done"].c_str()) != count) {
      std::printf("FAIL: %s: %s of %d hand-offs reported taken\n", hosts[h].first.c_str(), result["done"].c_str(),
                  count);
      ++failures;
    }
    unsigned long earlyHandles = 0, lateHandles = 0;
    unsigned long long earlyBytes = 0, lateBytes = 0;
    std::sscanf(result["handles"].c_str(), "%lu %lu", &earlyHandles, &lateHandles);
    std::sscanf(result["private"].c_str(), "%llu %llu", &earlyBytes, &lateBytes);
    unsigned long long floorEarly = 0, floorLate = 0;
    std::sscanf(result["floor_private"].c_str(), "%llu %llu", &floorEarly, &floorLate);
    const unsigned long long floorGrowth = floorLate > floorEarly ? floorLate - floorEarly : 0;
    if (count >= 2 * kLeakWindow) {
      // Flat: no handle more, and less than a page of memory per hundred
      // hand-offs beyond what as many bare bindings add to the same process.
      const unsigned long long allowance = 4096ull * (count - kLeakWindow) / 100 + floorGrowth;
      std::printf("     %s: handles %lu -> %lu, threads %s, private bytes %llu -> %llu", hosts[h].first.c_str(),
                  earlyHandles, lateHandles, result["threads"].c_str(), earlyBytes, lateBytes);
      if (hosts[h].first == "watch")
        std::printf(" (%.0f bytes per call; bare bindings %.0f)",
                    double(lateBytes - earlyBytes) / (count - kLeakWindow),
                    double(floorGrowth) / (count - kLeakWindow));
      std::printf("\n");
      if (earlyHandles == 0 || earlyBytes == 0 || lateHandles > earlyHandles || lateBytes > earlyBytes + allowance) {
        std::printf("FAIL: %s leaks\n", hosts[h].first.c_str());
        ++failures;
      }
    }
    if (hosts[h].first != "plugin" && result["can_unload"] != "0") {
      std::printf("FAIL: %s: DllCanUnloadNow gave %s with every object released\n", hosts[h].first.c_str(),
                  result["can_unload"].c_str());
      ++failures;
    }
  }

  std::printf(
      "S1   %zu hosts x %d hand-offs, each text once, sent under the lock: %.1f hand-offs/s, longest wait %.1f ms\n",
      hosts.size(), count, elapsedMs > 0 ? 1000.0 * static_cast<double>(received.size()) / elapsedMs : 0.0, longest);
  return failures;
}

int Run(int argc, char** argv) {
  Rig rig;
  if (const int status = SetUpRig(argc, argv, rig)) return status;
  int failures = StartHosts(rig);
  failures += CheckRun(rig);
  std::printf(failures ? "stress: FAILED\n" : "stress: passed\n");
  return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "run") == 0) return Run(argc, argv);
  if (argc == 9 && std::strcmp(argv[1], "host") == 0) {
    const UniqueHandle ready(OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, argv[7]));
    const UniqueHandle go(OpenEventA(SYNCHRONIZE, FALSE, argv[8]));
    if (!ready || !go) return 3;
    return Host(argv[2], argv[3], std::atoi(argv[4]), argv[5], argv[6], ready.get(), go.get());
  }
  std::fprintf(stderr, "usage: zvstress run --standin=EXE [--handler=DLL] [--helper=DLL] [--plugin=DLL] [--count=N]\n");
  return 64;
}
