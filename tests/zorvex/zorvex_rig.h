// Shared by the Zorvex tests: the module's path and identities, and JScript
// run by Wine's cscript as a context-menu page runs it.
#pragma once

#include <windows.h>

#include <string>

#include "Zorvex.h"
#include "com/com_ptr.h"
#include "zvtest.h"

namespace zv::test {

inline const std::string kZorvexModule = WinPath(ZV_ZORVEX_MODULE);
inline constexpr char kCatcherClsid[] = "{B4B3E98F-B797-11D2-A832-006052058FA5}";
inline constexpr char kContextMenuClsid[] = "{B4B3E991-B797-11D2-A832-006052058FA5}";
inline constexpr char kQuestion[] = "Integration with MS IE context menu is disabled. Do you want to enable it?";

// Runs `script` (JScript) with cscript //nologo from a scratch file.
ProgramResult RunJScript(const std::string& script);

}  // namespace zv::test
