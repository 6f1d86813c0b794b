// zvbridge.exe --check: why downloads might not reach the download manager,
// one line a check, each "ok" or the problem with the fix to apply.
#pragma once

#include <string>
#include <vector>

namespace zv::bridge {

// The download manager's checks, for the popup: whether its window runs,
// and the text of each other check that fails (the problem and its fix).
struct ManagerStatus {
  bool running = false;
  std::vector<std::string> problems;
};
ManagerStatus CheckManagerNow();

// Prints the checks (as JSON with `json`); 0 only when every check passed.
int RunCheck(bool json);

}  // namespace zv::bridge
