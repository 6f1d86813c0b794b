// Where the helper loads libraries from. It runs with raised rights from a
// folder a user may write to, so a library is never taken from the current
// folder or from PATH.
#pragma once

#include <windows.h>

#include <string>

namespace zvadm {

// Limits every later load of the process (imports of loaded modules
// included) to the system folder and folders named explicitly; on systems
// without that setting, at least takes the current folder out of the search.
void RestrictLibrarySearch();

// Loads a module for a job: an absolute path from its own folder (its
// imports from there and the system folder), a bare name from the system
// folder only. Null with the loader's error otherwise.
HMODULE LoadJobModule(const std::string& library);

}  // namespace zvadm
