// Job kinds, the helper-wide state the jobs read, and the dispatcher.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "AdmShared.h"

namespace zv::adm {

enum TJobKind : uint8_t {
  jkCallExport = 0,
  jkDeleteRegistry = 1,
  jkWriteRegSz = 2,
  jkWriteRegDword = 3,
  jkWriteRegBinary = 4,
  jkWriteRegExpandSz = 5,
  jkRemoveUserIntegration = 6,
  jkRemoveUserData = 7,
  // 8 and 9: no action.
  jkDeleteFile = 10,
  jkDeleteFileAtRestart = 11,
  jkRemoveFolder = 12,
  jkRemoveSelf = 13,
  jkMessageBox = 14,
  jkShellFileOperation = 15,
  jkCreateUserShortcuts = 16,
  jkCreateFolder = 17,
  jkPutHelperObjectFirst = 18,
  jkAllowLowRightsLaunch = 19,
  jkReplaceFile = 20,
  jkSetIntegrationMethod = 21,
  jkWriteUserValue = 22,
  jkWriteIniString = 23,
};
constexpr unsigned kJobKindCount = 24;

constexpr int32_t kResultRebootRequired = 3010;  // ERROR_SUCCESS_REBOOT_REQUIRED

struct THelperState {
  DWORD platformId = 0;    // 2: NT family, 1: 9x family
  DWORD majorVersion = 0;  // above 5: integrity levels exist
  std::string installFolder;
  int32_t exitCode = 0;  // combined so far; kind 13 reads it
};

// What a job gets: its parameters (NUL-terminated copies, for the ANSI
// calls) and the incoming Result. It returns its result; the dispatcher
// stores it.
struct TJobArgs {
  std::string Param1;
  std::string Param2;
  int32_t Result = 0;
};
using TJobProc = int32_t (*)(const TJobArgs& job, const THelperState& state);

// The operation of a kind, or nullptr for a kind that does nothing (8, 9,
// above 23, and the kinds not built into this helper yet).
TJobProc JobProcOf(uint8_t kind);

// Runs one job; a kind without an operation gives back the Result it was sent.
int32_t RunJob(uint8_t kind, const TJobArgs& job, const THelperState& state);

// The exit-code rule: a non-zero result replaces the exit code, except that
// once it is 3010 nothing replaces it.
int32_t CombineExitCode(int32_t exitCode, int32_t result);

// Runs every job in list order, storing each result and combining it into
// state.exitCode.
void RunJobList(TJobList& list, THelperState& state);

// The jobs of the registry and module kinds (0 to 5).
int32_t CallExport(const std::string& library, const std::string& exportName);
int32_t JobCallExport(const TJobArgs& job, const THelperState& state);
int32_t JobDeleteRegistry(const TJobArgs& job, const THelperState& state);
int32_t JobWriteRegSz(const TJobArgs& job, const THelperState& state);
int32_t JobWriteRegDword(const TJobArgs& job, const THelperState& state);
int32_t JobWriteRegBinary(const TJobArgs& job, const THelperState& state);
int32_t JobWriteRegExpandSz(const TJobArgs& job, const THelperState& state);

}  // namespace zv::adm
