// npzhost: the stand-in NPAPI browser as a program, for the load check
// under other executable names and for the demo.
//
//   npzhost load DLL             exit 0 when the library loads, 1 when refused
//   npzhost types DLL            prints the MIME types and extensions it registers
//   npzhost stream DLL MIME URL  opens one stream of MIME in a new instance and
//                                prints what the plug-in window shows
#include <cstdio>
#include <cstring>

#include "np_host.h"

namespace {

int Load(const char* dll) {
  zv::test::np::Library library(dll);
  if (!library.module()) {
    std::printf("refused (error %lu)\n", library.loadError());
    return 1;
  }
  std::printf("loaded\n");
  return 0;
}

int Types(const char* dll) {
  const auto pairs = zv::test::np::ReadMimeTypes(dll);
  if (!pairs) {
    std::printf("no MIME types registered\n");
    return 1;
  }
  for (const auto& pair : *pairs) std::printf("  %-28s %s\n", pair.type.c_str(), pair.extensions.c_str());
  std::printf("  (%u types)\n", static_cast<unsigned>(pairs->size()));
  return 0;
}

int Stream(const char* dll, const char* mime, const char* url) {
  zv::test::np::Library library(dll);
  if (!library.Start()) {
    std::printf("the plug-in did not start\n");
    return 1;
  }
  zv::test::np::BrowserWindow browser;
  zv::test::np::Instance instance(library, mime);
  if (instance.newResult() != NPERR_NO_ERROR || instance.SetWindow(browser.hwnd(), 10, 10, 560, 80)) {
    std::printf("no plug-in window\n");
    return 1;
  }
  HWND window = browser.PluginWindow();
  std::printf("  window shows: %s\n", zv::test::np::ShownStatus(window, library.module()).c_str());
  const NPError result = instance.NewStream(url, mime);
  std::printf("  NPP_NewStream(%s) = %d; NPP_WriteReady = %ld\n", mime, result,
              static_cast<long>(instance.WriteReady()));
  std::printf("  window shows: %s\n", zv::test::np::ShownStatus(window, library.module()).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "load") == 0) return Load(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "types") == 0) return Types(argv[2]);
  if (argc == 5 && std::strcmp(argv[1], "stream") == 0) return Stream(argv[2], argv[3], argv[4]);
  std::fprintf(stderr, "usage: npzhost load|types DLL, or npzhost stream DLL MIME URL\n");
  return 64;
}
