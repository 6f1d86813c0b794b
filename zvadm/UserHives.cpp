// The walk over every user's hive, the install log, and kinds 6, 7 and 22.
#include "UserHives.h"

#include <shlobj.h>

#include <vector>

#include "AdmUtils.h"
#include "FileJobText.h"
#include "win/unique_handles.h"

namespace zvadm {
namespace {

using zv::win::UniqueFile;
using zv::win::UniqueHandle;
using zv::win::UniqueHkey;

constexpr char kProfileListNt[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr char kProfileList9x[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ProfileList";
constexpr char kDefaultUserHive[] = "{02144A0E-F3A2-42D4-A7D6-1B29CA99B15F}";
// Names of this length or shorter are the built-in service accounts
// (S-1-5-18 and its kin), which have no profile of their own to clean.
constexpr size_t kServiceAccountNameLength = 8;

constexpr char kInstallLogName[] = "Install.alg";

struct TProfile {
  std::string folder;  // trailing "\"
  std::string hiveName;
};

bool IsNtFamily(const THelperState& state) { return state.platformId == VER_PLATFORM_WIN32_NT; }

std::string ExpandEnvironment(const std::string& text) {
  std::vector<char> buffer(MAX_PATH + 1);
  DWORD needed = ExpandEnvironmentStringsA(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (needed > buffer.size()) {
    buffer.resize(needed);
    needed = ExpandEnvironmentStringsA(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  }
  return needed == 0 || needed > buffer.size() ? std::string() : std::string(buffer.data());
}

// The ProfileList's subkeys, last first, with each one's folder; and the
// default user's folder (NT family only, empty when not known).
std::vector<TProfile> ListProfiles(bool nt, std::string& defaultFolder) {
  std::vector<TProfile> profiles;
  const char* const listKey = nt ? kProfileListNt : kProfileList9x;
  UniqueHkey list;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, listKey, 0, KEY_READ, list.put()) != ERROR_SUCCESS) return profiles;
  if (nt)
    defaultFolder = IncludeTrailingBackslash(
        IncludeTrailingBackslash(ExpandEnvironment(ReadRegString(list.get(), "", "ProfilesDirectory"))) +
        ReadRegString(list.get(), "", "DefaultUserProfile"));
  DWORD count = 0;
  if (RegQueryInfoKeyA(list.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return profiles;
  for (DWORD index = count; index-- > 0;) {
    char name[256];
    DWORD length = sizeof(name);
    if (RegEnumKeyExA(list.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      continue;
    if (nt && length <= kServiceAccountNameLength) continue;
    UniqueHkey entry;
    if (RegOpenKeyExA(list.get(), name, 0, KEY_READ, entry.put()) != ERROR_SUCCESS) continue;
    profiles.push_back(
        {IncludeTrailingBackslash(ExpandEnvironment(ReadRegString(entry.get(), "", "ProfileImagePath"))), name});
  }
  return profiles;
}

// Loading hives takes the restore privilege. False when the token cannot
// be opened or the privilege not enabled: then no hive may be walked.
bool EnableRestorePrivilege() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return false;
  TOKEN_PRIVILEGES privileges{};
  if (!LookupPrivilegeValueA(nullptr, "SeRestorePrivilege", &privileges.Privileges[0].Luid)) return true;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // Succeeds with ERROR_NOT_ALL_ASSIGNED when the token lacks the privilege.
  return AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr) &&
         GetLastError() == ERROR_SUCCESS;
}

std::string WindowsFolder() {
  char folder[MAX_PATH] = {};
  GetWindowsDirectoryA(folder, MAX_PATH);
  return IncludeTrailingBackslash(folder);
}

// The application-data folder of the user running the helper.
std::string OwnAppDataFolder() {
  std::string folder = ReadRegString(HKEY_CURRENT_USER, kShellFoldersKey, "AppData");
  if (!DirectoryExists(folder)) folder = ShellFolder(CSIDL_APPDATA);
  return IncludeTrailingBackslash(folder);
}

std::string ProgramFilesFolder() {
  for (const char* name : {"ProgramFilesDir", "ProgramFilesPath"}) {
    const std::string folder = ReadRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", name);
    if (!folder.empty()) return IncludeTrailingBackslash(folder);
  }
  return "C:\\Program Files\\";
}

// Installed under the program files: the data lives with the user's
// application data; carried elsewhere (the portable edition): beside it.
std::string DefaultDataFolder() {
  const std::string own = HelperFolder();
  const std::string programFiles = ProgramFilesFolder();
  if (LowerCase(own.substr(0, programFiles.size())) == LowerCase(programFiles))
    return OwnAppDataFolder() + "Quennet\\Kestrix\\";
  return own + "DATA\\";
}

// Navigator's automation protocols and Internet Explorer's context-menu
// entries that lead to the catchers, the helper object as NetCaptor knows
// it, and the Start-menu order of the program group.
void RemoveIntegrationEntries(HKEY user, const std::string& installFolder) {
  constexpr char kNavigatorProtocols[] = "Software\\Netscape\\Netscape Navigator\\Automation Protocols";
  for (const char* protocol : {"http", "https", "ftp"})
    if (ReadRegString(user, kNavigatorProtocols, protocol) == "Zorvex.NNCatcher.1")
      DeleteRegValue(user, kNavigatorProtocols, protocol);

  UniqueHkey menuExt;
  if (RegOpenKeyExA(user, "Software\\Microsoft\\Internet Explorer\\MenuExt", 0, KEY_READ, menuExt.put()) ==
      ERROR_SUCCESS) {
    // Our entries run a page of the install folder: "<folder>Add_" and a
    // seven-character file name.
    const std::string ours = installFolder + "Add_";
    std::vector<char> value(ours.size() + 8);
    DWORD index = 0;
    for (;;) {
      char name[256];
      DWORD length = sizeof(name);
      if (RegEnumKeyExA(menuExt.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        break;
      LONG size = static_cast<LONG>(value.size());
      const bool isOurs = RegQueryValueA(menuExt.get(), name, value.data(), &size) == ERROR_SUCCESS &&
                          static_cast<size_t>(size) == value.size() &&
                          std::string(value.data(), ours.size()) == ours;
      // A deleted entry shifts the later ones down.
      if (!isOurs || RegDeleteKeyA(menuExt.get(), name) != ERROR_SUCCESS) ++index;
    }
  }

  DeleteKeyTree(user,
                "SOFTWARE\\Stilesoft\\NetCaptor\\CurrentVersion\\Browser Helper Objects\\"
                "{B930BA63-9E5A-11D3-A288-0000E80E2EDE}",
                true);
  DeleteKeyTree(user, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\Quennet Zorvane",
                true);
}

// Moves the user's own install log into `mainLog`.
void MergeUserInstallLog(HKEY user, TStringList& mainLog) {
  const std::string data = UserDataFolder(user);
  if (data.empty() || !FileExists(data + kInstallLogName)) return;
  TStringList lines;
  if (ReadInstallLog(data + kInstallLogName, lines) != ERROR_SUCCESS) return;
  mainLog.insert(mainLog.end(), lines.begin(), lines.end());
  DeleteFileA((data + kInstallLogName).c_str());
}

void RemoveUserData(HKEY user) {
  const std::string data = UserDataFolder(user);
  if (DeleteKeyTree(user, kSettingsKey, true) == ERROR_SUCCESS)
    DeleteKeyTree(user, "SOFTWARE\\Quennet", false);  // only when no other product is left there
  for (const char* file : {"zorvex.$$$", "history.bak", "zorvex.dat", "category.dat", "history.dat"})
    DeleteFileA((data + file).c_str());
  // Both go only when empty.
  RemoveDirectoryA(data.c_str());
  RemoveDirectoryA(FolderOf(WithoutTrailingBackslash(data)).c_str());
}

}  // namespace

void ForEachUserHive(const THelperState& state, REGSAM access, const TUserRoutine& routine) {
  const bool nt = IsNtFamily(state);
  std::string defaultFolder;
  std::vector<TProfile> profiles = ListProfiles(nt, defaultFolder);
  if (nt) {
    if (!defaultFolder.empty()) profiles.push_back({defaultFolder, kDefaultUserHive});
    if (!EnableRestorePrivilege()) return;
  }
  if (profiles.empty()) {
    routine(HKEY_CURRENT_USER, WindowsFolder());
    return;
  }
  const char* const hiveFile = nt ? "NTUser.dat" : "User.dat";
  for (const TProfile& profile : profiles) {
    // Fails for a user who is logged on: the hive is there already and
    // stays loaded.
    const bool loaded = RegLoadKeyA(HKEY_USERS, profile.hiveName.c_str(), (profile.folder + hiveFile).c_str()) ==
                        ERROR_SUCCESS;
    bool goOn = true;
    {
      UniqueHkey user;
      if (RegOpenKeyExA(HKEY_USERS, profile.hiveName.c_str(), 0, access, user.put()) == ERROR_SUCCESS)
        goOn = routine(user.get(), profile.folder);
    }
    if (loaded) RegUnLoadKeyA(HKEY_USERS, profile.hiveName.c_str());
    if (!goOn) return;
  }
}

DWORD ReadTextFile(const std::string& path, std::string& text) {
  text.clear();
  UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return GetLastError();
  const DWORD size = GetFileSize(file.get(), nullptr);
  if (size == INVALID_FILE_SIZE) return GetLastError();
  std::string content(size, '\0');
  DWORD read = 0;
  if (size > 0 && !ReadFile(file.get(), content.data(), size, &read, nullptr)) return GetLastError();
  content.resize(read);
  text = std::move(content);
  return ERROR_SUCCESS;
}

DWORD WriteTextFile(const std::string& path, const std::string& text) {
  UniqueFile file(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return GetLastError();
  DWORD written = 0;
  if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) return GetLastError();
  return ERROR_SUCCESS;
}

DWORD ReadInstallLog(const std::string& path, TStringList& lines) {
  lines.clear();
  std::string text;
  const DWORD status = ReadTextFile(path, text);
  if (status == ERROR_SUCCESS) lines = SplitLines(text);
  return status;
}

DWORD WriteInstallLog(const std::string& path, const TStringList& lines) {
  return WriteTextFile(path, JoinLines(lines));
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ShellFolder(int csidl) {
  char folder[MAX_PATH] = {};
  return SHGetSpecialFolderPathA(nullptr, folder, csidl, FALSE) ? std::string(folder) : std::string();
}

std::string HelperFolder() {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) return FolderOf(std::string(path.data(), length));
    path.resize(path.size() * 2);
  }
}

std::string UserDataFolder(HKEY user) {
  const std::string folder = ReadRegString(user, kSettingsKey, "AppDataPath");
  return folder.empty() ? DefaultDataFolder() : IncludeTrailingBackslash(folder);
}

int32_t JobRemoveUserIntegration(const TJobArgs&, const THelperState& state) {
  const std::string mainLogPath = IncludeTrailingBackslash(state.installFolder) + kInstallLogName;
  if (!FileExists(mainLogPath)) return ERROR_SUCCESS;
  TStringList mainLog;
  if (const DWORD status = ReadInstallLog(mainLogPath, mainLog)) return static_cast<int32_t>(status);
  ForEachUserHive(state, KEY_ALL_ACCESS, [&](HKEY user, const std::string&) {
    RemoveIntegrationEntries(user, state.installFolder);
    MergeUserInstallLog(user, mainLog);
    return true;
  });
  return static_cast<int32_t>(WriteInstallLog(mainLogPath, mainLog));
}

int32_t JobRemoveUserData(const TJobArgs&, const THelperState& state) {
  ForEachUserHive(state, KEY_ALL_ACCESS, [](HKEY user, const std::string&) {
    RemoveUserData(user);
    return true;
  });
  return ERROR_SUCCESS;
}

int32_t JobWriteUserValue(const TJobArgs& job, const THelperState& state) {
  ForEachUserHive(state, KEY_WRITE, [&](HKEY user, const std::string&) {
    // The registry-path form names an open key by its handle's value as a
    // signed 32-bit number; that also covers the current user's predefined
    // handle on a system without profiles.
    const int32_t handle = static_cast<int32_t>(reinterpret_cast<intptr_t>(user));
    WriteRegPathValue(std::to_string(handle) + "\\" + kSettingsKey + "\\" + job.Param1, REG_SZ, job.Param2);
    return true;
  });
  return ERROR_SUCCESS;
}

}  // namespace zvadm
