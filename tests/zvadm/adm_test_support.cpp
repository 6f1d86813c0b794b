#include "adm_test_support.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "zvtest.h"

namespace zv::test::adm {

std::string HelperExe() { return zv::test::WinPath(ZV_ADM_MODULE); }

namespace {
zv::jobs::HelperRun Run() {
  zv::jobs::HelperRun run;
  run.helperPath = HelperExe();
  run.timeoutMs = 60000;
  return run;
}
}  // namespace

zv::jobs::JobsOutcome RunJobs(const std::vector<zv::jobs::Job>& jobs, size_t sectionSize) {
  return zv::jobs::RunJobs(jobs, Run(), sectionSize);
}

zv::jobs::ChannelOutcome RunSection(const Bytes& bytes, size_t sectionSize) {
  return zv::jobs::RunSection(bytes, sectionSize, Run());
}

zv::jobs::Job MakeJob(uint8_t kind, std::string param1, std::string param2, int32_t result, uint32_t tag) {
  zv::jobs::Job job;
  job.kind = kind;
  job.tag = tag;
  job.param1 = std::move(param1);
  job.param2 = std::move(param2);
  job.result = result;
  return job;
}

zv::jobs::JobsOutcome RunJobsWith(const std::string& helper, const std::vector<zv::jobs::Job>& jobs) {
  zv::jobs::HelperRun run;
  run.helperPath = helper;
  run.timeoutMs = 60000;
  return zv::jobs::RunJobs(jobs, run);
}

HelperCopy::HelperCopy(const std::string& version) : win9x_(version == "win98") {
  static LONG counter = 0;
  const std::string name = "zvadm-" + version + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(InterlockedIncrement(&counter)) + ".exe";
  path_ = folder_.File(name);
  CopyFileA(HelperExe().c_str(), path_.c_str(), FALSE);
  appDefaults_ = "Software\\Wine\\AppDefaults\\" + name;
  SetRegText(HKEY_CURRENT_USER, appDefaults_, "Version", version);
}

HelperCopy::~HelperCopy() { DeleteKeyTree(HKEY_CURRENT_USER, appDefaults_); }

namespace {

constexpr char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingValue[] = "PendingFileRenameOperations";

bool InFolder(const std::string& source, const std::string& folder) {
  const std::string prefix = "\\??\\" + folder + "\\";
  return lstrcmpiA(source.substr(0, prefix.size()).c_str(), prefix.c_str()) == 0;
}

}  // namespace

std::vector<PendingRename> PendingRenamesFrom(const std::string& folder) {
  // Pairs of strings, each ended by a NUL; a deletion's target is empty.
  const std::string list = QueryValue(HKEY_LOCAL_MACHINE, kSessionManager, kPendingValue).value_or(RegValue{}).bytes;
  std::vector<std::string> strings;
  for (size_t at = 0, end; at < list.size(); at = end + 1) {
    end = std::min(list.find('\0', at), list.size());
    strings.push_back(list.substr(at, end - at));
  }
  std::vector<PendingRename> renames;
  for (size_t i = 0; i + 1 < strings.size(); i += 2)
    if (folder.empty() || InFolder(strings[i], folder)) renames.push_back({strings[i], strings[i + 1]});
  return renames;
}

void ClearPendingRenamesFrom(const std::string& folder) {
  zv::jobs::ChannelLock held;
  std::string kept;
  for (const PendingRename& rename : PendingRenamesFrom({}))
    if (!InFolder(rename.source, folder)) kept += rename.source + '\0' + rename.target + '\0';
  zv::win::UniqueHkey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) {
    key.release();
    return;
  }
  if (kept.empty())
    RegDeleteValueA(key.get(), kPendingValue);
  else
    RegSetValueExA(key.get(), kPendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.c_str()),
                   static_cast<DWORD>(kept.size() + 1));
}

void PutLink(HKEY root, const std::string& key, const std::string& machineKey) {
  zv::win::UniqueHkey link;
  ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                            nullptr, link.put(), nullptr),
            ERROR_SUCCESS)
      << key;
  const std::string target = "\\Registry\\Machine\\" + machineKey;
  const std::wstring wide(target.begin(), target.end());
  EXPECT_EQ(RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(wide.data()),
                           static_cast<DWORD>(wide.size() * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

void RemoveLink(HKEY root, const std::string& key) {
  zv::win::UniqueHkey link;
  if (RegOpenKeyExA(root, key.c_str(), REG_OPTION_OPEN_LINK, DELETE | KEY_QUERY_VALUE, link.put()) != ERROR_SUCCESS)
    return;
  using NtDeleteKeyFn = LONG(WINAPI*)(HANDLE);
  const auto deleteKey = reinterpret_cast<NtDeleteKeyFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
  if (deleteKey) deleteKey(link.get());
}

}  // namespace zv::test::adm
