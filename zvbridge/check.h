// zvbridge.exe --check: why downloads might not reach the download manager,
// one line a check, each "ok" or the problem with the fix to apply.
#pragma once

namespace zv::bridge {

// Prints the checks (as JSON with `json`); 0 only when every check passed.
int RunCheck(bool json);

}  // namespace zv::bridge
