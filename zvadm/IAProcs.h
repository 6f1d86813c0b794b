// Integrity levels: the helper's own, and starting a program at another.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zvadm {

enum TIntegrityLevel : uint8_t {
  ilUnknown = 0,  // also: the system has no integrity levels
  ilUntrusted = 1,
  ilLow = 2,
  ilMedium = 3,
  ilHigh = 4,
  ilSystem = 5,
};

// The current process's level; 0 when `majorVersion` is 5 or lower (no
// token is touched then) or anything fails.
uint8_t QueryIntegrityLevel(DWORD majorVersion);

// Starts `fileName` (no path search) with a copy of our token lowered to
// `level` (codes other than 1, 2, 4, 5 mean medium). Returns the process
// handle, owned by the caller, or nullptr with nothing started. `owner` is
// accepted for the callers' sake and not used.
HANDLE LaunchAtIntegrityLevel(HWND owner, const char* fileName, uint8_t level, const char* commandLine);

// Starts `fileName` (a full path; no search) as the user at the desktop:
// with the token of the desktop's shell, or else with the linked token of
// a full elevation. Lowering the label of an elevated token instead would
// leave the Administrators group and the admin privileges enabled.
// Returns the process handle (owned by the caller), or nullptr with
// nothing started when neither token is to be had or the start fails.
HANDLE LaunchUnelevated(const char* fileName);

}  // namespace zvadm
