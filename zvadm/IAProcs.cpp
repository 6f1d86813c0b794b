#include "IAProcs.h"

#include <string>
#include <vector>

#include "ModuleLoading.h"
#include "win/text.h"
#include "win/unique_handles.h"

namespace zv::adm {
namespace {

using zv::win::UniqueHandle;
using zv::win::UniqueLibrary;

// The token functions are looked up at run time: systems without integrity
// levels may lack some of them.
struct TokenApi {
  using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
  using GetTokenInformationFn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
  using GetSidSubAuthorityFn = PDWORD(WINAPI*)(PSID, DWORD);
  using DuplicateTokenExFn = BOOL(WINAPI*)(HANDLE, DWORD, LPSECURITY_ATTRIBUTES, SECURITY_IMPERSONATION_LEVEL,
                                           TOKEN_TYPE, PHANDLE);
  using AllocateAndInitializeSidFn = BOOL(WINAPI*)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD,
                                                   DWORD, DWORD, DWORD, PSID*);
  using SetTokenInformationFn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD);
  using GetLengthSidFn = DWORD(WINAPI*)(PSID);
  using CreateProcessAsUserWFn = BOOL(WINAPI*)(HANDLE, LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                                               BOOL, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
  using FreeSidFn = PVOID(WINAPI*)(PSID);
  using CreateProcessWithTokenWFn = BOOL(WINAPI*)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR,
                                                  LPSTARTUPINFOW, LPPROCESS_INFORMATION);
  using CreateRestrictedTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, DWORD, PSID_AND_ATTRIBUTES, DWORD, PLUID_AND_ATTRIBUTES,
                                                DWORD, PSID_AND_ATTRIBUTES, PHANDLE);

  UniqueLibrary library{LoadLibraryA("advapi32.dll")};
  OpenProcessTokenFn OpenProcessToken = Find<OpenProcessTokenFn>("OpenProcessToken");
  GetTokenInformationFn GetTokenInformation = Find<GetTokenInformationFn>("GetTokenInformation");
  GetSidSubAuthorityFn GetSidSubAuthority = Find<GetSidSubAuthorityFn>("GetSidSubAuthority");
  DuplicateTokenExFn DuplicateTokenEx = Find<DuplicateTokenExFn>("DuplicateTokenEx");
  AllocateAndInitializeSidFn AllocateAndInitializeSid = Find<AllocateAndInitializeSidFn>("AllocateAndInitializeSid");
  SetTokenInformationFn SetTokenInformation = Find<SetTokenInformationFn>("SetTokenInformation");
  GetLengthSidFn GetLengthSid = Find<GetLengthSidFn>("GetLengthSid");
  CreateProcessAsUserWFn CreateProcessAsUserW = Find<CreateProcessAsUserWFn>("CreateProcessAsUserW");
  FreeSidFn FreeSid = Find<FreeSidFn>("FreeSid");
  CreateProcessWithTokenWFn CreateProcessWithTokenW = Find<CreateProcessWithTokenWFn>("CreateProcessWithTokenW");
  CreateRestrictedTokenFn CreateRestrictedToken = Find<CreateRestrictedTokenFn>("CreateRestrictedToken");

  template <typename Fn>
  Fn Find(const char* name) const {
    return FindFunction<Fn>(library.get(), name);
  }
};

// A SID from AllocateAndInitializeSid, freed with the same library.
class AllocatedSid {
 public:
  AllocatedSid(const TokenApi& api, SID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD first, DWORD second = 0)
      : api_(api) {
    if (!api.AllocateAndInitializeSid(&authority, count, first, second, 0, 0, 0, 0, 0, 0, &sid_)) sid_ = nullptr;
  }
  ~AllocatedSid() {
    if (sid_) api_.FreeSid(sid_);
  }
  AllocatedSid(const AllocatedSid&) = delete;
  AllocatedSid& operator=(const AllocatedSid&) = delete;
  PSID get() const { return sid_; }

 private:
  const TokenApi& api_;
  PSID sid_ = nullptr;
};

constexpr DWORD kMandatoryUntrusted = 0x0000;
constexpr DWORD kMandatoryLow = 0x1000;
constexpr DWORD kMandatoryMedium = 0x2000;
constexpr DWORD kMandatoryHigh = 0x3000;
constexpr DWORD kMandatorySystem = 0x4000;

