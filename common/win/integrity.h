// Integrity levels of processes (the RID of a token's mandatory label:
// 0x1000 low, 0x2000 medium, 0x3000 high).
#pragma once

#include <windows.h>

#include <optional>

namespace zv::win {

// The level of process `processId`; absent when its token cannot be read
// (a process of higher integrity, or a system without integrity levels).
std::optional<DWORD> ProcessIntegrityLevel(DWORD processId);

// The calling process's level, read once.
std::optional<DWORD> OwnIntegrityLevel();

// Whether a process of `level` runs below `own`. An unknown level is not
// lower: a process below ours can always be read by us.
inline bool RunsBelow(std::optional<DWORD> level, std::optional<DWORD> own) { return level && own && *level < *own; }

}  // namespace zv::win
