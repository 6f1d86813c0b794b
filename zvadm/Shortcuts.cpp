// Kind 16 and the shell links it makes.
#include "Shortcuts.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <map>
#include <vector>

#include "AdmText.h"
#include "AdmUtils.h"
#include "FileJobText.h"
#include "UserHives.h"
#include "ZVStrings.h"
#include "com/com_ptr.h"
#include "win/text.h"
#include "win/unique_handles.h"

namespace zv::adm {
namespace {

using zv::com::ComPtr;

// Creates the folder and every missing parent. A loop over the names, with
// the file system's length bound: a folder value of thousands of names
// must not use up the stack.
constexpr size_t kLongestPath = 32767;

void ForceDirectories(const std::string& path) {
  const std::string folder = WithoutTrailingBackslash(path);
  if (folder.empty() || folder.size() > kLongestPath) return;
  std::vector<size_t> missing;
  for (std::string at = folder; !at.empty() && at.back() != ':' && !DirectoryExists(at); at = ParentFolder(at))
    missing.push_back(at.size());
  for (auto length = missing.rbegin(); length != missing.rend(); ++length)
    CreateDirectoryA(folder.substr(0, *length).c_str(), nullptr);
}

// The setup text of kind 16.
struct TShortcutSetup {
  explicit TShortcutSetup(const TSetupText& setup)
      : instPath(setup.Value("InstPath")),
        appGroup(setup.Value("AppGroup")),
        intlFolder(setup.Value("IntlFolder")),
        tempFolder(setup.Value("TempFolder")),
        algPath(setup.Value("AlgPath")),
        deskTop(setup.Number("DeskTop") != 0),
        quickLaunch(setup.Number("QuickLaunch") != 0) {}
  std::string instPath, appGroup, intlFolder, tempFolder, algPath;
  bool deskTop, quickLaunch;
};

// The shortcuts and their description in one user's language.
struct TShortcutNames {
  std::vector<TShortcutDefinition> definitions;
  std::string description;
};

// A language file is read only this far.
constexpr DWORD kLanguageFileLimit = 1 << 20;

// The language file name a hive or the machine records, when it is a bare
// file name of the language folder; a path would let a user pick any file.
std::string LanguageChoice(HKEY root, bool userHive) {
  const std::string name = userHive ? ReadUserString(root, kSettingsKey, "CurrentLanguage")
                                    : ReadRegString(root, kSettingsKey, "CurrentLanguage");
  return IsBareFileName(name) ? name : std::string();
}

// The language file the user chose, else the machine's choice, else English.
bool ReadUserNames(HKEY user, const std::string& intlFolder, TShortcutNames& names) {
  const std::string folder = IncludeTrailingBackslash(intlFolder);
  std::string language = LanguageChoice(user, true);
  if (language.empty() || !FileExists(folder + language)) language = LanguageChoice(HKEY_LOCAL_MACHINE, false);
  if (language.empty()) return false;
  std::string file = folder + language;
  if (!FileExists(file)) file = folder + "zv_en.int";
  std::string text;
  ReadTextFile(file, text, kLanguageFileLimit);  // unreadable: every name is empty
  TLanguageStrings strings = ReadLanguageStrings(SplitLines(text));
  // The texts become names only: a "," would start a target of its own.
  for (std::string* text : {&strings.S1, &strings.S2, &strings.S3, &strings.S4, &strings.S5})
    *text = WithoutNameBreakers(*text);
  names.definitions = ParseShortcutDefinitions(ShortcutDefinitions(strings));
  names.description = strings.S5;
  return true;
}

bool IsLinkFileName(const std::string& name) {
  const std::string lower = LowerCase(name);
  return lower.size() > 4 &&
         (lower.compare(lower.size() - 4, 4, ".lnk") == 0 || lower.compare(lower.size() - 4, 4, ".url") == 0);
}

// Deletes the links of a group folder, nothing else: the folder may have
// been made by a user, and whatever else lies there is not ours to take.
bool DeleteGroupLinks(const std::string& group) {
  const DWORD attributes = GetFileAttributesA(group.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  WIN32_FIND_DATAA found;
  const zv::win::UniqueFind find(FindFirstFileA((group + "\\*").c_str(), &found));
  if (!find) return true;
  bool deleted = true;
  do {
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    if (!IsLinkFileName(found.cFileName)) continue;
    deleted = DeleteUserFile(group + "\\" + found.cFileName) && deleted;
  } while (FindNextFileA(find.get(), &found));
  return deleted;
}

// Clears the group folder in `programs` and forgets its entries in the log.
void RemoveOldGroup(const std::string& programs, const std::string& appGroup, TStringList& log) {
  // Without a group name this would clear the whole programs folder.
  if (appGroup.empty()) return;
  const std::string group = LowerCase(programs + "\\" + appGroup);
  if (!DirectoryExists(group)) return;
  if (!DeleteGroupLinks(group)) return;
  log.erase(std::remove_if(log.begin(), log.end(),
                           [&](const std::string& entry) { return StartsWith(LowerCase(entry), group); }),
            log.end());
}

void AppendUnlessHeld(TStringList& log, const std::string& entry) {
  for (const std::string& held : log)
    if (SameText(held, entry)) return;
  log.push_back(entry);
}

void AppendLink(TStringList& log, const std::string& link) {
  if (!link.empty()) log.push_back(link);
}

// A shell folder of the user's hive, when it lies in the user's profile.
std::string UserShellFolder(HKEY user, const std::string& profileFolder, const char* name) {
  return ContainedUserFolder(ReadUserString(user, kShellFoldersKey, name), profileFolder);
}

void CreateUserShortcuts(HKEY user, const std::string& profileFolder, const TShortcutSetup& setup,
                         TShortcutNames& names, TStringList& log) {
  if (!setup.intlFolder.empty()) ReadUserNames(user, setup.intlFolder, names);
  RemoveOldGroup(ShellFolder(CSIDL_COMMON_PROGRAMS), setup.appGroup, log);
  std::string programs = UserShellFolder(user, profileFolder, "Programs");
  const bool usersPrograms = !programs.empty();
  if (!usersPrograms) programs = ShellFolder(CSIDL_PROGRAMS);
  if (programs.empty() || !DirectoryExists(programs)) return;
  // The folders below a user's folder are the user's too: a group or Quick
  // Launch folder made a junction would take the links anywhere.
  std::string group = IncludeTrailingBackslash(programs) + setup.appGroup;
  if (usersPrograms) group = ContainedUserFolder(group, profileFolder);
  if (!group.empty()) RemoveOldGroup(programs, setup.appGroup, log);

  const std::string install = IncludeTrailingBackslash(setup.instPath);
  std::string desktop = UserShellFolder(user, profileFolder, "Desktop");
  if (!desktop.empty()) desktop = IncludeTrailingBackslash(desktop);
  std::string quickLaunch = UserShellFolder(user, profileFolder, "AppData");
  if (!quickLaunch.empty())
    quickLaunch = ContainedUserFolder(
        IncludeTrailingBackslash(quickLaunch) + "Microsoft\\Internet Explorer\\Quick Launch\\", profileFolder);

  // A user's folder is made, then checked again and held for the rest of
  // the turn: between the first check and the writing its user could
  // otherwise put a junction in its place.
  std::map<std::string, bool> usable;
  std::vector<zv::win::UniqueFile> held;
  const auto holdUsersFolder = [&](const std::string& folder) {
    const auto known = usable.find(folder);
    if (known != usable.end()) return known->second;
    ForceDirectories(folder);
    zv::win::UniqueFile pin = PinUserFolder(folder, profileFolder);
    usable[folder] = static_cast<bool>(pin);
    if (pin) held.push_back(std::move(pin));
    return usable[folder];
  };
  if (usersPrograms && !group.empty() && !holdUsersFolder(group)) group.clear();

  for (const TShortcutDefinition& definition : names.definitions) {
    const std::string target = install + definition.Target;
    const auto create = [&](const std::string& folder, const std::string& alternateName) {
      return CreateShortcut(folder, definition.Name, target, definition.Arguments, install, names.description,
                            definition.Icon, alternateName);
    };
    const std::string linkName = definition.Name + ".lnk";
    if (definition.Desktop) {
      // Without the folder's name the link would land in the current
      // drive's root.
      if (!desktop.empty() && (setup.deskTop || FileExists(desktop + linkName)) && holdUsersFolder(desktop))
        AppendLink(log, create(desktop, setup.tempFolder));
      if (!quickLaunch.empty() && (setup.quickLaunch || FileExists(quickLaunch + linkName)) &&
          holdUsersFolder(quickLaunch))
        AppendLink(log, create(quickLaunch, setup.tempFolder));
    }
    if (group.empty()) continue;
    const std::string link = create(group, std::string());
    if (link.empty()) continue;
    log.push_back(link);
    AppendUnlessHeld(log, FolderOf(link));
  }
}

}  // namespace

std::string CreateShortcut(const std::string& folder, const std::string& name, const std::string& target,
                           const std::string& arguments, const std::string& workingFolder,
                           const std::string& description, int iconIndex, const std::string& alternateName) {
  const std::string base = WithoutTrailingBackslash(folder);
  ForceDirectories(base);
  const std::string path = ReplaceAll(target, "%20", " ");

  const TComScope com(TComScope::kCom);
  ComPtr<IShellLinkA> link;
  ComPtr<IPersistFile> file;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.put_void())) ||
      FAILED(link.As(IID_IPersistFile, file)))
    return {};
  link->SetPath(path.c_str());
  link->SetArguments(arguments.c_str());
  link->SetWorkingDirectory(workingFolder.c_str());
  link->SetDescription(description.c_str());
  link->SetIconLocation(path.c_str(), iconIndex);

  const std::string linkPath = base + "\\" + name + ".lnk";
  ForceDirectories(FolderOf(linkPath));
  if (FAILED(file->Save(zv::win::WideFromAnsi(linkPath.c_str()).c_str(), TRUE)) && !alternateName.empty()) {
    const std::string alternatePath = base + "\\" + alternateName + ".lnk";
    if (SUCCEEDED(file->Save(zv::win::WideFromAnsi(alternatePath.c_str()).c_str(), TRUE)))
      MoveFileExA(alternatePath.c_str(), linkPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
  }
  return linkPath;
}

int32_t JobCreateUserShortcuts(const TJobArgs& job, const THelperState& state) {
  const TShortcutSetup setup{TSetupText(job.Param1)};
  TStringList log;
  ReadInstallLog(setup.algPath, log);  // unreadable: a new log
  // A user without a language file gets the names of the user before.
  TShortcutNames names;
  ForEachUserHive(state, KEY_READ, [&](HKEY user, const std::string& profileFolder) {
    CreateUserShortcuts(user, profileFolder, setup, names, log);
    return true;
  });
  return static_cast<int32_t>(WriteInstallLog(setup.algPath, log));
}

}  // namespace zv::adm
