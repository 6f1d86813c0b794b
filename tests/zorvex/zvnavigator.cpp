// A stand-in Navigator on the command line: offers each URL to the catcher
// registered as "Zorvex.NNCatcher.1" through IDispatch by name and prints
// the answer.
//
//   zvnavigator.exe URL ...
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "standin_navigator.h"

int main(int argc, char** argv) {
  // The URLs as Navigator has them: wide, from the command line itself.
  int wideCount = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int status = 0;
  for (int i = 1; i < argc && i < wideCount; ++i) {
    const std::wstring url = wide[i];
    const std::wstring scheme = url.substr(0, url.find(L':'));
    const zv::test::NavigatorCall call = zv::test::OfferUrl(L"Zorvex.NNCatcher.1", scheme, url);
    if (FAILED(call.created) || FAILED(call.named) || FAILED(call.invoked)) {
      std::printf("%-45s call failed (create 0x%08lX, name 0x%08lX, invoke 0x%08lX)\n", argv[i],
                  static_cast<unsigned long>(call.created), static_cast<unsigned long>(call.named),
                  static_cast<unsigned long>(call.invoked));
      status = 1;
      continue;
    }
    std::printf("%-45s Initialize -> pVal %d\n", argv[i], call.value);
  }
  CoUninitialize();
  LocalFree(wide);
  return status;
}
