#include "integrity.h"

#include "unique_handles.h"

namespace zv::win {
namespace {

std::optional<DWORD> LevelOfToken(HANDLE token) {
  // A label holds one SID of one sub-authority; the buffer fits it at once.
  alignas(TOKEN_MANDATORY_LABEL) BYTE buffer[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof(buffer), &size)) return std::nullopt;
  const PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
  if (!sid || !IsValidSid(sid)) return std::nullopt;
  const UCHAR count = *GetSidSubAuthorityCount(sid);
  if (count == 0) return std::nullopt;
  return *GetSidSubAuthority(sid, count - 1u);
}

std::optional<DWORD> LevelOfProcess(HANDLE process) {
  UniqueHandle token;
  if (!OpenProcessToken(process, TOKEN_QUERY, token.put())) return std::nullopt;
  return LevelOfToken(token.get());
}

}  // namespace

std::optional<DWORD> ProcessIntegrityLevel(DWORD processId) {
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return std::nullopt;
  return LevelOfProcess(process.get());
}

std::optional<DWORD> OwnIntegrityLevel() {
  static const std::optional<DWORD> own = LevelOfProcess(GetCurrentProcess());
  return own;
}

}  // namespace zv::win
