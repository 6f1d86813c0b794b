// The Windows helpers of Utils.h, on the shared Windows layer: the settings
// file and its location, registry values, folders and files, and the ANSI
// code page. The settings file's path is computed and read with the wide
// functions, so that a profile or a carried copy in a folder named outside
// the code page still finds its settings.
#include <windows.h>

#include <vector>

#include "IeConst.h"
#include "Utils.h"
#include "com/registrar.h"
#include "win/paths.h"
#include "win/registry.h"

namespace zv::watch {

AnsiString SettingsFileName;

namespace {

INIT_ONCE g_settingsOnce = INIT_ONCE_STATIC_INIT;
// The computed path; SettingsFileName is its ANSI form for those who show it.
std::wstring g_settingsFileWide;

std::wstring ComputeSettingsFileNameWide(HINSTANCE instance) {
  const std::wstring folder =
      zv::win::DataFolderFor<wchar_t>(zv::win::FolderOfPath(zv::win::ModulePath(instance)),
                                      zv::win::ProgramFilesFolders(), [] { return zv::win::AppDataFolder(); });
  return folder + L"Settings.dat";
}

BOOL CALLBACK ComputeSettingsFileNameOnce(PINIT_ONCE, PVOID, PVOID*) {
  try {
    if (SettingsFileName.empty()) {
      g_settingsFileWide = ComputeSettingsFileNameWide(zv::com::ThisModule());
      SettingsFileName = zv::win::ToAnsi(g_settingsFileWide, zv::win::Unholdable::kUnderscore);
    }
    return TRUE;
  } catch (...) {
    return FALSE;  // tried again on the next call
  }
}

// The settings file to read: the computed one, or one set in its place.
std::wstring SettingsFileWide() {
  const AnsiString& ansi = CurrentSettingsFileName();
  if (!g_settingsFileWide.empty() && ansi == zv::win::ToAnsi(g_settingsFileWide, zv::win::Unholdable::kUnderscore))
    return g_settingsFileWide;
  return zv::win::WideFromAnsi(ansi);
}

}  // namespace

const AnsiString& CurrentSettingsFileName() {
  InitOnceExecuteOnce(&g_settingsOnce, ComputeSettingsFileNameOnce, nullptr, nullptr);
  return SettingsFileName;
}

bool SameTextIgnoringCase(const AnsiString& a, const AnsiString& b) {
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                        static_cast<int>(b.size())) == CSTR_EQUAL;
}

AnsiString ConvertUtf8ToAnsi(const AnsiString& text) {
  return zv::win::Utf8ToAnsi(text, zv::win::Unholdable::kUnderscore);
}

std::optional<AnsiString> ConvertUtf8ToAnsiExactly(const AnsiString& text) { return zv::win::Utf8ToAnsiExactly(text); }

AnsiString WideToAnsi(const wchar_t* text, zv::win::Unholdable rule) {
  return zv::win::ToAnsi(text, rule).value_or(AnsiString());
}

AnsiString ReadIniSetting(const AnsiString& key) {
  const std::wstring file = SettingsFileWide();
  const std::wstring section = zv::win::WideFromAnsi(kSettingsSection);
  const std::wstring name = zv::win::WideFromAnsi(key);
  // Grown while the answer fills the buffer, so that no value is cut.
  std::vector<wchar_t> buffer(256, L'\0');
  DWORD length = 0;
  for (;;) {
    length = GetPrivateProfileStringW(section.c_str(), name.c_str(), L"", buffer.data(),
                                      static_cast<DWORD>(buffer.size()), file.c_str());
    if (length != buffer.size() - 1) break;
    buffer.assign(buffer.size() + 256, L'\0');
  }
  return zv::win::ToAnsi(std::wstring_view(buffer.data(), length), zv::win::Unholdable::kQuestionMark);
}

AnsiString ReadRegString(HKEY root, const AnsiString& subkey, const AnsiString& valueName) {
  return zv::win::ReadRegText(root, subkey.c_str(), valueName.c_str()).value_or(AnsiString());
}

bool WriteRegString(HKEY root, const AnsiString& subkey, const AnsiString& valueName, const AnsiString& text) {
  return zv::win::WriteRegText(root, subkey.c_str(), valueName.c_str(), text);
}

bool DeleteRegValue(HKEY root, const AnsiString& subkey, const AnsiString& valueName) {
  return zv::win::DeleteRegValue(root, subkey.c_str(), valueName.c_str());
}

AnsiString ProgramFilesFolder() {
  return zv::win::ToAnsi(zv::win::ProgramFilesFolders().front(), zv::win::Unholdable::kUnderscore);
}

AnsiString ShortFormOf(const AnsiString& folder) {
  return zv::win::ToAnsi(zv::win::ShortFormOf(zv::win::WideFromAnsi(folder)), zv::win::Unholdable::kUnderscore);
}

AnsiString AppDataFolder(HKEY root) {
  // Not the current user's: the value as it is, with no shell to ask.
  if (root != HKEY_CURRENT_USER) return ReadRegString(root, kShellFoldersKey, "AppData");
  const AnsiString folder = ReadRegString(root, kShellFoldersKey, "AppData");
  if (FolderExists(folder)) return folder;
  return zv::win::ToAnsi(zv::win::AppDataFolder(), zv::win::Unholdable::kUnderscore);
}

bool FolderExists(const AnsiString& path) { return zv::win::FolderExists(zv::win::WideFromAnsi(path)); }

bool FileFound(const AnsiString& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

AnsiString ComputeSettingsFileName(HINSTANCE instance) {
  return zv::win::ToAnsi(ComputeSettingsFileNameWide(instance), zv::win::Unholdable::kUnderscore);
}

}  // namespace zv::watch
