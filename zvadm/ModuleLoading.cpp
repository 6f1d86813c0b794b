#include "ModuleLoading.h"

namespace zvadm {
namespace {

// "X:\..." or "\\server\...": only such a path names its folder for sure.
bool IsAbsolutePath(const std::string& path) {
  if (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) return true;
  return path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/');
}

template <typename Fn>
Fn Kernel32Function(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

}  // namespace

void RestrictLibrarySearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
  if (const auto setDefault = Kernel32Function<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories"))
    if (setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  if (const auto setDirectory = Kernel32Function<SetDllDirectoryFn>("SetDllDirectoryA")) setDirectory("");
}

HMODULE LoadJobModule(const std::string& library) {
  const bool absolute = IsAbsolutePath(library);
  const DWORD flags =
      absolute ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32 : LOAD_LIBRARY_SEARCH_SYSTEM32;
  HMODULE module = LoadLibraryExA(library.c_str(), nullptr, flags);
  if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
  // A system without the search flags: the same places named by hand.
  if (absolute) return LoadLibraryExA(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  char system[MAX_PATH];
  const UINT length = GetSystemDirectoryA(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  return LoadLibraryExA((std::string(system, length) + "\\" + library).c_str(), nullptr,
                        LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace zvadm
