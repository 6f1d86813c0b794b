#include "adm_test_support.h"

#include <algorithm>

#include "zvtest.h"

namespace zvadmtest {

std::string HelperExe() { return zvtest::WinPath(ZV_ADM_MODULE); }

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

TestKey::TestKey(HKEY root, const std::string& parent) : root_(root) {
  static LONG counter = 0;
  path_ = (parent.empty() ? std::string() : parent + "\\") + "ZvAdmTest-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(InterlockedIncrement(&counter));
  zvtest::DeleteKeyTree(root_, path_.c_str());
}

TestKey::~TestKey() { zvtest::DeleteKeyTree(root_, path_.c_str()); }

std::optional<RegValue> QueryValue(HKEY root, const std::string& key, const std::string& name) {
  // Read through the wide API: the ANSI one appends a terminator to string
  // data stored without one, and the stored bytes are what we check.
  HKEY opened;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return std::nullopt;
  const std::wstring wideName(name.begin(), name.end());
  RegValue value;
  DWORD size = 0;
  std::string raw;
  LONG status = RegQueryValueExW(opened, wideName.c_str(), nullptr, &value.type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    raw.resize(size);
    status = RegQueryValueExW(opened, wideName.c_str(), nullptr, &value.type, reinterpret_cast<BYTE*>(raw.data()),
                              &size);
    raw.resize(size);
  }
  RegCloseKey(opened);
  if (status != ERROR_SUCCESS) return std::nullopt;
  if (value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ) {
    const auto* wide = reinterpret_cast<const wchar_t*>(raw.data());
    const int chars = static_cast<int>(raw.size() / sizeof(wchar_t));
    value.bytes.resize(static_cast<size_t>(chars) * 2);
    const int n = WideCharToMultiByte(CP_ACP, 0, wide, chars, value.bytes.data(),
                                      static_cast<int>(value.bytes.size()), nullptr, nullptr);
    value.bytes.resize(static_cast<size_t>(n > 0 ? n : 0));
  } else {
    value.bytes = raw;
  }
  return value;
}

bool KeyExists(HKEY root, const std::string& key) {
  HKEY opened;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

void PutValue(HKEY root, const std::string& key, const std::string& name, const std::string& text) {
  zvtest::SetRegText(root, key.c_str(), name.c_str(), text);
}

void PutKey(HKEY root, const std::string& key) {
  HKEY created;
  if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &created, nullptr) == ERROR_SUCCESS)
    RegCloseKey(created);
}

}  // namespace zvadmtest

namespace zvadmtest {

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
  zvtest::SetRegText(HKEY_CURRENT_USER, appDefaults_.c_str(), "Version", version);
}

HelperCopy::~HelperCopy() { zvtest::DeleteKeyTree(HKEY_CURRENT_USER, appDefaults_.c_str()); }

void WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::optional<std::string> ReadBytes(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
  CloseHandle(file);
  return bytes;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

HeldFile::HeldFile(const std::string& path, DWORD share)
    : handle_(CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr)) {}

HeldFile::~HeldFile() { Release(); }

void HeldFile::Release() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

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
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  if (kept.empty())
    RegDeleteValueA(key, kPendingValue);
  else
    RegSetValueExA(key, kPendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.c_str()),
                   static_cast<DWORD>(kept.size() + 1));
  RegCloseKey(key);
}

}  // namespace zvadmtest
