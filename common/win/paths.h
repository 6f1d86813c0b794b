// Paths and folders. The rules are platform-free templates over the
// character type (narrow for values handed on, wide for the paths the
// system is asked about); the Windows half computes paths with the wide
// functions, so that a folder named outside the ANSI code page still works.
#pragma once

#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace zv::win {

template <typename Char>
std::basic_string<Char> IncludeTrailingBackslash(std::basic_string<Char> text) {
  if (!text.empty() && text.back() != Char('\\')) text.push_back(Char('\\'));
  return text;
}

// Up to and including the last ":" or "\"; empty when neither occurs.
template <typename Char>
std::basic_string<Char> FolderOfPath(const std::basic_string<Char>& path) {
  const Char separators[] = {Char(':'), Char('\\'), Char(0)};
  const size_t at = path.find_last_of(separators);
  return at == std::basic_string<Char>::npos ? std::basic_string<Char>() : path.substr(0, at + 1);
}

// Whether `folder` lies in one of `roots`; A to Z compared without case. An
// empty root (a short form that could not be had) holds nothing.
template <typename Char>
bool IsUnderAnyFolder(const std::basic_string<Char>& folder, const std::vector<std::basic_string<Char>>& roots) {
  auto lower = [](std::basic_string<Char> text) {
    for (Char& c : text)
      if (c >= Char('A') && c <= Char('Z')) c = static_cast<Char>(c - Char('A') + Char('a'));
    return text;
  };
  const std::basic_string<Char> compared = lower(IncludeTrailingBackslash(folder));
  for (const std::basic_string<Char>& root : roots) {
    const std::basic_string<Char> prefix = lower(root);
    if (!prefix.empty() && compared.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

// Where a module in `moduleFolder` keeps the download manager's data:
// installed under a program-files folder, the user's application-data
// folder + "Quennet\Kestrix\" (`appDataFolder` is asked only then); carried
// anywhere else, "DATA\" beside the module.
template <typename Char>
std::basic_string<Char> DataFolderFor(const std::basic_string<Char>& moduleFolder,
                                      const std::vector<std::basic_string<Char>>& programFilesFolders,
                                      const std::function<std::basic_string<Char>()>& appDataFolder) {
  static const Char kInstalled[] = {'Q', 'u', 'e', 'n', 'n', 'e', 't',  '\\', 'K',
                                    'e', 's', 't', 'r', 'i', 'x', '\\', 0};
  static const Char kCarried[] = {'D', 'A', 'T', 'A', '\\', 0};
  if (IsUnderAnyFolder(moduleFolder, programFilesFolders))
    return IncludeTrailingBackslash(appDataFolder()) + kInstalled;
  return IncludeTrailingBackslash(moduleFolder) + kCarried;
}

#ifdef _WIN32
// The full path of `module` (null: the program), however long.
std::wstring ModulePath(HMODULE module);
// The short (8.3) form of `path`; empty when it cannot be had.
std::wstring ShortFormOf(const std::wstring& path);
// Every program-files folder, each with a trailing "\" and followed by its
// short form: on 64-bit Windows both "Program Files" and "Program Files
// (x86)" (ProgramFilesDir of both registry views), whichever build asks.
std::vector<std::wstring> ProgramFilesFolders();
// The current user's application-data folder: the Shell Folders value
// when it names a folder, else the shell's answer.
std::wstring AppDataFolder();
// The system, Windows and temporary folders, however long (the temporary
// one with its trailing "\" as the system gives it); empty on failure.
std::wstring SystemFolder();
std::wstring WindowsFolder();
std::wstring TempFolder();
// The shell's folder `csidl` (flags such as CSIDL_FLAG_CREATE allowed),
// with a trailing "\"; empty when the shell has none.
std::wstring ShellFolder(int csidl);
bool FolderExists(const std::wstring& path);
#endif

}  // namespace zv::win