uint8_t LevelOfRid(DWORD rid) {
  switch (rid) {
    case kMandatoryUntrusted:
      return ilUntrusted;
    case kMandatoryLow:
      return ilLow;
    case kMandatoryMedium:
      return ilMedium;
    case kMandatoryHigh:
      return ilHigh;
    case kMandatorySystem:
      return ilSystem;
    default:
      return ilUnknown;
  }
}

DWORD RidOfLevel(uint8_t level) {
  switch (level) {
    case ilUntrusted:
      return kMandatoryUntrusted;
    case ilLow:
      return kMandatoryLow;
    case ilHigh:
      return kMandatoryHigh;
    case ilSystem:
      return kMandatorySystem;
    default:
      return kMandatoryMedium;
  }
}

std::wstring Widen(const char* text) { return text ? zv::win::WideFromAnsi(text) : std::wstring(); }

constexpr DWORD kPrimaryAccess =
    TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID;

UniqueHandle PrimaryCopy(const TokenApi& tokens, HANDLE token) {
  UniqueHandle primary;
  if (!tokens.DuplicateTokenEx(token, kPrimaryAccess, nullptr, SecurityImpersonation, TokenPrimary, primary.put()))
    primary.reset();
  return primary;
}

// The desktop shell runs as the signed-in user at medium integrity.
UniqueHandle ShellToken(const TokenApi& tokens) {
  using GetShellWindowFn = HWND(WINAPI*)();
  const auto getShellWindow = reinterpret_cast<GetShellWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetShellWindow")));
  HWND shell = getShellWindow ? getShellWindow() : nullptr;
  if (!shell) return {};
  DWORD processId = 0;
  GetWindowThreadProcessId(shell, &processId);
  if (!processId) return {};
  UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
  if (!process) return {};
  UniqueHandle token;
  if (!tokens.OpenProcessToken(process.get(), TOKEN_DUPLICATE, token.put())) return {};
  return PrimaryCopy(tokens, token.get());
}

// The identifier of SeChangeNotifyPrivilege, fixed on every system.
constexpr DWORD kChangeNotifyPrivilege = 23;

// Every privilege of the token except change-notify, which every process
// keeps.
std::vector<LUID_AND_ATTRIBUTES> PrivilegesBesidesChangeNotify(const TokenApi& api, HANDLE token) {
  std::vector<LUID_AND_ATTRIBUTES> others;
  DWORD size = 0;
  if (!api.GetTokenInformation || api.GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return others;
  std::vector<BYTE> buffer(size);
  if (!api.GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) return others;
  const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID luid = privileges->Privileges[i].Luid;
    if (luid.HighPart != 0 || luid.LowPart != kChangeNotifyPrivilege) others.push_back({luid, 0});
  }
  return others;
}

