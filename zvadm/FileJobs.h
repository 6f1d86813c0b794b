// The file, folder and message jobs (kinds 10 to 15, 17, 20 and 23), the
// restart-time rename they share, and the shell file operation that the
// per-user shortcuts job uses too.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "AdmDispatch.h"
#include "win/unique_handles.h"

namespace zv::adm {

// SHFileOperationA without any user interface: `operation` is FO_MOVE,
// FO_COPY, FO_DELETE or FO_RENAME; each text is a list of NUL-separated
// names. Returns 0; after a failure GetLastError, or the shell's own
// result when it set no last error.
DWORD ShellFileOperation(UINT operation, const std::string& sourceList, const std::string& target);

// A file that somebody else may own, opened as the file it is: not through
// a reparse point (FILE_FLAG_OPEN_REPARSE_POINT), and not a file that has
// another name elsewhere, whose owner could change it at any time
// (ERROR_CANT_ACCESS_FILE); nor one over `sizeLimit` bytes
// (ERROR_FILE_TOO_LARGE). Null with the reason in `error` otherwise.
zv::win::UniqueFile OpenFileItself(const std::string& path, DWORD access, DWORD sizeLimit, DWORD& error);
// Deletes the file of the handle (opened with DELETE access), so that the
// name cannot have been pointed elsewhere meanwhile; where the system has
// no such call, by its name once the handle is closed.
bool DeleteOpenedFile(zv::win::UniqueFile& file, const std::string& path);

// Has the system move `source` to `target` at the next start, or delete it
// when IsDeleteTarget(target): NT keeps the request itself, the 9x family
// reads it from "wininit.ini". Nothing happens when `source` does not exist.
void ScheduleAtRestart(const THelperState& state, const std::string& source, const std::string& target);

// dwFileVersionMS * 2^32 + dwFileVersionLS of the file's version resource;
// 0 when it has none.
int64_t FileVersion(const std::string& file);

int32_t JobDeleteFile(const TJobArgs& job, const THelperState& state);
int32_t JobDeleteFileAtRestart(const TJobArgs& job, const THelperState& state);
int32_t JobRemoveFolder(const TJobArgs& job, const THelperState& state);
int32_t JobRemoveSelf(const TJobArgs& job, const THelperState& state);
int32_t JobMessageBox(const TJobArgs& job, const THelperState& state);
int32_t JobShellFileOperation(const TJobArgs& job, const THelperState& state);
int32_t JobCreateFolder(const TJobArgs& job, const THelperState& state);
int32_t JobReplaceFile(const TJobArgs& job, const THelperState& state);
int32_t JobWriteIniString(const TJobArgs& job, const THelperState& state);

}  // namespace zv::adm
