#include "AdmDispatch.h"
#include "BrowserJobs.h"
#include "Shortcuts.h"
#include "UserHives.h"

#include "FileJobs.h"

namespace zvadm {
namespace {

// Indexed by kind. An empty entry leaves the job's Result as it was sent.
constexpr TJobProc kJobProcs[kJobKindCount] = {
    JobCallExport,        // 0 jkCallExport
    JobDeleteRegistry,    // 1 jkDeleteRegistry
    JobWriteRegSz,        // 2 jkWriteRegSz
    JobWriteRegDword,     // 3 jkWriteRegDword
    JobWriteRegBinary,    // 4 jkWriteRegBinary
    JobWriteRegExpandSz,  // 5 jkWriteRegExpandSz
    JobRemoveUserIntegration,  // 6 jkRemoveUserIntegration
    JobRemoveUserData,    // 7 jkRemoveUserData
    nullptr,              // 8 no action
    nullptr,              // 9 no action
    JobDeleteFile,  // 10 jkDeleteFile
    JobDeleteFileAtRestart,  // 11 jkDeleteFileAtRestart
    JobRemoveFolder,  // 12 jkRemoveFolder
    JobRemoveSelf,  // 13 jkRemoveSelf
    JobMessageBox,  // 14 jkMessageBox
    JobShellFileOperation,  // 15 jkShellFileOperation
    JobCreateUserShortcuts,  // 16 jkCreateUserShortcuts
    JobCreateFolder,  // 17 jkCreateFolder
    JobPutHelperObjectFirst,  // 18 jkPutHelperObjectFirst
    JobAllowLowRightsLaunch,  // 19 jkAllowLowRightsLaunch
    JobReplaceFile,  // 20 jkReplaceFile
    JobSetIntegrationMethod,  // 21 jkSetIntegrationMethod
    JobWriteUserValue,    // 22 jkWriteUserValue
    JobWriteIniString,  // 23 jkWriteIniString
};

}  // namespace

TJobProc JobProcOf(uint8_t kind) { return kind < kJobKindCount ? kJobProcs[kind] : nullptr; }

int32_t RunJob(uint8_t kind, const TJobArgs& job, const THelperState& state) {
  const TJobProc proc = JobProcOf(kind);
  return proc ? proc(job, state) : job.Result;
}

int32_t CombineExitCode(int32_t exitCode, int32_t result) {
  return result != 0 && exitCode != kResultRebootRequired ? result : exitCode;
}

void RunJobList(TJobList& list, THelperState& state) {
  TJobArgs args;
  for (TJobItem& job : list) {
    args.Param1.assign(list.Text(job.Param1));
    args.Param2.assign(list.Text(job.Param2));
    args.Result = job.Result;
    job.Result = RunJob(job.Kind, args, state);
    state.exitCode = CombineExitCode(state.exitCode, job.Result);
  }
}

}  // namespace zvadm
