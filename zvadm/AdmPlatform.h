// The platform family, as GetVersionExA reported it when the helper started.
// Several jobs pick their mechanism by it.
#pragma once

#include <windows.h>

#include "AdmDispatch.h"

namespace zv::adm {

inline bool IsNtFamily(const THelperState& state) { return state.platformId == VER_PLATFORM_WIN32_NT; }
inline bool IsWin9xFamily(const THelperState& state) { return state.platformId == VER_PLATFORM_WIN32_WINDOWS; }

}  // namespace zv::adm
