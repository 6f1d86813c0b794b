// The Windows helpers of Utils.h: the settings file and its location,
// registry values, folders and files, and the ANSI code page.
#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "IeConst.h"
#include "Utils.h"
#include "win/unique_handles.h"

namespace zvwatch {

AnsiString SettingsFileName;

namespace {

HINSTANCE g_settingsModule = nullptr;
INIT_ONCE g_settingsOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK ComputeSettingsFileNameOnce(PINIT_ONCE, PVOID, PVOID*) {
  try {
    if (SettingsFileName.empty()) SettingsFileName = ComputeSettingsFileName(g_settingsModule);
    return TRUE;
  } catch (...) {
    return FALSE;  // tried again on the next call
  }
}

}  // namespace

void SetSettingsModule(HINSTANCE instance) { g_settingsModule = instance; }

const AnsiString& CurrentSettingsFileName() {
  InitOnceExecuteOnce(&g_settingsOnce, ComputeSettingsFileNameOnce, nullptr, nullptr);
  return SettingsFileName;
}

bool SameTextIgnoringCase(const AnsiString& a, const AnsiString& b) {
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                        b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

AnsiString ConvertUtf8ToAnsi(const AnsiString& text) {
  return zv::win::Utf8ToAnsi(text, zv::win::Unholdable::kUnderscore);
}

std::optional<AnsiString> ConvertUtf8ToAnsiExactly(const AnsiString& text) {
  return zv::win::Utf8ToAnsiExactly(text);
}

AnsiString WideToAnsi(const wchar_t* text, zv::win::Unholdable rule) {
  return zv::win::ToAnsi(text, rule).value_or(AnsiString());
}

AnsiString ReadIniSetting(const AnsiString& key) {
  return ReadGrowingText([&](char* buffer, unsigned long size) -> unsigned long {
    return GetPrivateProfileStringA(kSettingsSection, key.c_str(), "", buffer, size,
                                    CurrentSettingsFileName().c_str());
  });
}

AnsiString ReadRegString(HKEY root, const AnsiString& subkey, const AnsiString& valueName) {
  zv::win::UniqueHkey key;
  if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return {};
  DWORD size = 0;
  if (RegQueryValueExA(key.get(), valueName.c_str(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
    return {};
  std::vector<char> buffer(size + 1, '\0');
  if (RegQueryValueExA(key.get(), valueName.c_str(), nullptr, nullptr,
                       reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS)
    return {};
  return AnsiString(buffer.data());
}

bool WriteRegString(HKEY root, const AnsiString& subkey, const AnsiString& valueName,
                    const AnsiString& text) {
  zv::win::UniqueHkey key;
  if (RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS)
    return false;
  return RegSetValueExA(key.get(), valueName.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

bool DeleteRegValue(HKEY root, const AnsiString& subkey, const AnsiString& valueName) {
  zv::win::UniqueHkey key;
  if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return false;
  return RegDeleteValueA(key.get(), valueName.c_str()) == ERROR_SUCCESS;
}

AnsiString ProgramFilesFolder() {
  AnsiString folder;
  zv::win::UniqueHkey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kWindowsCurrentVersionKey, 0, KEY_READ, key.put()) ==
      ERROR_SUCCESS) {
    for (const char* name : {"ProgramFilesDir", "ProgramFilesPath"}) {
      char buffer[1024] = {};
      DWORD size = sizeof(buffer) - 1;
      if (RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) ==
          ERROR_SUCCESS) {
        folder = buffer;
        break;
      }
    }
  }
  if (folder.empty()) folder = "C:\\Program Files";
  return IncludeTrailingBackslash(folder);
}

AnsiString ShortFormOf(const AnsiString& folder) {
  std::vector<char> buffer(folder.size() + 1, '\0');
  const DWORD length = GetShortPathNameA(folder.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return {};
  return AnsiString(buffer.data(), length);
}

AnsiString AppDataFolder(HKEY root) {
  const AnsiString folder = ReadRegString(root, kShellFoldersKey, "AppData");
  if (FolderExists(folder) || root != HKEY_CURRENT_USER) return folder;
  // The Shell Folders value is only a cache of the shell's answer.
  LPITEMIDLIST items = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_APPDATA, &items)) || !items) return {};
  char path[MAX_PATH + 1] = {};
  const BOOL found = SHGetPathFromIDListA(items, path);
  CoTaskMemFree(items);
  return found ? IncludeTrailingBackslash(path) : AnsiString();
}

bool FolderExists(const AnsiString& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileFound(const AnsiString& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

AnsiString ComputeSettingsFileName(HINSTANCE instance) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(instance, path, MAX_PATH);
  const AnsiString programFiles = ProgramFilesFolder();
  return SettingsFileNameFor(FolderOfPath(path), programFiles, ShortFormOf(programFiles),
                             [] { return AppDataFolder(HKEY_CURRENT_USER); });
}

}  // namespace zvwatch
