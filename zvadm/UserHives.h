// Every user profile of the machine, logged on or not, through its registry
// hive; the install log; and the per-user clean-up jobs built on the walk.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "AdmDispatch.h"
#include "AdmText.h"
#include "win/unique_handles.h"

namespace zv::adm {

// The download manager's settings key in each user's hive, and where a
// user's shell folders are recorded.
constexpr char kSettingsKey[] = "SOFTWARE\\Quennet\\Zorvane";
constexpr char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Called with the opened root of a user's hive and the profile folder
// (trailing "\"; empty for the single user of a 9x system without
// profiles); false stops the walk.
using TUserRoutine = std::function<bool(HKEY user, const std::string& profileFolder)>;

// Runs `routine` for each profile of the ProfileList in reverse order of its
// subkeys, then (NT family) for the default user; a hive that is not loaded
// yet is loaded for the call and unloaded after it. `access` opens the
// hive's root. A 9x system without profiles gets one call for the current
// user, with no profile folder.
// A routine that fails (throws) ends its user's turn only; every hive the
// walk loaded is unloaded again.
void ForEachUserHive(const THelperState& state, REGSAM access, const TUserRoutine& routine);
bool RunUserRoutine(const TUserRoutine& routine, HKEY user, const std::string& profileFolder);

// A folder named by a user's own data (shell folders, "AppDataPath"):
// `value` when it is an absolute local path inside `profileFolder` whose
// names below the profile are no junctions or links and which the system
// resolves to a place inside the profile too; else empty. Without a profile
// folder only the form of the path is checked.
std::string ContainedUserFolder(const std::string& value, const std::string& profileFolder);
// A user's folder that exists and is contained (ContainedUserFolder),
// opened so that neither it nor a folder above it can be renamed or
// replaced while the handle is held (no delete sharing), and checked once
// more through that handle. Null otherwise. Hold it while writing there.
zv::win::UniqueFile PinUserFolder(const std::string& folder, const std::string& profileFolder);
// A file of a user's folder, read (and deleted) through one handle of the
// file itself: a reparse point, a file with more than one name or one over
// 1 MiB is refused (ERROR_CANT_ACCESS_FILE, ERROR_FILE_TOO_LARGE).
DWORD ReadUserFile(const std::string& path, std::string& text, bool deleteAfter);
// Deletes a file of a user's folder the same way; false when it stays.
bool DeleteUserFile(const std::string& path);

// Whole text files, read and written in one call each; the results are
// system error codes.
// At most `limit` bytes are read.
DWORD ReadTextFile(const std::string& path, std::string& text, DWORD limit = MAXDWORD);
DWORD WriteTextFile(const std::string& path, const std::string& text);
// The install log: one entry per line.
DWORD ReadInstallLog(const std::string& path, TStringList& lines);
DWORD WriteInstallLog(const std::string& path, const TStringList& lines);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// A special folder of the shell (CSIDL_...) as the user running the helper
// sees it; empty when the shell does not know it.
std::string ShellFolder(int csidl);
// A path from the wide calls in the jobs' code page ("?" where it cannot).
std::string AnsiPath(const std::wstring& path);
// The helper's executable, and its folder with its trailing "\".
std::string HelperPath();
std::string HelperFolder();
// The download manager's data folder for the user of hive `user` (trailing
// "\"): its "AppDataPath" when contained in the profile, else the default.
std::string UserDataFolder(HKEY user, const std::string& profileFolder);

int32_t JobRemoveUserIntegration(const TJobArgs& job, const THelperState& state);
int32_t JobRemoveUserData(const TJobArgs& job, const THelperState& state);
int32_t JobWriteUserValue(const TJobArgs& job, const THelperState& state);

}  // namespace zv::adm
