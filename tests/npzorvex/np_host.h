// A stand-in NPAPI browser: finds a plug-in's MIME types in its version
// resource, loads it, exchanges the function tables, creates instances in
// a real parent window, opens streams, and reads back what the plug-in's
// window shows.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "np_types.h"
#include "win/unique_handles.h"

namespace zv::test::np {

// The status lines as the user reads them.
inline constexpr char kPleaseWait[] = "Please wait...";
inline constexpr char kTransferred[] = "Download transfered to Zorvane. Press button \"Back\" and keep browsing.";
inline constexpr char kFailed[] = "Zorvane could no take over the download.";

inline constexpr char kPluginClass[] = "ZorvaneOperaPlugin";

struct MimePair {
  std::string type;
  std::string extensions;
  bool operator==(const MimePair& o) const { return type == o.type && extensions == o.extensions; }
};

// A value of the "040904e4" string block, read as a browser reads it.
std::optional<std::string> VersionString(const std::string& dllPath, const char* name);
// "MIMEType" and "FileExtents" paired by position; absent when either is
// missing or the counts differ.
std::optional<std::vector<MimePair>> ReadMimeTypes(const std::string& dllPath);

// The browser's table, filled with the host's own functions.
NPNetscapeFuncs BrowserFuncs(uint16_t version);
// How often the plug-in called back into the browser's table.
int BrowserCalls();

// One loaded plug-in library.
class Library {
 public:
  explicit Library(const std::string& dllPath);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  HMODULE module() const { return module_.get(); }
  DWORD loadError() const { return loadError_; }

  NPError GetEntryPoints(NPPluginFuncs* table);
  NPError Initialize(NPNetscapeFuncs* table);
  NPError Shutdown();

  // NP_GetEntryPoints with a zeroed full-size table, then NP_Initialize
  // with a browser table of `browserVersion`; both must succeed.
  bool Start(uint16_t browserVersion = 9);
  const NPPluginFuncs& funcs() const { return funcs_; }

 private:
  zv::win::UniqueLibrary module_;
  DWORD loadError_ = 0;
  NPPluginFuncs funcs_{};
  NPNetscapeFuncs browser_{};
  bool initialized_ = false;
};

// A top-level browser window that hosts plug-in windows.
class BrowserWindow {
 public:
  BrowserWindow();
  ~BrowserWindow();
  BrowserWindow(const BrowserWindow&) = delete;
  BrowserWindow& operator=(const BrowserWindow&) = delete;
  HWND hwnd() const { return hwnd_; }
  // The plug-in's child window in it, or null.
  HWND PluginWindow() const;

 private:
  HWND hwnd_ = nullptr;
};

// One plug-in instance, destroyed with the object unless done before.
class Instance {
 public:
  Instance(Library& library, const char* mimeType = "application/zip", uint16_t mode = NP_EMBED);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  NPError newResult() const { return newResult_; }
  NPP npp() { return &npp_; }

  NPError SetWindow(HWND window, int x = 0, int y = 0, int width = 400, int height = 80);
  // NPP_NewStream with a stream of `url`; the stream type the plug-in left
  // in the out-parameter is kept in stype().
  NPError NewStream(const char* url, const char* mimeType = "application/zip");
  int32_t WriteReady();
  int32_t Write(const std::string& data);
  NPError DestroyStream();
  NPError Destroy();
  uint16_t stype() const { return stype_; }

 private:
  const NPPluginFuncs& funcs_;
  NPP_t npp_{};
  NPStream stream_{};
  std::string mime_;
  NPError newResult_ = NPERR_GENERIC_ERROR;
  bool destroyed_ = false;
  uint16_t stype_ = 0;
};

// Dispatches every message waiting for this thread, paints included.
void PumpMessages();

// What the window shows, read back from its pixels after letting it paint:
// the status line whose rendering (system font, default colours, at 60,28,
// with icon 101 of `plugin` at 20,20) matches it exactly, or
// "(icon only)", "(blank)" or "(unrecognised)".
std::string ShownStatus(HWND pluginWindow, HMODULE plugin);

// The window's place in its parent's client area.
RECT PlaceInParent(HWND window);

}  // namespace zv::test::np
