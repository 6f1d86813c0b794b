#include "Unelevated.h"

#include <string>

#include "win/unique_handles.h"

namespace zvadm {
namespace {

using zv::win::UniqueHandle;
using zv::win::UniqueLibrary;

// Looked up at run time: the 9x family and early NT lack some of them.
struct LaunchApi {
  using CreateProcessWithTokenWFn = BOOL(WINAPI*)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR,
                                                  LPSTARTUPINFOW, LPPROCESS_INFORMATION);
  using GetShellWindowFn = HWND(WINAPI*)();
  UniqueLibrary advapi{LoadLibraryA("advapi32.dll")};
  CreateProcessWithTokenWFn CreateProcessWithTokenW = reinterpret_cast<CreateProcessWithTokenWFn>(
      advapi ? reinterpret_cast<void*>(GetProcAddress(advapi.get(), "CreateProcessWithTokenW")) : nullptr);
  GetShellWindowFn GetShellWindow = reinterpret_cast<GetShellWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetShellWindow")));
};

constexpr DWORD kPrimaryAccess =
    TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID;

UniqueHandle PrimaryCopy(HANDLE token) {
  UniqueHandle primary;
  if (!DuplicateTokenEx(token, kPrimaryAccess, nullptr, SecurityImpersonation, TokenPrimary, primary.put()))
    primary.reset();
  return primary;
}

// The desktop shell runs as the signed-in user at medium integrity.
UniqueHandle ShellToken(const LaunchApi& api) {
  HWND shell = api.GetShellWindow ? api.GetShellWindow() : nullptr;
  if (!shell) return {};
  DWORD processId = 0;
  GetWindowThreadProcessId(shell, &processId);
  if (!processId) return {};
  UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
  if (!process) return {};
  UniqueHandle token;
  if (!OpenProcessToken(process.get(), TOKEN_DUPLICATE, token.put())) return {};
  return PrimaryCopy(token.get());
}

// The unelevated half of our own split token.
UniqueHandle LinkedToken() {
  UniqueHandle own;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.put())) return {};
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  if (!GetTokenInformation(own.get(), TokenElevationType, &type, sizeof(type), &size) ||
      type != TokenElevationTypeFull)
    return {};
  TOKEN_LINKED_TOKEN linked{};
  if (!GetTokenInformation(own.get(), TokenLinkedToken, &linked, sizeof(linked), &size)) return {};
  const UniqueHandle owned(linked.LinkedToken);
  return PrimaryCopy(owned.get());
}

std::wstring Widen(const char* text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

}  // namespace

HANDLE LaunchUnelevated(const char* fileName) {
  const LaunchApi api;
  if (!fileName || !api.CreateProcessWithTokenW) return nullptr;
  UniqueHandle token = ShellToken(api);
  if (!token) token = LinkedToken();
  if (!token) return nullptr;
  const std::wstring application = Widen(fileName);
  std::wstring commandLine = L"\"" + application + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!api.CreateProcessWithTokenW(token.get(), 0, application.c_str(), commandLine.data(), 0, nullptr, nullptr,
                                   &startup, &info))
    return nullptr;
  CloseHandle(info.hThread);
  return info.hProcess;
}

}  // namespace zvadm
