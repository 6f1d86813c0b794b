#include "AdmDispatch.h"
#include "BrowserJobs.h"
#include "Shortcuts.h"
#include "UserHives.h"

#include "FileJobs.h"

namespace zv::adm {
namespace {

// Kinds 8 and 9 are sent but do nothing.
constexpr uint8_t kNoAction8 = 8;
constexpr uint8_t kNoAction9 = 9;

struct JobRow {
  uint8_t kind;
  TJobProc proc;  // null: the job's Result stays as it was sent
};

// Indexed by kind; each row is checked to sit at its kind's index.
constexpr JobRow kJobRows[kJobKindCount] = {
    {jkCallExport, JobCallExport},
    {jkDeleteRegistry, JobDeleteRegistry},
    {jkWriteRegSz, JobWriteRegSz},
    {jkWriteRegDword, JobWriteRegDword},
    {jkWriteRegBinary, JobWriteRegBinary},
    {jkWriteRegExpandSz, JobWriteRegExpandSz},
    {jkRemoveUserIntegration, JobRemoveUserIntegration},
    {jkRemoveUserData, JobRemoveUserData},
    {kNoAction8, nullptr},
    {kNoAction9, nullptr},
    {jkDeleteFile, JobDeleteFile},
    {jkDeleteFileAtRestart, JobDeleteFileAtRestart},
    {jkRemoveFolder, JobRemoveFolder},
    {jkRemoveSelf, JobRemoveSelf},
    {jkMessageBox, JobMessageBox},
    {jkShellFileOperation, JobShellFileOperation},
    {jkCreateUserShortcuts, JobCreateUserShortcuts},
    {jkCreateFolder, JobCreateFolder},
    {jkPutHelperObjectFirst, JobPutHelperObjectFirst},
    {jkAllowLowRightsLaunch, JobAllowLowRightsLaunch},
    {jkReplaceFile, JobReplaceFile},
    {jkSetIntegrationMethod, JobSetIntegrationMethod},
    {jkWriteUserValue, JobWriteUserValue},
    {jkWriteIniString, JobWriteIniString},
};
static_assert(kJobRows[jkCallExport].kind == jkCallExport);
static_assert(kJobRows[jkDeleteRegistry].kind == jkDeleteRegistry);
static_assert(kJobRows[jkWriteRegSz].kind == jkWriteRegSz);
static_assert(kJobRows[jkWriteRegDword].kind == jkWriteRegDword);
static_assert(kJobRows[jkWriteRegBinary].kind == jkWriteRegBinary);
static_assert(kJobRows[jkWriteRegExpandSz].kind == jkWriteRegExpandSz);
static_assert(kJobRows[jkRemoveUserIntegration].kind == jkRemoveUserIntegration);
static_assert(kJobRows[jkRemoveUserData].kind == jkRemoveUserData);
static_assert(kJobRows[kNoAction8].kind == kNoAction8);
static_assert(kJobRows[kNoAction9].kind == kNoAction9);
static_assert(kJobRows[jkDeleteFile].kind == jkDeleteFile);
static_assert(kJobRows[jkDeleteFileAtRestart].kind == jkDeleteFileAtRestart);
static_assert(kJobRows[jkRemoveFolder].kind == jkRemoveFolder);
static_assert(kJobRows[jkRemoveSelf].kind == jkRemoveSelf);
static_assert(kJobRows[jkMessageBox].kind == jkMessageBox);
static_assert(kJobRows[jkShellFileOperation].kind == jkShellFileOperation);
static_assert(kJobRows[jkCreateUserShortcuts].kind == jkCreateUserShortcuts);
static_assert(kJobRows[jkCreateFolder].kind == jkCreateFolder);
static_assert(kJobRows[jkPutHelperObjectFirst].kind == jkPutHelperObjectFirst);
static_assert(kJobRows[jkAllowLowRightsLaunch].kind == jkAllowLowRightsLaunch);
static_assert(kJobRows[jkReplaceFile].kind == jkReplaceFile);
static_assert(kJobRows[jkSetIntegrationMethod].kind == jkSetIntegrationMethod);
static_assert(kJobRows[jkWriteUserValue].kind == jkWriteUserValue);
static_assert(kJobRows[jkWriteIniString].kind == jkWriteIniString);

}  // namespace

TJobProc JobProcOf(uint8_t kind) { return kind < kJobKindCount ? kJobRows[kind].proc : nullptr; }

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

}  // namespace zv::adm
