// The library's entry points: load-time host check and the three exports.
#include <mbstring.h>

#include <string>

#include "module.h"
#include "np_types.h"
#include "plugin_callbacks.h"
#include "plugin_window.h"
#include "win/paths.h"
#include "win/text.h"

namespace zv::npzorvex {
namespace {

HINSTANCE g_module = nullptr;
NPNetscapeFuncs* g_browserFuncs = nullptr;  // from NP_Initialize until NP_Shutdown
NPPluginFuncs* g_pluginFuncs = nullptr;     // from NP_GetEntryPoints

constexpr unsigned char kRefusedHost[] = "CHROME.EXE";
constexpr size_t kRefusedHostLength = sizeof(kRefusedHost) - 1;

// The plug-in stays out of the browser whose executable is CHROME.EXE.
// Only the first occurrence of the name counts, and it must end the path.
bool IsRefusedHost() {
  std::string path = win::ToAnsi(win::ModulePath(nullptr), win::Unholdable::kUnderscore);
  auto* bytes = reinterpret_cast<unsigned char*>(path.data());
  _mbsupr(bytes);
  const unsigned char* found = _mbsstr(bytes, kRefusedHost);
  return found && _mbslen(found) == kRefusedHostLength;
}

bool IsCompatibleBrowser(const NPNetscapeFuncs& browser) { return (browser.version >> 8) <= NP_VERSION_MAJOR; }

// Both tables are needed, and browsers call the two functions in either
// order: whichever comes second installs the entries.
void AddOptionalEntries() {
  if (!g_pluginFuncs || !g_browserFuncs || !IsCompatibleBrowser(*g_browserFuncs)) return;
  if ((g_browserFuncs->version & 0xFF) >= NPVERS_HAS_NOTIFICATION) AddNotificationEntries(*g_pluginFuncs);
}

}  // namespace

HINSTANCE ModuleHandle() { return g_module; }

}  // namespace zv::npzorvex

using namespace zv::npzorvex;

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH && IsRefusedHost()) return FALSE;
  g_module = module;
  return TRUE;
}

extern "C" NPError WINAPI NP_GetEntryPoints(NPPluginFuncs* pluginFuncs) {
  // A table shorter than what is written would be overrun.
  if (!pluginFuncs || pluginFuncs->size < kWrittenTableSize) return NPERR_INVALID_FUNCTABLE_ERROR;
  FillPluginFuncs(*pluginFuncs);
  g_pluginFuncs = pluginFuncs;
  AddOptionalEntries();
  return NPERR_NO_ERROR;
}

extern "C" NPError WINAPI NP_Initialize(NPNetscapeFuncs* browserFuncs) {
  if (!browserFuncs) return NPERR_INVALID_FUNCTABLE_ERROR;
  g_browserFuncs = browserFuncs;
  if (!IsCompatibleBrowser(*browserFuncs)) return NPERR_INCOMPATIBLE_VERSION_ERROR;
  AddOptionalEntries();
  return RegisterPluginWindowClass(g_module) ? NPERR_NO_ERROR : NPERR_GENERIC_ERROR;
}

extern "C" NPError WINAPI NP_Shutdown(void) {
  UnregisterPluginWindowClass(g_module);
  g_browserFuncs = nullptr;
  // The browser may free its tables now; a later NP_Initialize must not
  // write into the old one.
  g_pluginFuncs = nullptr;
  return NPERR_NO_ERROR;
}
