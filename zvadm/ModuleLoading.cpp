#include "ModuleLoading.h"

#include "AdmText.h"
#include "win/paths.h"
#include "win/text.h"

namespace zv::adm {
namespace {

enum class ModulePathForm { kBareName, kAbsoluteLocal, kRefused };

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Only a bare name and "X:\..." name their folder whatever the current
// folder is; a second ":" would name a stream.
ModulePathForm FormOf(const std::string& path) {
  if (path.empty() || HasParentComponent(path)) return ModulePathForm::kRefused;
  if (path.find_first_of("\\/:") == std::string::npos) return ModulePathForm::kBareName;
  const char drive = static_cast<char>(path[0] | 0x20);
  if (path.size() >= 3 && drive >= 'a' && drive <= 'z' && path[1] == ':' && IsSeparator(path[2]) &&
      path.find(':', 2) == std::string::npos)
    return ModulePathForm::kAbsoluteLocal;
  return ModulePathForm::kRefused;
}

template <typename Fn>
Fn Kernel32Function(const char* name) {
  return FindFunction<Fn>(GetModuleHandleA("kernel32.dll"), name);
}

}  // namespace

void RestrictLibrarySearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
  if (const auto setDefault = Kernel32Function<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories"))
    if (setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  if (const auto setDirectory = Kernel32Function<SetDllDirectoryFn>("SetDllDirectoryA")) setDirectory("");
}

HMODULE LoadSystemLibrary(const char* name) {
  HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
  // A system without the search flags: the system folder named by hand.
  const std::wstring system = zv::win::SystemFolder();
  if (system.empty()) return nullptr;
  return LoadLibraryExW((system + L"\\" + zv::win::WideFromAnsi(name)).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadJobModule(const std::string& library) {
  // The loader reads the text up to its first NUL: judge what it reads.
  const std::string path(library.c_str());
  switch (FormOf(path)) {
    case ModulePathForm::kBareName:
      return LoadSystemLibrary(path.c_str());
    case ModulePathForm::kAbsoluteLocal: {
      HMODULE module =
          LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
      if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
      return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    case ModulePathForm::kRefused:
      break;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

}  // namespace zv::adm
