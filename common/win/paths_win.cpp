#include <windows.h>
#include <shlobj.h>

#include <algorithm>

#include "paths.h"
#include "registry.h"

namespace zv::win {
namespace {

constexpr wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Text from a call that answers the size it needs when the buffer is too
// small; the size may change between two calls, so it is asked again.
template <typename Call>
std::wstring GrownText(Call call) {
  std::wstring text(MAX_PATH, L'\0');
  for (int tries = 0; tries < 4; ++tries) {
    const DWORD length = call(text.data(), static_cast<DWORD>(text.size()));
    if (length == 0) return {};
    if (length < text.size()) return text.substr(0, length);
    text.resize(length + 1);
  }
  return {};
}

}  // namespace

std::wstring ModulePath(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) return path.substr(0, length);
    path.resize(path.size() * 2);  // cut short: the buffer was full
  }
}

std::wstring ShortFormOf(const std::wstring& path) {
  const DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (size == 0) return {};
  std::wstring shortForm(size, L'\0');
  const DWORD length = GetShortPathNameW(path.c_str(), shortForm.data(), size);
  if (length == 0 || length >= size) return {};
  return shortForm.substr(0, length);
}

std::vector<std::wstring> ProgramFilesFolders() {
  std::vector<std::wstring> folders;
  for (const REGSAM view : MachineViews()) {
    // A view without either value has the usual folder.
    std::wstring longForm = L"C:\\Program Files\\";
    for (const wchar_t* name : {L"ProgramFilesDir", L"ProgramFilesPath"}) {
      const auto folder = ReadRegTextW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, name, view);
      if (!folder || folder->empty()) continue;
      longForm = IncludeTrailingBackslash(*folder);
      break;
    }
    if (std::find(folders.begin(), folders.end(), longForm) != folders.end()) continue;
    folders.push_back(longForm);
    folders.push_back(ShortFormOf(longForm));
  }
  return folders;
}

std::wstring AppDataFolder() {
  const auto folder = ReadRegTextW(HKEY_CURRENT_USER, kShellFoldersKey, L"AppData");
  // The Shell Folders value is only a cache of the shell's answer.
  if (folder && FolderExists(*folder)) return *folder;
  return ShellFolder(CSIDL_APPDATA);
}

std::wstring SystemFolder() {
  return GrownText([](wchar_t* buffer, DWORD size) { return GetSystemDirectoryW(buffer, size); });
}

std::wstring WindowsFolder() {
  return GrownText([](wchar_t* buffer, DWORD size) { return GetWindowsDirectoryW(buffer, size); });
}

std::wstring TempFolder() {
  return GrownText([](wchar_t* buffer, DWORD size) { return GetTempPathW(size, buffer); });
}

std::wstring ShellFolder(int csidl) {
  // The shell's own limit: it never answers a longer path.
  wchar_t path[MAX_PATH + 1] = {};
  if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK || !path[0]) return {};
  return IncludeTrailingBackslash(std::wstring(path));
}

bool FolderExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace zv::win
