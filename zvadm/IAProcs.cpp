#include "IAProcs.h"

#include <string>
#include <vector>

#include "win/unique_handles.h"

namespace zvadm {
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
  using AllocateAndInitializeSidFn = BOOL(WINAPI*)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD,
                                                   DWORD, DWORD, DWORD, DWORD, PSID*);
  using SetTokenInformationFn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD);
  using GetLengthSidFn = DWORD(WINAPI*)(PSID);
  using CreateProcessAsUserWFn = BOOL(WINAPI*)(HANDLE, LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES,
                                               LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR,
                                               LPSTARTUPINFOW, LPPROCESS_INFORMATION);
  using FreeSidFn = PVOID(WINAPI*)(PSID);
  using CreateProcessWithTokenWFn = BOOL(WINAPI*)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR,
                                                  LPSTARTUPINFOW, LPPROCESS_INFORMATION);

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

  template <typename Fn>
  Fn Find(const char* name) const {
    if (!library) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library.get(), name)));
  }
};

constexpr DWORD kMandatoryUntrusted = 0x0000;
constexpr DWORD kMandatoryLow = 0x1000;
constexpr DWORD kMandatoryMedium = 0x2000;
constexpr DWORD kMandatoryHigh = 0x3000;
constexpr DWORD kMandatorySystem = 0x4000;

uint8_t LevelOfRid(DWORD rid) {
  switch (rid) {
    case kMandatoryUntrusted: return ilUntrusted;
    case kMandatoryLow: return ilLow;
    case kMandatoryMedium: return ilMedium;
    case kMandatoryHigh: return ilHigh;
    case kMandatorySystem: return ilSystem;
    default: return ilUnknown;
  }
}

DWORD RidOfLevel(uint8_t level) {
  switch (level) {
    case ilUntrusted: return kMandatoryUntrusted;
    case ilLow: return kMandatoryLow;
    case ilHigh: return kMandatoryHigh;
    case ilSystem: return kMandatorySystem;
    default: return kMandatoryMedium;
  }
}

std::wstring Widen(const char* text) {
  if (!text) return {};
  const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

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

// The unelevated half of our own split token.
UniqueHandle LinkedToken(const TokenApi& tokens) {
  UniqueHandle own;
  if (!tokens.OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.put())) return {};
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  if (!tokens.GetTokenInformation(own.get(), TokenElevationType, &type, sizeof(type), &size) ||
      type != TokenElevationTypeFull)
    return {};
  TOKEN_LINKED_TOKEN linked{};
  if (!tokens.GetTokenInformation(own.get(), TokenLinkedToken, &linked, sizeof(linked), &size)) return {};
  const UniqueHandle owned(linked.LinkedToken);
  return PrimaryCopy(tokens, owned.get());
}

}  // namespace

uint8_t QueryIntegrityLevel(DWORD majorVersion) {
  if (majorVersion <= 5) return ilUnknown;
  const TokenApi api;
  if (!api.OpenProcessToken || !api.GetTokenInformation || !api.GetSidSubAuthority) return ilUnknown;
  UniqueHandle token;
  if (!api.OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return ilUnknown;
  DWORD size = 0;
  if (api.GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return ilUnknown;
  std::vector<BYTE> buffer(size);
  if (!api.GetTokenInformation(token.get(), TokenIntegrityLevel, buffer.data(), size, &size)) return ilUnknown;
  const auto* label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.data());
  return LevelOfRid(*api.GetSidSubAuthority(label->Label.Sid, 0));
}

HANDLE LaunchAtIntegrityLevel(HWND, const char* fileName, uint8_t level, const char* commandLine) {
  const TokenApi api;
  if (!api.OpenProcessToken || !api.DuplicateTokenEx || !api.AllocateAndInitializeSid ||
      !api.SetTokenInformation || !api.GetLengthSid || !api.CreateProcessAsUserW || !api.FreeSid)
    return nullptr;
  UniqueHandle token, lowered;
  if (!api.OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE, token.put())) return nullptr;
  if (!api.DuplicateTokenEx(token.get(), MAXIMUM_ALLOWED, nullptr, SecurityAnonymous, TokenPrimary,
                            lowered.put()))
    return nullptr;

  SID_IDENTIFIER_AUTHORITY mandatoryLabel = {{0, 0, 0, 0, 0, 16}};
  PSID sid = nullptr;
  if (!api.AllocateAndInitializeSid(&mandatoryLabel, 1, RidOfLevel(level), 0, 0, 0, 0, 0, 0, 0, &sid))
    return nullptr;
  TOKEN_MANDATORY_LABEL label{};
  label.Label.Sid = sid;
  label.Label.Attributes = SE_GROUP_INTEGRITY;
  HANDLE process = nullptr;
  // The record and its SID: 8 + SID length on 32-bit Windows, the record
  // being wider on 64-bit.
  const DWORD labelSize = static_cast<DWORD>(sizeof(label)) + api.GetLengthSid(sid);
  if (api.SetTokenInformation(lowered.get(), TokenIntegrityLevel, &label, labelSize)) {
    std::wstring application = Widen(fileName);
    std::wstring arguments = Widen(commandLine);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (api.CreateProcessAsUserW(lowered.get(), application.c_str(), commandLine ? arguments.data() : nullptr,
                                 nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
      CloseHandle(info.hThread);
      process = info.hProcess;
    }
  }
  api.FreeSid(sid);
  return process;
}

HANDLE LaunchUnelevated(const char* fileName) {
  const TokenApi tokens;
  if (!fileName || !tokens.CreateProcessWithTokenW || !tokens.OpenProcessToken || !tokens.DuplicateTokenEx ||
      !tokens.GetTokenInformation)
    return nullptr;
  UniqueHandle token = ShellToken(tokens);
  if (!token) token = LinkedToken(tokens);
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

}  // namespace zvadm
