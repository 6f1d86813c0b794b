// Whether the job list's section comes from a process trusted enough to
// hand the helper work. The helper opens the section by name, so a process
// at low integrity could have created it first and still hold a writable
// view; such a section carries a mandatory label below medium.
#pragma once

#include <windows.h>

namespace zv::adm {

// The section's owner and its mandatory label, as the security query gave them.
struct TSectionSecurity {
  bool anonymousOwner = false;  // made under the anonymous logon
  bool labelled = false;        // no label counts as medium
  DWORD labelRid = 0;           // the label's level, e.g. 0x1000 low, 0x2000 medium
};

// Trusted: not owned by the anonymous logon, and labelled medium or above
// (or not at all). The owner is not compared with the helper's account:
// after over-the-shoulder elevation the download manager's user differs.
bool IsTrustedSection(const TSectionSecurity& security);

// Reads the owner and label of an open section (the handle needs
// READ_CONTROL); false when the query fails.
bool QuerySectionSecurity(HANDLE section, TSectionSecurity& security);

}  // namespace zv::adm
