// The Netscape plug-in API as a Windows plug-in library sees it: the types,
// tables and codes shared with the browser. Declared here from the published
// API reference; the layouts are the browser's and must not change (checked
// at the end of this file for 32- and 64-bit builds).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

extern "C" {

using NPError = int16_t;
using NPReason = int16_t;
using NPBool = unsigned char;
using NPMIMEType = char*;

inline constexpr NPError NPERR_NO_ERROR = 0;
inline constexpr NPError NPERR_GENERIC_ERROR = 1;
inline constexpr NPError NPERR_INVALID_INSTANCE_ERROR = 2;
inline constexpr NPError NPERR_INVALID_FUNCTABLE_ERROR = 3;
inline constexpr NPError NPERR_MODULE_LOAD_FAILED_ERROR = 4;
inline constexpr NPError NPERR_OUT_OF_MEMORY_ERROR = 5;
inline constexpr NPError NPERR_INVALID_PLUGIN_ERROR = 6;
inline constexpr NPError NPERR_INVALID_PLUGIN_DIR_ERROR = 7;
inline constexpr NPError NPERR_INCOMPATIBLE_VERSION_ERROR = 8;
inline constexpr NPError NPERR_INVALID_PARAM = 9;
inline constexpr NPError NPERR_INVALID_URL = 10;
inline constexpr NPError NPERR_FILE_NOT_FOUND = 11;
inline constexpr NPError NPERR_NO_DATA = 12;
inline constexpr NPError NPERR_STREAM_NOT_SEEKABLE = 13;

inline constexpr NPReason NPRES_DONE = 0;
inline constexpr NPReason NPRES_NETWORK_ERR = 1;
inline constexpr NPReason NPRES_USER_BREAK = 2;

// Instance modes passed to NPP_New.
inline constexpr uint16_t NP_EMBED = 1;
inline constexpr uint16_t NP_FULL = 2;

// Stream types (the out-parameter of NPP_NewStream).
inline constexpr uint16_t NP_NORMAL = 1;
inline constexpr uint16_t NP_SEEK = 2;
inline constexpr uint16_t NP_ASFILE = 3;
inline constexpr uint16_t NP_ASFILEONLY = 4;

// Table versions: major in the high byte, minor in the low byte.
inline constexpr uint16_t NP_VERSION_MAJOR = 0;
inline constexpr uint16_t NP_VERSION_MINOR = 9;
inline constexpr uint16_t NPVERS_HAS_NOTIFICATION = 9;  // urlnotify and javaClass

struct NPP_t {
  void* pdata;  // the plug-in's own per-instance record
  void* ndata;  // the browser's
};
using NPP = NPP_t*;

struct NPSavedData {
  int32_t len;
  void* buf;
};

struct NPRect {
  uint16_t top;
  uint16_t left;
  uint16_t bottom;
  uint16_t right;
};

enum NPWindowType { NPWindowTypeWindow = 1, NPWindowTypeDrawable = 2 };

struct NPWindow {
  void* window;  // an HWND on Windows
  int32_t x;
  int32_t y;
  uint32_t width;
  uint32_t height;
  NPRect clipRect;
  NPWindowType type;
};

struct NPStream {
  void* pdata;
  void* ndata;
  const char* url;
  uint32_t end;
  uint32_t lastmodified;
  void* notifyData;
  const char* headers;  // only from browsers of minor version 17 on
};

struct NPByteRange {
  int32_t offset;
  uint32_t length;
  NPByteRange* next;
};

struct NPFullPrint {
  NPBool pluginPrinted;
  NPBool printOne;
  void* platformPrint;
};

struct NPEmbedPrint {
  NPWindow window;
  void* platformPrint;
};

struct NPPrint {
  uint16_t mode;
  union {
    NPFullPrint fullPrint;
    NPEmbedPrint embedPrint;
  } print;
};

using NPPVariable = int;
using NPNVariable = int;
using NPRegion = void*;

// Plug-in side: cdecl on Windows (NP_LOADDS is empty there).
typedef NPError (*NPP_NewProcPtr)(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc, char* argn[],
                                  char* argv[], NPSavedData* saved);
typedef NPError (*NPP_DestroyProcPtr)(NPP instance, NPSavedData** save);
typedef NPError (*NPP_SetWindowProcPtr)(NPP instance, NPWindow* window);
typedef NPError (*NPP_NewStreamProcPtr)(NPP instance, NPMIMEType type, NPStream* stream, NPBool seekable,
                                        uint16_t* stype);
typedef NPError (*NPP_DestroyStreamProcPtr)(NPP instance, NPStream* stream, NPReason reason);
typedef void (*NPP_StreamAsFileProcPtr)(NPP instance, NPStream* stream, const char* fname);
typedef int32_t (*NPP_WriteReadyProcPtr)(NPP instance, NPStream* stream);
typedef int32_t (*NPP_WriteProcPtr)(NPP instance, NPStream* stream, int32_t offset, int32_t len, void* buffer);
typedef void (*NPP_PrintProcPtr)(NPP instance, NPPrint* platformPrint);
typedef int16_t (*NPP_HandleEventProcPtr)(NPP instance, void* event);
typedef void (*NPP_URLNotifyProcPtr)(NPP instance, const char* url, NPReason reason, void* notifyData);
typedef NPError (*NPP_GetValueProcPtr)(NPP instance, NPPVariable variable, void* value);
typedef NPError (*NPP_SetValueProcPtr)(NPP instance, NPNVariable variable, void* value);
typedef NPBool (*NPP_GotFocusPtr)(NPP instance, int direction);
typedef void (*NPP_LostFocusPtr)(NPP instance);
typedef void (*NPP_URLRedirectNotifyPtr)(NPP instance, const char* url, int32_t status, void* notifyData);
typedef NPError (*NPP_ClearSiteDataPtr)(const char* site, uint64_t flags, uint64_t maxAge);
typedef char** (*NPP_GetSitesWithDataPtr)(void);
typedef void (*NPP_DidCompositePtr)(NPP instance);

// The plug-in's table. Browsers of each generation declare a longer prefix
// of it in `size`; the fields after javaClass came with later browsers.
struct NPPluginFuncs {
  uint16_t size;
  uint16_t version;
  NPP_NewProcPtr newp;
  NPP_DestroyProcPtr destroy;
  NPP_SetWindowProcPtr setwindow;
  NPP_NewStreamProcPtr newstream;
  NPP_DestroyStreamProcPtr destroystream;
  NPP_StreamAsFileProcPtr asfile;
  NPP_WriteReadyProcPtr writeready;
  NPP_WriteProcPtr write;
  NPP_PrintProcPtr print;
  NPP_HandleEventProcPtr event;
  NPP_URLNotifyProcPtr urlnotify;
  void* javaClass;
  NPP_GetValueProcPtr getvalue;
  NPP_SetValueProcPtr setvalue;
  NPP_GotFocusPtr gotfocus;
  NPP_LostFocusPtr lostfocus;
  NPP_URLRedirectNotifyPtr urlredirectnotify;
  NPP_ClearSiteDataPtr clearsitedata;
  NPP_GetSitesWithDataPtr getsiteswithdata;
  NPP_DidCompositePtr didComposite;
};

// Browser side.
typedef NPError (*NPN_GetURLProcPtr)(NPP instance, const char* url, const char* window);
typedef NPError (*NPN_PostURLProcPtr)(NPP instance, const char* url, const char* window, uint32_t len, const char* buf,
                                      NPBool file);
typedef NPError (*NPN_RequestReadProcPtr)(NPStream* stream, NPByteRange* rangeList);
typedef NPError (*NPN_NewStreamProcPtr)(NPP instance, NPMIMEType type, const char* window, NPStream** stream);
typedef int32_t (*NPN_WriteProcPtr)(NPP instance, NPStream* stream, int32_t len, void* buffer);
typedef NPError (*NPN_DestroyStreamProcPtr)(NPP instance, NPStream* stream, NPReason reason);
typedef void (*NPN_StatusProcPtr)(NPP instance, const char* message);
typedef const char* (*NPN_UserAgentProcPtr)(NPP instance);
typedef void* (*NPN_MemAllocProcPtr)(uint32_t size);
typedef void (*NPN_MemFreeProcPtr)(void* ptr);
typedef uint32_t (*NPN_MemFlushProcPtr)(uint32_t size);
typedef void (*NPN_ReloadPluginsProcPtr)(NPBool reloadPages);
typedef void* (*NPN_GetJavaEnvProcPtr)(void);
typedef void* (*NPN_GetJavaPeerProcPtr)(NPP instance);
typedef NPError (*NPN_GetURLNotifyProcPtr)(NPP instance, const char* url, const char* window, void* notifyData);
typedef NPError (*NPN_PostURLNotifyProcPtr)(NPP instance, const char* url, const char* window, uint32_t len,
                                            const char* buf, NPBool file, void* notifyData);
typedef NPError (*NPN_GetValueProcPtr)(NPP instance, NPNVariable variable, void* value);
typedef NPError (*NPN_SetValueProcPtr)(NPP instance, NPPVariable variable, void* value);
typedef void (*NPN_InvalidateRectProcPtr)(NPP instance, NPRect* rect);
typedef void (*NPN_InvalidateRegionProcPtr)(NPP instance, NPRegion region);
typedef void (*NPN_ForceRedrawProcPtr)(NPP instance);

// The browser's table as far as this plug-in's generation knows it; newer
// browsers append entries (scripting and more) that it never reads.
struct NPNetscapeFuncs {
  uint16_t size;
  uint16_t version;
  NPN_GetURLProcPtr geturl;
  NPN_PostURLProcPtr posturl;
  NPN_RequestReadProcPtr requestread;
  NPN_NewStreamProcPtr newstream;
  NPN_WriteProcPtr write;
  NPN_DestroyStreamProcPtr destroystream;
  NPN_StatusProcPtr status;
  NPN_UserAgentProcPtr uagent;
  NPN_MemAllocProcPtr memalloc;
  NPN_MemFreeProcPtr memfree;
  NPN_MemFlushProcPtr memflush;
  NPN_ReloadPluginsProcPtr reloadplugins;
  NPN_GetJavaEnvProcPtr getJavaEnv;
  NPN_GetJavaPeerProcPtr getJavaPeer;
  NPN_GetURLNotifyProcPtr geturlnotify;
  NPN_PostURLNotifyProcPtr posturlnotify;
  NPN_GetValueProcPtr getvalue;
  NPN_SetValueProcPtr setvalue;
  NPN_InvalidateRectProcPtr invalidaterect;
  NPN_InvalidateRegionProcPtr invalidateregion;
  NPN_ForceRedrawProcPtr forceredraw;
};

// The library's exports: WINAPI on Windows, exported undecorated.
NPError WINAPI NP_GetEntryPoints(NPPluginFuncs* pluginFuncs);
NPError WINAPI NP_Initialize(NPNetscapeFuncs* browserFuncs);
NPError WINAPI NP_Shutdown(void);

}  // extern "C"

