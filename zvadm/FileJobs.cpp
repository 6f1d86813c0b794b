// Kinds 10 to 15, 17, 20 and 23: files, folders, initialisation files and
// messages.
#include "FileJobs.h"

#include <shellapi.h>

#include <vector>

#include "AdmPlatform.h"
#include "FileJobText.h"
#include "ModuleLoading.h"
#include "win/unique_handles.h"

namespace zvadm {
namespace {

using zv::win::UniqueFile;

// The longest name the file system takes (with the "\\?\" form).
constexpr size_t kLongestPath = 32767;

bool Exists(const std::string& name) { return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::string& name) {
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ReadWholeFile(const std::string& name, std::string& text) {
  text.clear();
  UniqueFile file(CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
  return true;
}

// Creates (or empties) `name` and writes `text`; false when either failed.
bool WriteNewFile(const std::string& name, const std::string& text, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  UniqueFile file(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

// The 8.3 form that the 9x family's restart step can read; the name as it
// stands when the system cannot give one.
std::string ShortPathName(const std::string& name) {
  char shortName[MAX_PATH] = {};
  const DWORD length = GetShortPathNameA(name.c_str(), shortName, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(shortName, length) : name;
}

std::string UpperCase(std::string text) {
  if (!text.empty()) CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

std::string WindowsFolder() {
  char folder[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  std::string result(folder, length);
  if (result.back() != '\\') result.push_back('\\');
  return result;
}

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
  const HANDLE find = FindFirstFileA(name.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return ERROR_SUCCESS;
  FindClose(find);
  return DeleteFileA(name.c_str()) ? ERROR_SUCCESS : GetLastError();
}

bool MoveAtOnce(const THelperState& state, const std::string& source, const std::string& target) {
  if (IsWin9xFamily(state))
    return CopyFileA(source.c_str(), target.c_str(), FALSE) && DeleteFileA(source.c_str());
  return MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
}

// Starts the batch at idle priority without a window. The command line is
// quoted: unquoted, a temporary folder with blanks in its name would have
// the system try "C:\Documents.exe" and the like first, with our rights.
void StartHiddenBatch(const THelperState& state, const std::string& batch) {
  std::string commandLine = "\"" + batch + "\"";
  const std::string folder = FolderOf(batch);
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  const DWORD flags = IsWin9xFamily(state) ? IDLE_PRIORITY_CLASS | DETACHED_PROCESS : IDLE_PRIORITY_CLASS;
  PROCESS_INFORMATION started{};
  if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                     folder.empty() ? nullptr : folder.c_str(), &startup, &started)) {
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
  }
}

void ShowMessage(const TJobArgs& job) {
  MessageBoxA(nullptr, job.Param2.c_str(), job.Param1.c_str(), static_cast<UINT>(job.Result));
}

const char* FieldOrNull(const std::string& field) { return field.empty() ? nullptr : field.c_str(); }

}  // namespace

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
  if (MoveAtOnce(state, newFile, target)) return ERROR_SUCCESS;
  // Only a newer file waits for the restart; an older or equal one is left
  // where it is.
  if (FileVersion(target) >= FileVersion(newFile)) return ERROR_SUCCESS;
  ScheduleAtRestart(state, newFile, target);
  return kResultRebootRequired;
}

int32_t JobRemoveSelf(const TJobArgs& job, const THelperState& state) {
  char own[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, own, MAX_PATH);
  const std::string helper = own;
  const std::string removeFolder = "rd \"" + FolderOf(helper) + "\"";

  char tempFolder[MAX_PATH + 1] = {};
  const DWORD tempLength = GetTempPathA(MAX_PATH, tempFolder);
  if (tempLength == 0 || tempLength > MAX_PATH) return static_cast<int32_t>(GetLastError());
  char tempName[MAX_PATH] = {};
  if (!GetTempFileNameA(tempFolder, "DEL", 0, tempName)) return static_cast<int32_t>(GetLastError());
  const std::string batch = BatchFileName(tempName);
  if (!MoveFileA(tempName, batch.c_str())) DeleteFileA(tempName);

  if (!WriteNewFile(batch, SelfRemovalBatch(helper, removeFolder, batch), FILE_ATTRIBUTE_ARCHIVE)) {
    const DWORD error = GetLastError();
    DeleteFileA(batch.c_str());
    return static_cast<int32_t>(error);
  }
  StartHiddenBatch(state, batch);
  if (state.exitCode == kResultRebootRequired) ShowMessage(job);
  return ERROR_SUCCESS;
}

int32_t JobMessageBox(const TJobArgs& job, const THelperState&) {
  ShowMessage(job);
  return ERROR_SUCCESS;
}

int32_t JobShellFileOperation(const TJobArgs& job, const THelperState&) {
  return static_cast<int32_t>(ShellFileOperation(static_cast<UINT>(job.Result), job.Param1, job.Param2));
}

int32_t JobWriteIniString(const TJobArgs& job, const THelperState&) {
  const TIniEntry entry = SplitIniEntry(job.Param1);
  if (!WritePrivateProfileStringA(FieldOrNull(entry.section), FieldOrNull(entry.key), FieldOrNull(entry.value),
                                  FieldOrNull(entry.file)))
    return static_cast<int32_t>(GetLastError());
  return ERROR_SUCCESS;
}

}  // namespace zvadm
