#include "channel.h"

#include <sddl.h>

#include <algorithm>
#include <cstring>

#include "win/unique_handles.h"

namespace zv::jobs {
namespace {

constexpr char kSenderLockName[] = "ZvJobsSenderLock";
constexpr DWORD kErrorElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED

std::string SystemMessage(const char* what, DWORD error) {
  return std::string(what) + " failed with error " + std::to_string(error);
}

using zv::win::UniqueHandle;
using zv::win::UniqueView;

}  // namespace

ChannelLock::ChannelLock() : mutex_(CreateMutexA(nullptr, FALSE, kSenderLockName)) {
  if (!mutex_) return;
  const DWORD wait = WaitForSingleObject(mutex_, INFINITE);
  held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

ChannelLock::~ChannelLock() {
  if (held_) ReleaseMutex(mutex_);
  if (mutex_) CloseHandle(mutex_);
}

HANDLE StartHelper(const HelperRun& run, std::string& error) {
  const char* folder = run.workingDir.empty() ? nullptr : run.workingDir.c_str();
  std::string commandLine = "\"" + run.helperPath + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (CreateProcessA(run.helperPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder, &startup,
                     &info)) {
    CloseHandle(info.hThread);
    return info.hProcess;
  }
  const DWORD status = GetLastError();
  if (status != kErrorElevationRequired) {
    error = SystemMessage("starting the helper", status);
    return nullptr;
  }
  // The helper's manifest asks for administrator rights.
  SHELLEXECUTEINFOA execute{};
  execute.cbSize = sizeof(execute);
  execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  execute.lpVerb = "runas";
  execute.lpFile = run.helperPath.c_str();
  execute.lpDirectory = folder;
  execute.nShow = SW_HIDE;
  if (!ShellExecuteExA(&execute) || !execute.hProcess) {
    error = SystemMessage("starting the helper elevated", GetLastError());
    return nullptr;
  }
  return execute.hProcess;
}

ChannelOutcome RunSection(const std::vector<uint8_t>& bytes, size_t sectionSize, const HelperRun& run) {
  ChannelOutcome outcome;
  const size_t size = std::max<size_t>({bytes.size(), sectionSize, 1});
  ChannelLock lock;
  if (!lock.held()) {
    outcome.error = "the sender lock could not be taken";
    return outcome;
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!run.sectionSddl.empty() && !ConvertStringSecurityDescriptorToSecurityDescriptorA(
                                      run.sectionSddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    outcome.error = SystemMessage("reading the section's security descriptor", GetLastError());
    return outcome;
  }
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  UniqueHandle mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, descriptor ? &attributes : nullptr, PAGE_READWRITE,
                                          static_cast<DWORD>(static_cast<uint64_t>(size) >> 32),
                                          static_cast<DWORD>(size), kJobMappingName));
  const DWORD created = GetLastError();
  if (descriptor) LocalFree(descriptor);
  if (!mapping) {
    outcome.error = SystemMessage("creating the section", created);
    return outcome;
  }
  if (created == ERROR_ALREADY_EXISTS) {
    outcome.error = "the job section exists already (another sender is running)";
    return outcome;
  }
  UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, size));
  if (!view) {
    outcome.error = SystemMessage("mapping the section", GetLastError());
    return outcome;
  }
  if (!bytes.empty()) std::memcpy(view.get(), bytes.data(), bytes.size());
  UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, kStartEventName));
  if (event) ResetEvent(event.get());  // one left behind by a crashed sender

  UniqueHandle process(StartHelper(run, outcome.error));
  if (!process) return outcome;
  // The event tells that the helper read the list and runs it; a helper
  // that ends first never found it or refused it.
  HANDLE waits[2] = {process.get(), event.get()};
  const DWORD waited = WaitForMultipleObjects(event ? 2 : 1, waits, FALSE, run.timeoutMs);
  if (waited != WAIT_TIMEOUT && WaitForSingleObject(process.get(), run.timeoutMs) == WAIT_OBJECT_0) {
    outcome.ran = true;
    GetExitCodeProcess(process.get(), &outcome.exitCode);
  } else {
    TerminateProcess(process.get(), WAIT_TIMEOUT);
    WaitForSingleObject(process.get(), 5000);
    outcome.error = "the helper did not end within " + std::to_string(run.timeoutMs) + " ms";
  }
  outcome.eventSignalled = event && WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0;
  const auto* data = static_cast<const uint8_t*>(view.get());
  outcome.section.assign(data, data + size);
  return outcome;
}

JobsOutcome RunJobs(const std::vector<Job>& jobs, const HelperRun& run, size_t sectionSize) {
  JobsOutcome outcome;
  static_cast<ChannelOutcome&>(outcome) = RunSection(PackJobList(jobs), sectionSize, run);
  if (outcome.ran) outcome.readBack = UnpackJobList(outcome.section.data(), outcome.section.size(), outcome.jobs);
  return outcome;
}

}  // namespace zv::jobs
