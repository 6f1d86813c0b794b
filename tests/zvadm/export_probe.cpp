// A module whose exports the call-export job calls: standard-call functions
// without arguments that return a 32-bit value.
#include <windows.h>
#include <ole2.h>

#include "win/unique_handles.h"

// Each load appends the module's path to the file named by
// ZV_PROBE_LOAD_LOG (when set), so a test sees loads that should not happen.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char log[MAX_PATH], path[MAX_PATH + 2];
  const DWORD logLength = GetEnvironmentVariableA("ZV_PROBE_LOAD_LOG", log, MAX_PATH);
  if (logLength == 0 || logLength >= MAX_PATH) return TRUE;
  DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
  path[length++] = '\r';
  path[length++] = '\n';
  const zv::win::UniqueFile file(CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return TRUE;
  DWORD written = 0;
  WriteFile(file.get(), path, length, &written, nullptr);
  return TRUE;
}

extern "C" {
__declspec(dllexport) LONG WINAPI ReturnZero() { return 0; }
__declspec(dllexport) LONG WINAPI ReturnFive() { return 5; }
// 1 is the job's "no answer": the helper reports the last error instead.
__declspec(dllexport) LONG WINAPI ReturnOneAfterSettingAnError() {
  SetLastError(1234);
  return 1;
}
// 0 when the caller has set up OLE on this thread (as regsvr32 does before
// calling DllRegisterServer), else ERROR_NOT_READY.
__declspec(dllexport) LONG WINAPI ReturnZeroUnderOle() {
  const HRESULT hr = OleInitialize(nullptr);
  if (SUCCEEDED(hr)) OleUninitialize();
  return hr == S_FALSE ? 0 : ERROR_NOT_READY;
}
}