// A primary copy of our token for a program that must not have our rights:
// the Administrators group only denies, every privilege but change-notify
// is gone, and the label is `level`'s. Lowering the label alone would
// leave an administrator; null when any step fails.
UniqueHandle RestrictedCopy(const TokenApi& api, uint8_t level) {
  if (!api.OpenProcessToken || !api.CreateRestrictedToken || !api.AllocateAndInitializeSid ||
      !api.SetTokenInformation || !api.GetLengthSid || !api.FreeSid)
    return {};
  UniqueHandle own, restricted;
  if (!api.OpenProcessToken(GetCurrentProcess(), kPrimaryAccess, own.put())) return {};
  const AllocatedSid administrators(api, {{0, 0, 0, 0, 0, 5}}, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
  const AllocatedSid label(api, {{0, 0, 0, 0, 0, 16}}, 1, RidOfLevel(level));
  if (!administrators.get() || !label.get()) return {};
  SID_AND_ATTRIBUTES denyOnly{administrators.get(), 0};
  // Named one by one as well, for systems that ignore the flag.
  std::vector<LUID_AND_ATTRIBUTES> privileges = PrivilegesBesidesChangeNotify(api, own.get());
  if (!api.CreateRestrictedToken(own.get(), DISABLE_MAX_PRIVILEGE, 1, &denyOnly, static_cast<DWORD>(privileges.size()),
                                 privileges.data(), 0, nullptr, restricted.put()))
    return {};
  TOKEN_MANDATORY_LABEL mandatory{};
  mandatory.Label.Sid = label.get();
  mandatory.Label.Attributes = SE_GROUP_INTEGRITY;
  // The record and its SID: 8 + SID length on 32-bit Windows, the record
  // being wider on 64-bit.
  const DWORD labelSize = static_cast<DWORD>(sizeof(mandatory)) + api.GetLengthSid(label.get());
  if (!api.SetTokenInformation(restricted.get(), TokenIntegrityLevel, &mandatory, labelSize)) return {};
  return restricted;
}

// The last sub-authority of our token's label; false where the token
// reports none.
bool ReadOwnLabelRid(DWORD& rid) {
  const TokenApi api;
  if (!api.OpenProcessToken || !api.GetTokenInformation || !api.GetSidSubAuthority) return false;
  UniqueHandle token;
  if (!api.OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  DWORD size = 0;
  if (api.GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return false;
  std::vector<BYTE> buffer(size);
  if (!api.GetTokenInformation(token.get(), TokenIntegrityLevel, buffer.data(), size, &size)) return false;
  const auto* label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.data());
  rid = *api.GetSidSubAuthority(label->Label.Sid, 0);
  return true;
}

}  // namespace

uint8_t QueryIntegrityLevel(DWORD majorVersion) {
  if (majorVersion <= 5) return ilUnknown;
  return OwnIntegrityLevel();
}

uint8_t OwnIntegrityLevel() {
  DWORD rid = 0;
  if (!ReadOwnLabelRid(rid)) return ilUnknown;
  return LevelOfRid(rid);
}

bool TokenReportsIntegrityLevel() {
  DWORD rid = 0;
  return ReadOwnLabelRid(rid);
}

HANDLE RestrictedTokenAtLevel(uint8_t level) { return RestrictedCopy(TokenApi(), level).release(); }

namespace {

using ProcessIdToSessionIdFn = BOOL(WINAPI*)(DWORD, DWORD*);

ProcessIdToSessionIdFn SessionFunction() {
  return FindFunction<ProcessIdToSessionIdFn>(GetModuleHandleA("kernel32.dll"), "ProcessIdToSessionId");
}

}  // namespace

DWORD OwnSessionId() {
  const auto sessionOf = SessionFunction();
  DWORD session = 0;
  if (!sessionOf || !sessionOf(GetCurrentProcessId(), &session)) return 0;
  return session;
}

bool IsProcessOfSession(DWORD processId, DWORD session) {
  const auto sessionOf = SessionFunction();
  // Without the function the system has no sessions to tell apart.
  if (!sessionOf) return true;
  DWORD theirs = 0;
  return sessionOf(processId, &theirs) && theirs == session;
}

HANDLE LaunchAtIntegrityLevel(HWND, const char* fileName, uint8_t level, const char* commandLine) {
  const TokenApi api;
  if (!api.CreateProcessAsUserW) return nullptr;
  const UniqueHandle token = RestrictedCopy(api, level);
  if (!token) return nullptr;
  const std::wstring application = Widen(fileName);
  std::wstring arguments = Widen(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!api.CreateProcessAsUserW(token.get(), application.c_str(), commandLine ? arguments.data() : nullptr, nullptr,
                                nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return nullptr;
  CloseHandle(info.hThread);
  return info.hProcess;
}

HANDLE LaunchUnelevated(const char* fileName) {
  const TokenApi tokens;
  if (!fileName || !tokens.CreateProcessWithTokenW || !tokens.OpenProcessToken || !tokens.DuplicateTokenEx ||
      !tokens.GetTokenInformation)
    return nullptr;
  const UniqueHandle token = ShellToken(tokens);
  if (!token) return nullptr;
  const std::wstring application = Widen(fileName);
  std::wstring commandLine = L"\"" + application + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!tokens.CreateProcessWithTokenW(token.get(), 0, application.c_str(), commandLine.data(), 0, nullptr, nullptr,
                                      &startup, &info))
    return nullptr;
  CloseHandle(info.hThread);
  return info.hProcess;
}

}  // namespace zv::adm
