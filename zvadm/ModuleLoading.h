// Where the helper loads libraries from. It runs with raised rights from a
// folder a user may write to, so a library is never taken from the current
// folder or from PATH.
#pragma once

#include <windows.h>

#include <string>

namespace zv::adm {

// Limits every later load of the process (imports of loaded modules
// included) to the system folder and folders named explicitly; on systems
// without that setting, at least takes the current folder out of the search.
void RestrictLibrarySearch();

// Loads a library of the system folder by its bare name (e.g.
// "version.dll"), never from anywhere else. Null with the loader's error.
HMODULE LoadSystemLibrary(const char* name);

// A function of a loaded library as type `Fn`; null when either is missing.
template <typename Fn>
Fn FindFunction(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// Loads a module for a job: an absolute local path ("X:\...", no "..")
// from its own folder (its imports from there and the system folder), a
// bare name from the system folder only. Any other form (drive-relative,
// rooted, relative with separators, UNC, "\\?\", a ".." component, a ":"
// past the drive) would be resolved against the current folder or a share
// that the sender chooses: null with ERROR_MOD_NOT_FOUND.
HMODULE LoadJobModule(const std::string& library);

}  // namespace zv::adm
