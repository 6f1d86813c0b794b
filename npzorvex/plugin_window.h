// The plug-in's child window: an icon and one status line.
#pragma once

#include "np_types.h"
#include "plugin_instance.h"

namespace zv::npzorvex {

inline constexpr char kWindowClass[] = "ZorvaneOperaPlugin";

bool RegisterPluginWindowClass(HINSTANCE module);
void UnregisterPluginWindowClass(HINSTANCE module);

// Creates the child window of `record.parent` at the place `npwindow`
// gives and ties it to the record. Null when the window cannot be made.
HWND CreatePluginWindow(PluginInstance& record, const NPWindow& npwindow);

}  // namespace zv::npzorvex
