// One record per plug-in instance, hung on the instance's pdata.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "np_types.h"

namespace zv::npzorvex {

// Which status text the window paints: an index into `texts`.
enum StatusLine : int32_t {
  kStatusFailed = 0,       // string 1
  kStatusTransferred = 1,  // string 2
  kStatusPleaseWait = 2,   // string 3
};

inline constexpr size_t kTextBufferSize = 256;
inline constexpr size_t kTitleSize = 128;
inline constexpr char kWindowTitle[] = "Zorvane";

struct PluginInstance {
  NPP instance = nullptr;
  HINSTANCE module = nullptr;
  HWND window = nullptr;  // our child window; null until created and after destruction
  HWND parent = nullptr;  // the window the browser gave us
  uint32_t created = 0;
  char title[kTitleSize] = {};
  std::array<std::unique_ptr<char[]>, 3> texts;
  int32_t state = kStatusPleaseWait;
  HICON icon = nullptr;  // a shared resource icon: never destroyed

  const char* CurrentText() const;
};

// Allocates and fills a record: texts from string-table entries 1 to 3,
// icon 101. Null when memory runs out.
std::unique_ptr<PluginInstance> ConstructInstance(NPP instance, HINSTANCE module);

// The record stored in `instance->pdata`, or null.
PluginInstance* RecordOf(NPP instance);

}  // namespace zv::npzorvex
