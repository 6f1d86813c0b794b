// zvadm: runs the download manager's job list with administrator rights.
// The list arrives in a named section; the results go back into it and the
// combined result becomes the exit code. Without the section the portable
// edition is started instead, at medium integrity where that applies.
//
// Exit codes: the combined job result (0 when every job succeeded; 3010
// once any job needs a restart); the system error of opening or mapping the
// section (2 when there is none: only then is the portable edition
// started); or kExitListDoesNotFit below.
#include <windows.h>

#include <cstddef>

#include "AdmDispatch.h"
#include "AdmShared.h"
#include "AdmUtils.h"
#include "FileJobText.h"
#include "IAProcs.h"
#include "ModuleLoading.h"
#include "SectionTrust.h"
#include "UserHives.h"
#include "win/unique_handles.h"

namespace zv::adm {
namespace {

using zv::win::UniqueHandle;
using zv::win::UniqueView;

constexpr char kJobMappingName[] = "{750C39A2-58C8-4E5A-A046-663086CC2DFB}";
constexpr char kStartEventName[] = "{734A6A71-3AC0-487A-AEA2-A4BE502B4E46}";
constexpr char kPortableAppPaths[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\kestrix.exe";

// The section's count, an offset or a length points outside the section,
// the list would not fit when written back, or the section was made by a
// process below medium integrity: no job ran, nothing was written. The customer bit (1 << 29) keeps this apart from
// every system error code a job or the section's opening can end with.
constexpr DWORD kExitListDoesNotFit = 0x20000000u | ERROR_INVALID_DATA;  // 0x2000000D

THelperState LoadHelperState() {
  THelperState state;
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (GetVersionExA(&version)) {
#pragma GCC diagnostic pop
    state.platformId = version.dwPlatformId;
    state.majorVersion = version.dwMajorVersion;
  }
  state.installFolder = ReadRegString(HKEY_LOCAL_MACHINE, kPortableAppPaths, "Path");
  if (state.installFolder.empty())
    state.installFolder = FolderOf(ReadRegString(HKEY_LOCAL_MACHINE, kPortableAppPaths, ""));
  if (state.installFolder.empty()) state.installFolder = HelperFolder();
  return state;
}

// Tells the download manager that the list was read and is about to run;
// it goes on regardless, so failures do not matter.
void SignalStartEvent() {
  UniqueHandle event(OpenEventA(EVENT_MODIFY_STATE, FALSE, kStartEventName));
  if (event) SetEvent(event.get());
}

// Only a section that does not exist means "no job list". One that exists
// but would not open (access denied, or a same-named object of another
// type) is somebody's job list, and starting the portable edition instead
// would act on a request nobody made.
bool IsMissingChannel(DWORD openError) {
  return openError == ERROR_FILE_NOT_FOUND || openError == ERROR_PATH_NOT_FOUND;
}

// The bytes of the view that can be read: the committed pages from its start.
size_t MappedSize(const void* view) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(view, &info, sizeof(info)) != sizeof(info) || info.State != MEM_COMMIT) return 0;
  return info.RegionSize - (static_cast<const char*>(view) - static_cast<const char*>(info.BaseAddress));
}

void StartPortableEdition(const THelperState& state) {
  // The registered program only: the current folder is anybody's to fill.
  const std::string program = ReadRegString(HKEY_LOCAL_MACHINE, kPortableAppPaths, "");
  if (program.empty()) return;
  // The token decides, not the version: a helper that a compatibility
  // setting tells it runs on an old system is still elevated.
  const uint8_t level = OwnIntegrityLevel();
  if (level == ilUnknown || level == ilMedium) {
    ShellExecuteA(nullptr, "open", program.c_str(), nullptr, nullptr, SW_SHOW);
    return;
  }
  UniqueHandle process(LaunchUnelevated(program.c_str()));
  // Without the shell's token: a copy of ours, stripped of the
  // administrator's group and privileges as well as lowered.
  if (!process) process.reset(LaunchAtIntegrityLevel(nullptr, program.c_str(), ilMedium, nullptr));
}

DWORD RunHelper() {
  THelperState state = LoadHelperState();
  UniqueHandle mapping(OpenFileMappingA(FILE_MAP_WRITE | READ_CONTROL, FALSE, kJobMappingName));
  if (!mapping) {
    const DWORD error = GetLastError();
    if (IsMissingChannel(error)) StartPortableEdition(state);
    return error;
  }
  // Wherever labels exist, who made the section decides whether its list
  // is run at all. The token tells, not the version a compatibility
  // setting reports.
  if (TokenReportsIntegrityLevel()) {
    TSectionSecurity security;
    if (!QuerySectionSecurity(mapping.get(), security) || !IsTrustedSection(security)) return kExitListDoesNotFit;
  }
  UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0));
  if (!view) return GetLastError();

  const size_t size = MappedSize(view.get());
  TJobList list;
  if (!ReadJobList(view.get(), size, list)) return kExitListDoesNotFit;
  // Only now: a sender that sees the event may count on its list running.
  SignalStartEvent();
  RunJobList(list, state);
  // Fits: the read refused any list whose write-back would not.
  WriteJobList(list, view.get(), size);
  return static_cast<DWORD>(state.exitCode);
}

}  // namespace
}  // namespace zv::adm

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before anything can load a library.
  zv::adm::RestrictLibrarySearch();
  // C++ failures (out of memory) must not surface as a crash dialog.
  try {
    return static_cast<int>(zv::adm::RunHelper());
  } catch (...) {
    return static_cast<int>(ERROR_NOT_ENOUGH_MEMORY);
  }
}
