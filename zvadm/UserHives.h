// Every user profile of the machine, logged on or not, through its registry
// hive; the install log; and the per-user clean-up jobs built on the walk.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "AdmDispatch.h"
#include "AdmText.h"

namespace zvadm {

// The download manager's settings key in each user's hive, and where a
// user's shell folders are recorded.
constexpr char kSettingsKey[] = "SOFTWARE\\Quennet\\Zorvane";
constexpr char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Called with the opened root of a user's hive and the profile folder
// (trailing "\"); false stops the walk.
using TUserRoutine = std::function<bool(HKEY user, const std::string& profileFolder)>;

// Runs `routine` for each profile of the ProfileList in reverse order of its
// subkeys, then (NT family) for the default user; a hive that is not loaded
// yet is loaded for the call and unloaded after it. `access` opens the
// hive's root. A 9x system without profiles gets one call for the current
// user with the Windows folder.
void ForEachUserHive(const THelperState& state, REGSAM access, const TUserRoutine& routine);

// Whole text files, read and written in one call each; the results are
// system error codes.
DWORD ReadTextFile(const std::string& path, std::string& text);
DWORD WriteTextFile(const std::string& path, const std::string& text);
// The install log: one entry per line.
DWORD ReadInstallLog(const std::string& path, TStringList& lines);
DWORD WriteInstallLog(const std::string& path, const TStringList& lines);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// A special folder of the shell (CSIDL_...) as the user running the helper
// sees it; empty when the shell does not know it.
std::string ShellFolder(int csidl);
// The folder of the helper's executable, with its trailing "\".
std::string HelperFolder();
// The download manager's data folder for the user of hive `user` (trailing "\").
std::string UserDataFolder(HKEY user);

int32_t JobRemoveUserIntegration(const TJobArgs& job, const THelperState& state);
int32_t JobRemoveUserData(const TJobArgs& job, const THelperState& state);
int32_t JobWriteUserValue(const TJobArgs& job, const THelperState& state);

}  // namespace zvadm
