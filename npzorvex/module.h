// The values kept once per loaded library.
#pragma once

#include <windows.h>

namespace zv::npzorvex {

// The library's own instance handle, stored at load: the window class, the
// string table and the icon come from it.
HINSTANCE ModuleHandle();

}  // namespace zv::npzorvex
