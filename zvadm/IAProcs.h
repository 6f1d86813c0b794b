// Integrity levels and sessions: the helper's own, and starting a program at another level.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zv::adm {

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
// The level our token's label gives, whatever version is reported; 0 when
// the token has no label.
uint8_t OwnIntegrityLevel();

// Whether our token carries a mandatory label at all. Unlike the version
// number, which a compatibility setting changes, this tells whether labels
// (and so objects made below medium) exist.
bool TokenReportsIntegrityLevel();

// A primary copy of our token that cannot act as an administrator: the
// Administrators group for deny only, no privilege but change-notify, and
// the label of `level` (codes other than 1, 2, 4, 5 mean medium). Owned by
// the caller; nullptr when it cannot be made.
HANDLE RestrictedTokenAtLevel(uint8_t level);

// Starts `fileName` (no path search) with RestrictedTokenAtLevel(level).
// Returns the process handle, owned by the caller, or nullptr with nothing
// started. `owner` is accepted for the callers' sake and not used.
HANDLE LaunchAtIntegrityLevel(HWND owner, const char* fileName, uint8_t level, const char* commandLine);

// Starts `fileName` (a full path; no search) as the user at the desktop,
// with the token of the desktop's shell. Returns the process handle (owned
// by the caller), or nullptr with nothing started when there is no such
// token or the start fails.
HANDLE LaunchUnelevated(const char* fileName);

// Our own session; 0 where the system has none.
DWORD OwnSessionId();

// Whether the process runs in `session` (true where the system has no
// sessions; false when its session cannot be told).
bool IsProcessOfSession(DWORD processId, DWORD session);

}  // namespace zv::adm
