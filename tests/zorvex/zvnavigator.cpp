// A stand-in Navigator on the command line: offers each URL to the catcher
// registered as "Zorvex.NNCatcher.1" through IDispatch by name and prints
// the answer.
//
//   zvnavigator.exe URL ...
#include <windows.h>

#include <cstdio>
#include <string>

#include "standin_navigator.h"

namespace {

std::wstring Wide(const char* text) {
  const int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), size);
  wide.resize(static_cast<size_t>(size) - 1);
  return wide;
}

}  // namespace

int main(int argc, char** argv) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    const std::wstring url = Wide(argv[i]);
    const std::wstring scheme = url.substr(0, url.find(L':'));
    const zvtest::NavigatorCall call = zvtest::OfferUrl(L"Zorvex.NNCatcher.1", scheme, url);
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
  return status;
}
