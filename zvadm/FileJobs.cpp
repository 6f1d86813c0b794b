// Kinds 10 to 15, 17, 20 and 23: files, folders, initialisation files and
// messages.
#include "FileJobs.h"

#include <sddl.h>
#include <shellapi.h>
#include <winternl.h>

#include <vector>

#include "AdmPlatform.h"
#include "AdmText.h"
#include "FileJobText.h"
#include "ModuleLoading.h"
#include "UserHives.h"
#include "win/paths.h"
#include "win/text.h"
#include "win/unique_handles.h"

namespace zv::adm {
namespace {

using zv::win::UniqueFile;

// The longest name the file system takes (with the "\\?\" form).
constexpr size_t kLongestPath = 32767;
// The self-removal batch tries this often, about a second apart.
constexpr int kRemoveSelfTries = 600;

bool Exists(const std::string& name) { return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::string& name) {
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ReadWholeFile(const std::string& name, std::string& text) {
  text.clear();
  UniqueFile file(
      CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
  return true;
}

// Creates (or empties) `name` and writes `text`; false when either failed.
bool WriteNewFile(const std::string& name, const std::string& text, DWORD attributes = FILE_ATTRIBUTE_NORMAL,
                  DWORD disposition = CREATE_ALWAYS) {
  UniqueFile file(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, disposition, attributes, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

// The 8.3 form that the 9x family's restart step can read; the name as it
// stands when the system cannot give one.
std::string ShortPathName(const std::string& name) {
  const std::string shortForm = AnsiPath(zv::win::ShortFormOf(zv::win::WideFromAnsi(name)));
  return shortForm.empty() ? name : shortForm;
}

std::string UpperCase(std::string text) {
  if (!text.empty()) CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

std::string SystemFolder() { return AnsiPath(zv::win::SystemFolder()); }

std::string WindowsFolder() { return zv::win::IncludeTrailingBackslash(AnsiPath(zv::win::WindowsFolder())); }

// The 9x family renames at start-up what the "[RENAME]" section of
// "wininit.ini" lists. The file is rebuilt beside itself and swapped in,
// so that a failure part-way leaves the old one as it was.
void ScheduleInWininit(const std::string& source, const std::string& target) {
  const std::string folder = WindowsFolder();
  if (folder.empty()) return;
  const std::string ini = folder + "wininit.ini";
  const std::string rebuilt = folder + "wininit.$$$";
  const std::string entry =
      (IsDeleteTarget(target) ? UpperCase(target) : ShortPathName(target)) + "=" + ShortPathName(source);
  std::string text;
  if (!ReadWholeFile(ini, text)) {
    WriteNewFile(ini, AddRenameEntry({}, entry));
    return;
  }
  if (!WriteNewFile(rebuilt, AddRenameEntry(text, entry))) {
    DeleteFileA(rebuilt.c_str());
    return;
  }
  DeleteFileA(ini.c_str());
  MoveFileA(rebuilt.c_str(), ini.c_str());
}

// 0 when no file matches `name` or it was deleted, else the deletion's error.
DWORD DeleteFileIfFound(const std::string& name) {
  WIN32_FIND_DATAA found;
  if (!zv::win::UniqueFind(FindFirstFileA(name.c_str(), &found))) return ERROR_SUCCESS;
  return DeleteFileA(name.c_str()) ? ERROR_SUCCESS : GetLastError();
}

// Copies `source` into a new file of the target's folder; `copy` names it.
DWORD CopyBesideTarget(const UniqueFile& in, const std::string& target, std::string& copy) {
  DWORD error = ERROR_SUCCESS;
  std::string folder = FolderOf(target);
  if (folder.empty()) folder = ".\\";
  char name[MAX_PATH] = {};
  if (!GetTempFileNameA(folder.c_str(), "zvr", 0, name)) return GetLastError();
  copy = name;
  UniqueFile out(CreateFileA(name, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) {
    error = GetLastError();
    DeleteFileA(name);
    return error;
  }
  std::vector<char> buffer(1 << 16);
  for (;;) {
    DWORD read = 0, written = 0;
    if (!ReadFile(in.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
      error = GetLastError();
      break;
    }
    if (read == 0) break;
    if (!WriteFile(out.get(), buffer.data(), read, &written, nullptr) || written != read) {
      error = GetLastError();
      break;
    }
  }
  out.reset();
  if (error != ERROR_SUCCESS) DeleteFileA(name);
  return error;
}

// A move or rename takes the sender's files themselves: each name of the
// list must be the file it says, not a link to one.
DWORD CheckSenderSources(const std::string& sourceList) {
  for (size_t start = 0; start < sourceList.size();) {
    size_t end = sourceList.find('\0', start);
    if (end == std::string::npos) end = sourceList.size();
    const std::string name = sourceList.substr(start, end - start);
    start = end + 1;
    if (name.empty() || name.find_first_of("*?") != std::string::npos) continue;
    const DWORD attributes = GetFileAttributesA(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) continue;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return ERROR_CANT_ACCESS_FILE;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    DWORD error = ERROR_SUCCESS;
    if (!OpenFileItself(name, GENERIC_READ, MAXDWORD, error) && error == ERROR_CANT_ACCESS_FILE) return error;
  }
  return ERROR_SUCCESS;
}

bool MoveAtOnce(const THelperState& state, const std::string& source, const std::string& target) {
  if (IsWin9xFamily(state)) return CopyFileA(source.c_str(), target.c_str(), FALSE) && DeleteFileA(source.c_str());
  return MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
}

// Starts the batch at idle priority without a window. The command line is
// quoted: unquoted, a temporary folder with blanks in its name would have
// the system try "C:\Documents.exe" and the like first, with our rights.
// The NT family runs it with the system folder's own cmd.exe, named as the
// program, so that no search and no AutoRun command of anybody's comes in.
void StartHiddenBatch(const THelperState& state, const std::string& batch, const std::string& currentFolder) {
  const std::string interpreter = SystemFolder() + "\\cmd.exe";
  const bool nt = IsNtFamily(state);
  std::string commandLine = nt ? BatchCommandLine(interpreter, ExtractFileName(batch)) : "\"" + batch + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  const DWORD flags = IsWin9xFamily(state) ? IDLE_PRIORITY_CLASS | DETACHED_PROCESS : IDLE_PRIORITY_CLASS;
  PROCESS_INFORMATION started{};
  if (CreateProcessA(nt ? interpreter.c_str() : nullptr, commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                     currentFolder.empty() ? nullptr : currentFolder.c_str(), &startup, &started)) {
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
  }
}

// Creates `folder` and opens it in one step, so that the handle is surely
// the new folder. Held without delete sharing, it cannot be renamed away
// (which the temporary folder's user could do whatever its permissions)
// and another folder put under its name with a batch of its own.
DWORD CreateHeldFolder(const std::string& folder, PSECURITY_DESCRIPTOR descriptor, UniqueFile& held) {
  using DosPathToNtPathFn = BOOLEAN(NTAPI*)(PCWSTR, PUNICODE_STRING, PCWSTR*, void*);
  using CreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
  using FreeStringFn = void(NTAPI*)(PUNICODE_STRING);
  using StatusToErrorFn = ULONG(NTAPI*)(NTSTATUS);
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  const auto toNtPath = FindFunction<DosPathToNtPathFn>(ntdll, "RtlDosPathNameToNtPathName_U");
  const auto create = FindFunction<CreateFileFn>(ntdll, "NtCreateFile");
  const auto freeString = FindFunction<FreeStringFn>(ntdll, "RtlFreeUnicodeString");
  const auto toError = FindFunction<StatusToErrorFn>(ntdll, "RtlNtStatusToDosError");
  if (!toNtPath || !create || !freeString || !toError) return ERROR_PROC_NOT_FOUND;
  UNICODE_STRING ntPath{};
  if (!toNtPath(zv::win::WideFromAnsi(folder).c_str(), &ntPath, nullptr, nullptr)) return ERROR_PATH_NOT_FOUND;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &ntPath, OBJ_CASE_INSENSITIVE, nullptr, descriptor);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  const NTSTATUS status = create(&handle, FILE_LIST_DIRECTORY | SYNCHRONIZE, &attributes, &io, nullptr,
                                 FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                                 FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT,
                                 nullptr, 0);
  freeString(&ntPath);
  if (status < 0) return toError(status);
  held.reset(handle);
  return ERROR_SUCCESS;
}

// A new folder for the batch in `parent`, which only administrators and
// the system may change: the temporary folder is the user's, and a batch
// there (or a name planted there) could be swapped before it runs. `held`
// keeps it in place until the batch has started in it.
DWORD CreateBatchFolder(const std::string& parent, std::string& folder, UniqueFile& held) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  // Without its protected permissions the folder would inherit the
  // temporary folder's, which its user may change: no folder then.
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1,
                                                            &descriptor, nullptr))
    return GetLastError();
  DWORD error = ERROR_ALREADY_EXISTS;
  for (DWORD attempt = 0; attempt < 100 && error == ERROR_ALREADY_EXISTS; ++attempt) {
    char name[32];
    wsprintfA(name, "ZVDEL%08lX", (GetTickCount() ^ (GetCurrentProcessId() << 12)) + attempt * 0x9E3779B1u);
    folder = parent + name;
    error = CreateHeldFolder(folder, descriptor, held);
  }
  LocalFree(descriptor);
  return error;
}

void ShowMessage(const TJobArgs& job) {
  MessageBoxA(nullptr, job.Param2.c_str(), job.Param1.c_str(), static_cast<UINT>(job.Result));
}

const char* FieldOrNull(const std::string& field) { return field.empty() ? nullptr : field.c_str(); }

}  // namespace

UniqueFile OpenFileItself(const std::string& path, DWORD access, DWORD sizeLimit, DWORD& error) {
  UniqueFile file(CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file || !GetFileInformationByHandle(file.get(), &info)) {
    error = GetLastError();
    return {};
  }
  error = ERROR_SUCCESS;
  if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY) || info.nNumberOfLinks > 1)
    error = ERROR_CANT_ACCESS_FILE;
  else if (info.nFileSizeHigh != 0 || info.nFileSizeLow > sizeLimit)
    error = ERROR_FILE_TOO_LARGE;
  if (error != ERROR_SUCCESS) file.reset();
  return file;
}

bool DeleteOpenedFile(UniqueFile& file, const std::string& path) {
  using SetFileInformationByHandleFn = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  static const auto setInformation = FindFunction<SetFileInformationByHandleFn>(GetModuleHandleA("kernel32.dll"),
                                                                                "SetFileInformationByHandle");
  if (setInformation) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    const bool deleted = setInformation(file.get(), FileDispositionInfo, &disposition, sizeof(disposition));
    file.reset();
    return deleted;
  }
  file.reset();
  return DeleteFileA(path.c_str()) != FALSE;
}

DWORD ShellFileOperation(UINT operation, const std::string& sourceList, const std::string& target) {
  // The shell reads each text up to an empty name. The sender's text need
  // not end its last name with a NUL of its own, so both get two of ours:
  // without them the shell would read on past the text.
  const std::string from = sourceList + std::string(2, '\0');
  const std::string to = target + std::string(2, '\0');
  SHFILEOPSTRUCTA operationInfo{};
  operationInfo.hwnd = nullptr;
  operationInfo.wFunc = operation;
  operationInfo.pFrom = from.c_str();
  operationInfo.pTo = to.c_str();
  operationInfo.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  operationInfo.hNameMappings = nullptr;
  operationInfo.lpszProgressTitle = "";
  // The shell answers with codes of its own and often leaves the last
  // error alone: a failure must not come back as 0.
  SetLastError(ERROR_SUCCESS);
  const int status = SHFileOperationA(&operationInfo);
  if (status == 0) return ERROR_SUCCESS;
  const DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? error : static_cast<DWORD>(status);
}

void ScheduleAtRestart(const THelperState& state, const std::string& source, const std::string& target) {
  if (!Exists(source)) return;
  if (IsNtFamily(state)) {
    // A replacement needs MOVEFILE_REPLACE_EXISTING as well: without it the
    // system drops the rename at start-up because the target exists, and
    // the 3010 we report would promise what never happens.
    const bool remove = IsDeleteTarget(target);
    MoveFileExA(source.c_str(), remove ? nullptr : target.c_str(),
                MOVEFILE_DELAY_UNTIL_REBOOT | (remove ? 0 : MOVEFILE_REPLACE_EXISTING));
  } else if (IsWin9xFamily(state)) {
    ScheduleInWininit(source, target);
  }
}

int64_t FileVersion(const std::string& file) {
  // version.dll is no KnownDLL: imported, the loader would take it from the
  // helper's own folder before any code runs.
  using SizeFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
  const zv::win::UniqueLibrary version(LoadSystemLibrary("version.dll"));
  const auto getSize = FindFunction<SizeFn>(version.get(), "GetFileVersionInfoSizeA");
  const auto getInfo = FindFunction<InfoFn>(version.get(), "GetFileVersionInfoA");
  const auto query = FindFunction<QueryFn>(version.get(), "VerQueryValueA");
  if (!getSize || !getInfo || !query) return 0;
  DWORD handle = 0;
  const DWORD size = getSize(file.c_str(), &handle);
  if (size == 0) return 0;
  std::vector<char> data(size);
  if (!getInfo(file.c_str(), 0, size, data.data())) return 0;
  void* root = nullptr;
  UINT length = 0;
  if (!query(data.data(), "\\", &root, &length) || !root || length < sizeof(VS_FIXEDFILEINFO)) return 0;
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(root);
  return static_cast<int64_t>((static_cast<uint64_t>(info->dwFileVersionMS) << 32) | info->dwFileVersionLS);
}

int32_t JobDeleteFile(const TJobArgs& job, const THelperState&) {
  return static_cast<int32_t>(DeleteFileIfFound(job.Param1));
}

int32_t JobDeleteFileAtRestart(const TJobArgs& job, const THelperState& state) {
  if (DeleteFileIfFound(job.Param1) == ERROR_SUCCESS) return ERROR_SUCCESS;
  ScheduleAtRestart(state, job.Param1, "NUL");
  return kResultRebootRequired;
}

int32_t JobRemoveFolder(const TJobArgs& job, const THelperState&) {
  const std::string folder = WithoutTrailingBackslash(job.Param1);
  if (IsFolder(folder) && !RemoveDirectoryA(folder.c_str())) return static_cast<int32_t>(GetLastError());
  return ERROR_SUCCESS;
}

int32_t JobCreateFolder(const TJobArgs& job, const THelperState&) {
  // Walks up to the first folder that exists, then creates the missing ones
  // downwards. Each is a prefix of the name, so only lengths are kept, and
  // the walk is a loop: a name of thousands of "\" must not use up the stack.
  const std::string& name = job.Param1;
  if (name.size() > kLongestPath) return ERROR_FILENAME_EXCED_RANGE;
  std::vector<size_t> missing;
  std::string folder = WithoutTrailingBackslash(name);
  while (!IsFolder(folder)) {
    missing.push_back(folder.size());
    const std::string parent = ParentFolder(folder);
    if (parent.empty() || parent.back() == ':') break;  // the drive or nothing: taken as there
    folder = WithoutTrailingBackslash(parent);
  }
  for (auto length = missing.rbegin(); length != missing.rend(); ++length)
    if (!CreateDirectoryA(name.substr(0, *length).c_str(), nullptr)) return static_cast<int32_t>(GetLastError());
  return ERROR_SUCCESS;
}

int32_t JobReplaceFile(const TJobArgs& job, const THelperState& state) {
  const std::string& newFile = job.Param1;
  const std::string& target = job.Param2;
  // What is moved into place is our own copy in the target's folder: it
  // takes that folder's permissions, and the sender's file (which its
  // owner could still change or swap) is never the one installed.
  // Opened once, and deleted through the same handle: a name swapped for
  // a link meanwhile must not turn the deletion onto another file.
  DWORD error = ERROR_SUCCESS;
  UniqueFile source = OpenFileItself(newFile, GENERIC_READ | DELETE, MAXDWORD, error);
  if (!source && error == ERROR_ACCESS_DENIED) source = OpenFileItself(newFile, GENERIC_READ, MAXDWORD, error);
  if (!source) {
    if (error != ERROR_CANT_ACCESS_FILE && !Exists(newFile)) return ERROR_SUCCESS;  // nothing to replace with
    return static_cast<int32_t>(error);
  }
  std::string copy;
  if (const DWORD copied = CopyBesideTarget(source, target, copy)) return static_cast<int32_t>(copied);
  if (MoveAtOnce(state, copy, target)) {
    DeleteOpenedFile(source, newFile);
    return ERROR_SUCCESS;
  }
  // Only a newer file waits for the restart; an older or equal one is left
  // where it is.
  if (FileVersion(target) >= FileVersion(copy)) {
    DeleteFileA(copy.c_str());
    return ERROR_SUCCESS;
  }
  ScheduleAtRestart(state, copy, target);
  return kResultRebootRequired;
}

int32_t JobRemoveSelf(const TJobArgs& job, const THelperState& state) {
  const std::string helper = HelperPath();

  const std::string tempFolder = AnsiPath(zv::win::TempFolder());
  if (tempFolder.empty()) return static_cast<int32_t>(GetLastError());
  std::string batch, text;
  DWORD created = 0;
  UniqueFile heldFolder;
  if (IsNtFamily(state)) {
    std::string folder;
    if (const DWORD error = CreateBatchFolder(tempFolder, folder, heldFolder)) return static_cast<int32_t>(error);
    batch = folder + "\\DEL" + std::to_string(GetCurrentProcessId() % 10000) + ".BAT";
    text = BoundedSelfRemovalBatch(helper, FolderOf(helper), batch, folder, SystemFolder(), kRemoveSelfTries);
    created = CREATE_NEW;
  } else {
    // The 9x family has neither permissions nor cmd: its command
    // interpreter runs the plain batch from the temporary folder.
    char tempName[MAX_PATH] = {};
    if (!GetTempFileNameA(tempFolder.c_str(), "DEL", 0, tempName)) return static_cast<int32_t>(GetLastError());
    batch = BatchFileName(tempName);
    if (!MoveFileA(tempName, batch.c_str())) DeleteFileA(tempName);
    text =
        SelfRemovalBatch(BatchPathText(helper), "rd \"" + BatchPathText(FolderOf(helper)) + "\"", BatchPathText(batch));
    created = CREATE_ALWAYS;
  }
  if (!WriteNewFile(batch, text, FILE_ATTRIBUTE_ARCHIVE, created)) {
    const DWORD error = GetLastError();
    if (created == CREATE_ALWAYS) DeleteFileA(batch.c_str());
    return static_cast<int32_t>(error);
  }
  StartHiddenBatch(state, batch, FolderOf(batch));
  if (state.exitCode == kResultRebootRequired) ShowMessage(job);
  return ERROR_SUCCESS;
}

int32_t JobMessageBox(const TJobArgs& job, const THelperState&) {
  ShowMessage(job);
  return ERROR_SUCCESS;
}

int32_t JobShellFileOperation(const TJobArgs& job, const THelperState&) {
  const UINT operation = static_cast<UINT>(job.Result);
  if (operation == FO_MOVE || operation == FO_RENAME)
    if (const DWORD error = CheckSenderSources(job.Param1)) return static_cast<int32_t>(error);
  return static_cast<int32_t>(ShellFileOperation(static_cast<UINT>(job.Result), job.Param1, job.Param2));
}

int32_t JobWriteIniString(const TJobArgs& job, const THelperState&) {
  const TIniEntry entry = SplitIniEntry(job.Param1);
  // A line break would end the entry early and write the rest as entries
  // or sections of their own.
  if (HasLineBreakOrNul(entry.section) || HasLineBreakOrNul(entry.key) || HasLineBreakOrNul(entry.value))
    return ERROR_INVALID_PARAMETER;
  if (!WritePrivateProfileStringA(FieldOrNull(entry.section), FieldOrNull(entry.key), FieldOrNull(entry.value),
                                  FieldOrNull(entry.file)))
    return static_cast<int32_t>(GetLastError());
  return ERROR_SUCCESS;
}

}  // namespace zv::adm
