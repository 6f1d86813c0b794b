// Hive files for the demo's user profiles:
//   hive_aid save KEY FILE     writes HKEY_CURRENT_USER\KEY as the hive FILE
//   hive_aid load NAME FILE    loads FILE under HKEY_USERS\NAME (a user who
//                              is logged on, as the helper sees it)
//   hive_aid unload NAME
// Exit code: 0, or the registry's error.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "win/unique_handles.h"

namespace {

void Enable(const char* privilege) {
  zv::win::UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueA(nullptr, privilege, &privileges.Privileges[0].Luid))
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
}

LONG Save(const char* key, const char* file) {
  zv::win::UniqueHkey opened;
  const LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, opened.put());
  if (status != ERROR_SUCCESS) return status;
  Enable("SeBackupPrivilege");
  DeleteFileA(file);
  return RegSaveKeyA(opened.get(), file, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return ERROR_INVALID_PARAMETER;
  LONG status = ERROR_INVALID_PARAMETER;
  Enable("SeRestorePrivilege");
  if (std::strcmp(argv[1], "save") == 0 && argc == 4) status = Save(argv[2], argv[3]);
  if (std::strcmp(argv[1], "load") == 0 && argc == 4) status = RegLoadKeyA(HKEY_USERS, argv[2], argv[3]);
  if (std::strcmp(argv[1], "unload") == 0) status = RegUnLoadKeyA(HKEY_USERS, argv[2]);
  if (status != ERROR_SUCCESS) std::fprintf(stderr, "hive_aid %s: error %ld\n", argv[1], status);
  return static_cast<int>(status);
}
