// The walk over every user's hive, the install log, and kinds 6, 7 and 22.
#include "UserHives.h"

#include <shlobj.h>

#include <vector>

#include "AdmUtils.h"
#include "FileJobText.h"
#include "FileJobs.h"
#include "win/paths.h"
#include "win/text.h"
#include "win/unique_handles.h"

namespace zv::adm {
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

// Where the default user's profile lies: "DefaultUserProfile" in the
// profiles folder where the list names one (up to XP), else the "Default"
// profile that Vista and later record, else the "Default" folder there.
std::string DefaultUserFolder(HKEY list) {
  const std::string profiles =
      IncludeTrailingBackslash(ExpandEnvironment(ReadRegString(list, "", "ProfilesDirectory")));
  const std::string named = ReadRegString(list, "", "DefaultUserProfile");
  if (!named.empty()) return IncludeTrailingBackslash(profiles + named);
  const std::string recorded = ExpandEnvironment(ReadRegString(list, "", "Default"));
  return IncludeTrailingBackslash(recorded.empty() ? profiles + "Default" : recorded);
}

// The ProfileList's subkeys, last first, with each one's folder; and the
// default user's folder (NT family only, empty when not known).
std::vector<TProfile> ListProfiles(bool nt, std::string& defaultFolder) {
  std::vector<TProfile> profiles;
  const char* const listKey = nt ? kProfileListNt : kProfileList9x;
  UniqueHkey list;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, listKey, 0, KEY_READ, list.put()) != ERROR_SUCCESS) return profiles;
  if (nt) defaultFolder = DefaultUserFolder(list.get());
  DWORD count = 0;
  if (RegQueryInfoKeyA(list.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return profiles;
  for (DWORD index = count; index-- > 0;) {
    char name[256];
    DWORD length = sizeof(name);
    if (RegEnumKeyExA(list.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
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
  return AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS;
}


// Installed under a program-files folder: the data lives with the
// application data of the user running the helper; carried elsewhere (the
// portable edition): beside it.
std::string DefaultDataFolder() {
  return AnsiPath(zv::win::DataFolderFor<wchar_t>(zv::win::FolderOfPath(zv::win::ModulePath(nullptr)),
                                                  zv::win::ProgramFilesFolders(), zv::win::AppDataFolder));
}

// Navigator's automation protocols and Internet Explorer's context-menu
// entries that lead to the catchers, the helper object as NetCaptor knows
// it, and the Start-menu order of the program group.
void RemoveIntegrationEntries(HKEY user, const std::string& installFolder) {
  constexpr char kNavigatorProtocols[] = "Software\\Netscape\\Netscape Navigator\\Automation Protocols";
  for (const char* protocol : {"http", "https", "ftp"})
    if (ReadUserString(user, kNavigatorProtocols, protocol) == "Zorvex.NNCatcher.1")
      DeleteUserValue(user, kNavigatorProtocols, protocol);

  UniqueHkey menuExt;
  if (OpenKeyNoLinks(user, "Software\\Microsoft\\Internet Explorer\\MenuExt", KEY_READ, menuExt.put()) ==
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
      // Read and deleted through one handle of the entry itself, never
      // through a link to somebody else's key.
      UniqueHkey entry;
      LONG size = static_cast<LONG>(value.size());
      const bool isOurs = RegOpenKeyExA(menuExt.get(), name, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | DELETE,
                                        entry.put()) == ERROR_SUCCESS &&
                          !IsLinkKey(entry.get()) &&
                          RegQueryValueA(entry.get(), nullptr, value.data(), &size) == ERROR_SUCCESS &&
                          static_cast<size_t>(size) == value.size() && std::string(value.data(), ours.size()) == ours;
      // A deleted entry shifts the later ones down.
      if (!isOurs || DeleteOpenedKey(entry.get()) != ERROR_SUCCESS) ++index;
    }
  }

  DeleteUserKeyTree(user,
                    "SOFTWARE\\Stilesoft\\NetCaptor\\CurrentVersion\\Browser Helper Objects\\"
                    "{B930BA63-9E5A-11D3-A288-0000E80E2EDE}",
                    true);
  DeleteUserKeyTree(
      user, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\Quennet Zorvane",
      true);
}

// Moves the user's own install log into `mainLog`: only what speaks of
// this user's own profile or hive, since a later elevated uninstall
// deletes what the log lists.
void MergeUserInstallLog(HKEY user, const std::string& profileFolder, TStringList& mainLog) {
  const std::string data = UserDataFolder(user, profileFolder);
  if (data.empty() || !FileExists(data + kInstallLogName)) return;
  std::string text;
  if (ReadUserFile(data + kInstallLogName, text, true) != ERROR_SUCCESS) return;
  for (const std::string& line : SplitLines(text))
    if (IsUserLogLine(line, profileFolder)) mainLog.push_back(line);
}

void RemoveUserData(HKEY user, const std::string& profileFolder) {
  const std::string data = UserDataFolder(user, profileFolder);
  if (DeleteUserKeyTree(user, kSettingsKey, true) == ERROR_SUCCESS)
    DeleteUserKeyTree(user, "SOFTWARE\\Quennet", false);  // only when no other product is left there
  for (const char* file : {"zorvex.$$$", "history.bak", "zorvex.dat", "category.dat", "history.dat"})
    DeleteUserFile(data + file);
  // Both go only when empty.
  RemoveDirectoryA(data.c_str());
  RemoveDirectoryA(FolderOf(WithoutTrailingBackslash(data)).c_str());
}

// Unloads a hive the walk loaded, on every way out of the user's turn.
class THiveLoad {
 public:
  THiveLoad(const std::string& hiveName, const std::string& file)
      : name_(hiveName), loaded_(RegLoadKeyA(HKEY_USERS, hiveName.c_str(), file.c_str()) == ERROR_SUCCESS) {}
  ~THiveLoad() {
    if (loaded_) RegUnLoadKeyA(HKEY_USERS, name_.c_str());
  }
  THiveLoad(const THiveLoad&) = delete;
  THiveLoad& operator=(const THiveLoad&) = delete;

 private:
  std::string name_;
  bool loaded_;
};

using GetFinalPathNameByHandleWFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

template <typename Fn>
Fn Kernel32Function(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

// The path the system resolves the opened file to (links and junctions
// followed), as "X:\..." text; empty when the system cannot say.
std::string FinalPathOf(HANDLE opened) {
  static const auto finalPathOf = Kernel32Function<GetFinalPathNameByHandleWFn>("GetFinalPathNameByHandleW");
  if (!finalPathOf) return {};
  std::wstring wide(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = finalPathOf(opened, wide.data(), static_cast<DWORD>(wide.size()), 0);
    if (length == 0) return {};
    if (length < wide.size()) {
      wide.resize(length);
      break;
    }
    wide.resize(length + 1);
  }
  if (wide.compare(0, 4, L"\\\\?\\") == 0) wide.erase(0, 4);
  return AnsiPath(wide);
}

// The same for `path`; empty when it cannot be opened either.
std::string FinalPath(const std::string& path) {
  const UniqueFile opened(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return opened ? FinalPathOf(opened.get()) : std::string();
}

bool IsReparsePoint(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A user's file is read only up to this size.
constexpr DWORD kUserFileLimit = 1 << 20;

}  // namespace

// A path computed with the wide calls, in the code page the jobs work in.
// A character the code page lacks stays "?", which no file name holds: the
// elevated helper never takes such a path for another file.
std::string AnsiPath(const std::wstring& path) { return zv::win::ToAnsi(path, zv::win::Unholdable::kQuestionMark); }

void ForEachUserHive(const THelperState& state, REGSAM access, const TUserRoutine& routine) {
  const bool nt = IsNtFamily(state);
  std::string defaultFolder;
  std::vector<TProfile> profiles = ListProfiles(nt, defaultFolder);
  if (nt) {
    if (!defaultFolder.empty()) profiles.push_back({defaultFolder, kDefaultUserHive});
    if (!EnableRestorePrivilege()) return;
  }
  if (profiles.empty()) {
    // The single user of a 9x system has no profile folder of its own.
    RunUserRoutine(routine, HKEY_CURRENT_USER, std::string());
    return;
  }
  const char* const hiveFile = nt ? "NTUser.dat" : "User.dat";
  for (const TProfile& profile : profiles) {
    // Fails for a user who is logged on: the hive is there already and
    // stays loaded.
    const THiveLoad load(profile.hiveName, profile.folder + hiveFile);
    UniqueHkey user;
    if (RegOpenKeyExA(HKEY_USERS, profile.hiveName.c_str(), 0, access, user.put()) != ERROR_SUCCESS) continue;
    if (!RunUserRoutine(routine, user.get(), profile.folder)) return;
  }
}

bool RunUserRoutine(const TUserRoutine& routine, HKEY user, const std::string& profileFolder) {
  // One user's bad data ends that user's turn, not the walk.
  try {
    return routine(user, profileFolder);
  } catch (...) {
    return true;
  }
}

UniqueFile PinUserFolder(const std::string& folder, const std::string& profileFolder) {
  if (ContainedUserFolder(folder, profileFolder).empty()) return {};
  UniqueFile pinned(CreateFileA(WithoutTrailingBackslash(folder).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!pinned || !GetFileInformationByHandle(pinned.get(), &info) ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return {};
  if (profileFolder.empty()) return pinned;
  // Checked again through the handle: a name swapped between the check
  // and the open would show here, and none can be swapped from now on.
  const std::string finalProfile = FinalPath(WithoutTrailingBackslash(profileFolder));
  const std::string finalFolder = FinalPathOf(pinned.get());
  if (finalProfile.empty() != finalFolder.empty()) return {};
  if (!finalProfile.empty() && !IsPathInside(finalFolder, finalProfile)) return {};
  return pinned;
}

std::string ContainedUserFolder(const std::string& value, const std::string& profileFolder) {
  static const TFolderFacts facts{
      [](const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; },
      IsReparsePoint, FinalPath};
  return ContainedFolder(value, profileFolder, facts);
}

DWORD ReadUserFile(const std::string& path, std::string& text, bool deleteAfter) {
  text.clear();
  DWORD error = ERROR_SUCCESS;
  UniqueFile file = OpenFileItself(path, GENERIC_READ | (deleteAfter ? DELETE : 0), kUserFileLimit, error);
  if (!file) return error;
  const DWORD size = GetFileSize(file.get(), nullptr);
  std::string content(size, '\0');
  DWORD read = 0;
  if (size > 0 && !ReadFile(file.get(), content.data(), size, &read, nullptr)) return GetLastError();
  content.resize(read);
  text = std::move(content);
  if (deleteAfter) DeleteOpenedFile(file, path);
  return ERROR_SUCCESS;
}

bool DeleteUserFile(const std::string& path) {
  DWORD error = ERROR_SUCCESS;
  UniqueFile file = OpenFileItself(path, DELETE | FILE_READ_ATTRIBUTES, kUserFileLimit, error);
  if (!file && error == ERROR_FILE_TOO_LARGE) {
    // Size does not matter for a deletion; the other refusals do.
    file.reset(CreateFileA(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  }
  return file && DeleteOpenedFile(file, path);
}

DWORD ReadTextFile(const std::string& path, std::string& text, DWORD limit) {
  text.clear();
  UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return GetLastError();
  DWORD size = GetFileSize(file.get(), nullptr);
  if (size == INVALID_FILE_SIZE) return GetLastError();
  if (size > limit) size = limit;
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
  std::string folder = AnsiPath(zv::win::ShellFolder(csidl));
  if (!folder.empty()) folder.pop_back();  // as the shell gives it, without the "\"
  return folder;
}

std::string HelperPath() { return AnsiPath(zv::win::ModulePath(nullptr)); }

std::string HelperFolder() { return FolderOf(HelperPath()); }

std::string UserDataFolder(HKEY user, const std::string& profileFolder) {
  // A folder outside the user's own profile counts as none.
  const std::string folder = ContainedUserFolder(ReadUserString(user, kSettingsKey, "AppDataPath"), profileFolder);
  return folder.empty() ? DefaultDataFolder() : IncludeTrailingBackslash(folder);
}

int32_t JobRemoveUserIntegration(const TJobArgs&, const THelperState& state) {
  const std::string mainLogPath = IncludeTrailingBackslash(state.installFolder) + kInstallLogName;
  if (!FileExists(mainLogPath)) return ERROR_SUCCESS;
  TStringList mainLog;
  if (const DWORD status = ReadInstallLog(mainLogPath, mainLog)) return static_cast<int32_t>(status);
  ForEachUserHive(state, KEY_ALL_ACCESS, [&](HKEY user, const std::string& profileFolder) {
    RemoveIntegrationEntries(user, state.installFolder);
    MergeUserInstallLog(user, profileFolder, mainLog);
    return true;
  });
  return static_cast<int32_t>(WriteInstallLog(mainLogPath, mainLog));
}

int32_t JobRemoveUserData(const TJobArgs&, const THelperState& state) {
  ForEachUserHive(state, KEY_ALL_ACCESS, [](HKEY user, const std::string& profileFolder) {
    RemoveUserData(user, profileFolder);
    return true;
  });
  return ERROR_SUCCESS;
}

int32_t JobWriteUserValue(const TJobArgs& job, const THelperState& state) {
  // The value path below the settings key, as a registry path's subkey and
  // value name; each key on the way is the user's, so none may be a link.
  const std::string path = std::string(kSettingsKey) + "\\" + job.Param1;
  const size_t last = path.rfind('\\');
  const std::string subkey = path.substr(0, last), valueName = path.substr(last + 1);
  ForEachUserHive(state, KEY_WRITE, [&](HKEY user, const std::string&) {
    UniqueHkey key;
    if (OpenKeyNoLinks(user, subkey, KEY_WRITE, key.put(), true) == ERROR_SUCCESS)
      SetValueExactly(key.get(), valueName, REG_SZ, job.Param2);
    return true;
  });
  return ERROR_SUCCESS;
}

}  // namespace zv::adm
