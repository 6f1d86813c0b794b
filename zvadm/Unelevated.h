// Starting a program as the user at the desktop, not with the helper's
// raised rights: lowering the label of an elevated token would leave the
// Administrators group and the admin privileges enabled.
#pragma once

#include <windows.h>

namespace zvadm {

// Starts `fileName` (a full path; no search) with the token of the
// desktop's shell, or else with the linked token of a full elevation.
// Returns the process handle (owned by the caller), or nullptr with
// nothing started when neither token is to be had or the start fails.
HANDLE LaunchUnelevated(const char* fileName);

}  // namespace zvadm
