// A stand-in for the portable edition that records that it was started and
// at which integrity level. Without arguments (as the helper starts it) the
// record goes to "<exe>.log", else to the file named by the first argument.
// Record: "START pid=<n> rid=0x<hex> admin=<0|1>\n" (rid 0xFFFF: the level
// was unknown; admin=1: the Administrators group is enabled in its token).
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "win/unique_handles.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  DWORD rid = 0xFFFF;
  zv::win::UniqueHandle token;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
    BYTE buffer[256];
    DWORD size = 0;
    if (GetTokenInformation(token.get(), TokenIntegrityLevel, buffer, sizeof(buffer), &size))
      rid = *GetSidSubAuthority(reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid, 0);
  }
  SID_IDENTIFIER_AUTHORITY nt = {{0, 0, 0, 0, 0, 5}};
  PSID administrators = nullptr;
  BOOL admin = FALSE;
  if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                               &administrators)) {
    if (!CheckTokenMembership(nullptr, administrators, &admin)) admin = TRUE;  // unknown counts as admin
    FreeSid(administrators);
  }
  char log[MAX_PATH + 8] = {};
  if (__argc > 1) {
    std::snprintf(log, sizeof(log), "%s", __argv[1]);
  } else {
    GetModuleFileNameA(nullptr, log, MAX_PATH);
    std::strcat(log, ".log");
  }
  if (FILE* file = std::fopen(log, "ab")) {
    std::fprintf(file, "START pid=%lu rid=0x%lX admin=%d\n", GetCurrentProcessId(), rid, admin ? 1 : 0);
    std::fclose(file);
  }
  return 0;
}