// The browser's layouts, 32- and 64-bit: two 16-bit fields, then pointers.
namespace zv::npapi_layout {
constexpr size_t kPtr = sizeof(void*);
constexpr size_t kTableHead = kPtr == 8 ? 8 : 4;
static_assert(sizeof(NPP_t) == 2 * kPtr);
static_assert(offsetof(NPPluginFuncs, newp) == kTableHead);
static_assert(offsetof(NPPluginFuncs, javaClass) == kTableHead + 11 * kPtr);
static_assert(sizeof(NPPluginFuncs) == kTableHead + 20 * kPtr);
static_assert(offsetof(NPNetscapeFuncs, geturl) == kTableHead);
static_assert(sizeof(NPNetscapeFuncs) == kTableHead + 21 * kPtr);
static_assert(offsetof(NPWindow, x) == kPtr);
static_assert(offsetof(NPWindow, clipRect) == kPtr + 16);
static_assert(sizeof(NPWindow) == (kPtr == 8 ? 40 : 32));
static_assert(offsetof(NPStream, url) == 2 * kPtr);
static_assert(offsetof(NPStream, notifyData) == 3 * kPtr + 8);
static_assert(sizeof(NPStream) == (kPtr == 8 ? 48 : 28));
static_assert(sizeof(NPSavedData) == 2 * kPtr);
}  // namespace zv::npapi_layout
