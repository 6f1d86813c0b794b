#include "adm_test_support.h"

#include "zvtest.h"

namespace zvadmtest {

std::string HelperExe() { return zvtest::WinPath(ZV_ADM_EXE); }

namespace {
zvjobs::HelperRun Run() {
  zvjobs::HelperRun run;
  run.helperPath = HelperExe();
  run.timeoutMs = 60000;
  return run;
}
}  // namespace

zvjobs::JobsOutcome RunJobs(const std::vector<zvjobs::Job>& jobs, size_t sectionSize) {
  return zvjobs::RunJobs(jobs, Run(), sectionSize);
}

zvjobs::ChannelOutcome RunSection(const Bytes& bytes, size_t sectionSize) {
  return zvjobs::RunSection(bytes, sectionSize, Run());
}

zvjobs::Job MakeJob(uint8_t kind, std::string param1, std::string param2, int32_t result, uint32_t tag) {
  zvjobs::Job job;
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
