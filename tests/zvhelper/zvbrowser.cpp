// A stand-in browser window on the command line: loads the registered
// browser helper object as Internet Explorer does, sites it, and fires one
// BeforeNavigate2 per URL, printing what became of the Cancel flag.
//
//   zvbrowser.exe [--location=URL] [--post=BODY] URL ...
// --post applies to the URL that follows it.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "standin_browser.h"

namespace {

const CLSID kCatcherClass = {0xB930BA63, 0x9E5A, 0x11D3, {0xA2, 0x88, 0x00, 0x00, 0xE8, 0x0E, 0x2E, 0xDE}};

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
  zv::com::ComPtr<IObjectWithSite> helper;
  HRESULT hr = CoCreateInstance(kCatcherClass, nullptr, CLSCTX_INPROC_SERVER, IID_IObjectWithSite, helper.put_void());
  if (FAILED(hr)) {
    std::printf("the browser helper object is not registered (0x%08lX)\n", static_cast<unsigned long>(hr));
    return 1;
  }
  int status = 0;
  {
    zv::test::StandInBrowser browser;
    helper->SetSite(browser.site());
    std::optional<std::string> post;
    for (int i = 1; i < argc; ++i) {
      if (std::strncmp(argv[i], "--location=", 11) == 0) {
        browser.SetLocation(Wide(argv[i] + 11));
        continue;
      }
      if (std::strncmp(argv[i], "--post=", 7) == 0) {
        post = std::string(argv[i] + 7);
        continue;
      }
      zv::test::Navigation navigation;
      navigation.url = Wide(argv[i]);
      navigation.postData = post;
      post.reset();
      const zv::test::NavigationResult result = browser.BeforeNavigate2(navigation);
      if (!result.fired) {
        std::printf("  no event sink connected\n");
        status = 1;
        break;
      }
      std::printf("  %-52s %s\n", argv[i],
                  result.cancel ? "cancelled: the download manager took it" : "left to the browser");
    }
  }
  helper.reset();
  CoUninitialize();
  return status;
}
