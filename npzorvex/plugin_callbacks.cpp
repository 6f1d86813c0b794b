#include "plugin_callbacks.h"

#include <cstring>
#include <memory>

#include "handoff/handoff.h"
#include "module.h"
#include "plugin_instance.h"
#include "plugin_window.h"

namespace zv::npzorvex {
namespace {

using handoff::HandoffStatus;

// The stream's URL to the download manager; true when it was delivered.
bool HandOffStreamUrl(const char* url) {
  handoff::HandoffSteps steps;
  steps.buildText = [url] {
    handoff::CommandLines lines;
    lines.opera = true;
    return handoff::BuildCommandText(url, lines);
  };
  switch (handoff::HandOff(handoff::kOperaHandoff, steps).status) {
    case HandoffStatus::kSent:
      return true;  // whatever the download manager replied
    case HandoffStatus::kStartupTimedOut:
      // Started, but its window never came: nothing was sent.
    case HandoffStatus::kRefused:
      // The system kept the text from the download manager.
    case HandoffStatus::kLockNotObtained:
    case HandoffStatus::kNoProgram:
    case HandoffStatus::kStopped:
      break;
  }
  return false;
}

void ShowOutcome(PluginInstance& record, bool delivered) {
  record.state = delivered ? kStatusTransferred : kStatusFailed;
  if (record.window) InvalidateRect(record.window, nullptr, TRUE);
}

NPError NPP_New(NPMIMEType, NPP instance, uint16_t, int16_t, char*[], char*[], NPSavedData*) {
  if (!instance) return NPERR_INVALID_INSTANCE_ERROR;
  std::unique_ptr<PluginInstance> record = ConstructInstance(instance, ModuleHandle());
  if (!record) return NPERR_OUT_OF_MEMORY_ERROR;
  instance->pdata = record.release();
  return NPERR_NO_ERROR;
}

NPError NPP_Destroy(NPP instance, NPSavedData**) {
  if (!instance) return NPERR_INVALID_INSTANCE_ERROR;
  std::unique_ptr<PluginInstance> record(RecordOf(instance));
  instance->pdata = nullptr;
  if (record && record->window) {
    DestroyWindow(record->window);
    record->window = nullptr;
    record->created = 0;
  }
  return NPERR_NO_ERROR;
}

NPError NPP_SetWindow(NPP instance, NPWindow* npwindow) {
  if (!instance) return NPERR_INVALID_INSTANCE_ERROR;
  if (!npwindow) return NPERR_GENERIC_ERROR;
  PluginInstance* record = RecordOf(instance);
  if (!record) return NPERR_GENERIC_ERROR;
  if (!npwindow->window) return NPERR_NO_ERROR;
  if (!record->window) {
    record->parent = static_cast<HWND>(npwindow->window);
    lstrcpynA(record->title, kWindowTitle, sizeof(record->title));
    if (!CreatePluginWindow(*record, *npwindow)) {
      // The instance lives on: no later call may find the freed record.
      instance->pdata = nullptr;
      delete record;
      return NPERR_MODULE_LOAD_FAILED_ERROR;
    }
  }
  MoveWindow(record->window, npwindow->x, npwindow->y, static_cast<int>(npwindow->width),
             static_cast<int>(npwindow->height), TRUE);
  return NPERR_NO_ERROR;
}

NPError NPP_NewStream(NPP instance, NPMIMEType, NPStream* stream, NPBool, uint16_t*) {
  if (!instance) return NPERR_INVALID_INSTANCE_ERROR;
  PluginInstance* record = RecordOf(instance);
  if (!record) return NPERR_NO_ERROR;
  if (!stream || !stream->url) {
    ShowOutcome(*record, false);
    return NPERR_GENERIC_ERROR;
  }
  bool delivered = false;
  try {
    delivered = HandOffStreamUrl(stream->url);
  } catch (...) {
    // Out of memory while building the text: not delivered.
  }
  ShowOutcome(*record, delivered);
  return NPERR_NO_ERROR;
}

NPError NPP_DestroyStream(NPP, NPStream*, NPReason) { return NPERR_NO_ERROR; }

void NPP_StreamAsFile(NPP, NPStream*, const char*) {}

// The download manager fetches the file itself: the browser's copy of the
// data is refused from the first byte.
int32_t NPP_WriteReady(NPP, NPStream*) { return -1; }

int32_t NPP_Write(NPP, NPStream*, int32_t, int32_t, void*) { return -1; }

void NPP_Print(NPP, NPPrint*) {}

void NPP_URLNotify(NPP, const char*, NPReason, void*) {}

}  // namespace

void FillPluginFuncs(NPPluginFuncs& table) {
  // An entry left as the browser had it could be called: everything the
  // declared size covers starts empty, entries we do not provide included.
  constexpr size_t kFirstEntry = offsetof(NPPluginFuncs, version);
  if (table.size > kFirstEntry)
    std::memset(reinterpret_cast<unsigned char*>(&table) + kFirstEntry, 0, table.size - kFirstEntry);
  table.version = (NP_VERSION_MAJOR << 8) | NP_VERSION_MINOR;
  table.newp = NPP_New;
  table.destroy = NPP_Destroy;
  table.setwindow = NPP_SetWindow;
  table.newstream = NPP_NewStream;
  table.destroystream = NPP_DestroyStream;
  table.asfile = NPP_StreamAsFile;
  table.writeready = NPP_WriteReady;
  table.write = NPP_Write;
  table.print = NPP_Print;
}

void AddNotificationEntries(NPPluginFuncs& table) {
  table.urlnotify = NPP_URLNotify;
  table.javaClass = nullptr;
}

}  // namespace zv::npzorvex
