#include "SectionTrust.h"

#include <aclapi.h>

namespace zv::adm {
namespace {

constexpr DWORD kMediumRid = 0x2000;

class LocalMemory {
 public:
  LocalMemory() = default;
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;
  ~LocalMemory() {
    if (memory_) LocalFree(memory_);
  }
  PSECURITY_DESCRIPTOR* put() { return &memory_; }

 private:
  PSECURITY_DESCRIPTOR memory_ = nullptr;
};

}  // namespace

bool IsTrustedSection(const TSectionSecurity& security) {
  return !security.anonymousOwner && (!security.labelled || security.labelRid >= kMediumRid);
}

bool QuerySectionSecurity(HANDLE section, TSectionSecurity& security) {
  security = {};
  PSID owner = nullptr;
  PACL sacl = nullptr;
  LocalMemory descriptor;
  if (GetSecurityInfo(section, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION, &owner,
                      nullptr, nullptr, &sacl, descriptor.put()) != ERROR_SUCCESS)
    return false;
  // Systems that give objects no default descriptor report no owner.
  if (owner && IsValidSid(owner)) security.anonymousOwner = IsWellKnownSid(owner, WinAnonymousSid) != FALSE;
  for (DWORD i = 0; sacl && i < sacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(sacl, i, &ace) || static_cast<ACE_HEADER*>(ace)->AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE) continue;
    PSID label = &static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace)->SidStart;
    if (!IsValidSid(label) || *GetSidSubAuthorityCount(label) < 1) continue;
    const DWORD rid = *GetSidSubAuthority(label, *GetSidSubAuthorityCount(label) - 1);
    // Several labels: the lowest decides.
    if (!security.labelled || rid < security.labelRid) security.labelRid = rid;
    security.labelled = true;
  }
  return true;
}

}  // namespace zv::adm
