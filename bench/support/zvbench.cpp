#include "zvbench.h"

#include <windows.h>
#include <urlmon.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "handoff/handoff.h"

namespace zvbench {
namespace {

void Mark(const char* kind, const char* label) {
  const std::string name = std::string("ZVBENCH-") + kind + "-" + label;
  HANDLE h = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());  // never exists
  if (h) CloseHandle(h);
}

class PlainCallback : public IBindStatusCallback {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback) ? this : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return S_OK; }
  STDMETHODIMP GetPriority(LONG*) override { return S_OK; }
  STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
  STDMETHODIMP OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
  STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
  STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
  STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }
};

}  // namespace

double MedianMicros(int samples, int iterations, const std::function<void()>& fn) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  fn();  // warm-up
  std::vector<double> times;
  for (int s = 0; s < samples; ++s) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < iterations; ++i) fn();
    QueryPerformanceCounter(&end);
    times.push_back(1e6 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart) /
                    iterations);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void MarkBegin(const char* label) { Mark("BEGIN", label); }
void MarkEnd(const char* label) { Mark("END", label); }

void CountedSection(const char* label, const std::function<void()>& fn) {
  MarkBegin(label);
  fn();
  MarkEnd(label);
}

void PrintTimes(const char* id, const char* what, double oursMicros, double floorMicros) {
  std::printf("%-4s %-52s ours %9.1f us  floor %9.1f us  ratio %5.2f\n", id, what, oursMicros, floorMicros,
              floorMicros > 0 ? oursMicros / floorMicros : 0.0);
  std::fflush(stdout);
}

void ResetManagerSettings(std::initializer_list<std::pair<const char*, const char*>> values) {
  constexpr const char* kKey = zv::handoff::kSettingsKey;
  RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  for (const auto& [name, value] : values)
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(std::strlen(value) + 1));
  RegCloseKey(key);
}

HANDLE StartStandIn(const std::string& program, const std::string& caption, const std::string& options) {
  std::string commandLine = "\"" + program + "\" \"--caption=" + caption + "\" " + options;
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return nullptr;
  CloseHandle(pi.hThread);
  for (int i = 0; i < 500 && !FindWindowA(zv::handoff::kManagerClass, caption.c_str()); ++i) Sleep(10);
  return pi.hProcess;
}

void DecisionFloor(std::initializer_list<const char*> values) {
  BYTE state[256];
  GetKeyboardState(state);
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, zv::handoff::kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  for (const char* name : values) {
    char buffer[256];
    DWORD size = sizeof(buffer);
    RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
  }
  RegCloseKey(key);
}

void LookupAndSend(const char* caption, const std::string& text) {
  HWND window = FindWindowA(zv::handoff::kManagerClass, caption);
  // Whatever sends a download's URL and cookie must know the window is not
  // a sandboxed process's: its process's integrity level, read once.
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId)) {
    HANDLE token = nullptr;
    if (OpenProcessToken(process, TOKEN_QUERY, &token)) {
      BYTE label[64];
      DWORD size = 0;
      GetTokenInformation(token, TokenIntegrityLevel, label, sizeof(label), &size);
      CloseHandle(token);
    }
    CloseHandle(process);
  }
  COPYDATASTRUCT data{0, static_cast<DWORD>(text.size()), const_cast<char*>(text.c_str())};
  DWORD_PTR reply = 0;
  SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 120000, &reply);
}

void HandoffFloor(const std::function<void()>& lookupAndSend) {
  HANDLE lock = CreateMutexA(nullptr, FALSE, zv::handoff::kLockName);
  WaitForSingleObject(lock, INFINITE);
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, zv::handoff::kSettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    for (const char* name : {"ZVCaption", "AutoAdd", "AutoAddMode"}) {
      char buffer[256];
      DWORD size = sizeof(buffer);
      RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    }
    RegCloseKey(key);
  }
  lookupAndSend();
  ReleaseMutex(lock);
  CloseHandle(lock);
}

void BareBinding(const wchar_t* url) {
  static PlainCallback callback;
  IMoniker* moniker = nullptr;
  IBindCtx* context = nullptr;
  if (SUCCEEDED(CreateURLMonikerEx(nullptr, url, &moniker, URL_MK_UNIFORM)) && SUCCEEDED(CreateBindCtx(0, &context)) &&
      SUCCEEDED(RegisterBindStatusCallback(context, &callback, nullptr, 0))) {
    IUnknown* object = nullptr;
    moniker->BindToObject(context, nullptr, IID_IStream, reinterpret_cast<void**>(&object));
    if (object) object->Release();
  }
  if (context) context->Release();
  if (moniker) moniker->Release();
}

bool CreateFromModule(const char* modulePath, REFCLSID clsid, REFIID iid, void** object) {
  *object = nullptr;
  HMODULE module = LoadLibraryA(modulePath);  // stays loaded for the program's life
  if (!module) return false;
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  IClassFactory* factory = nullptr;
  if (!get || FAILED(get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return false;
  const HRESULT hr = factory->CreateInstance(nullptr, iid, object);
  factory->Release();
  return SUCCEEDED(hr);
}

const char* Option(int argc, char** argv, const char* nameWithEquals) {
  const size_t n = std::strlen(nameWithEquals);
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], nameWithEquals, n) == 0) return argv[i] + n;
  return nullptr;
}

bool CountMode(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--count") == 0) return true;
  return false;
}

}  // namespace zvbench
