// A module whose exports the call-export job calls: standard-call functions
// without arguments that return a 32-bit value.
#include <windows.h>

extern "C" {
__declspec(dllexport) LONG WINAPI ReturnZero() { return 0; }
__declspec(dllexport) LONG WINAPI ReturnFive() { return 5; }
// 1 is the job's "no answer": the helper reports the last error instead.
__declspec(dllexport) LONG WINAPI ReturnOneAfterSettingAnError() {
  SetLastError(1234);
  return 1;
}
}
