// Driving zvadm.exe through the job channel as the download manager does,
// and reading the registry the way a peer would.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "channel.h"
#include "section_bytes.h"

namespace zvadmtest {

std::string HelperExe();

// Runs the jobs through a section of their packed size (or `sectionSize`).
zvjobs::JobsOutcome RunJobs(const std::vector<zvjobs::Job>& jobs, size_t sectionSize = 0);
zvjobs::ChannelOutcome RunSection(const Bytes& bytes, size_t sectionSize);

zvjobs::Job MakeJob(uint8_t kind, std::string param1 = {}, std::string param2 = {}, int32_t result = 0,
                    uint32_t tag = 0);

// A key name of this test program's own under Software, removed (with its
// subkeys) on construction and destruction.
class TestKey {
 public:
  explicit TestKey(HKEY root, const std::string& parent = "Software");
  ~TestKey();
  TestKey(const TestKey&) = delete;
  TestKey& operator=(const TestKey&) = delete;
  const std::string& path() const { return path_; }  // e.g. Software\ZvAdmTest-12-3

 private:
  HKEY root_;
  std::string path_;
};

struct RegValue {
  DWORD type = 0;
  std::string bytes;
  bool operator==(const RegValue& other) const { return type == other.type && bytes == other.bytes; }
};
std::optional<RegValue> QueryValue(HKEY root, const std::string& key, const std::string& name);
bool KeyExists(HKEY root, const std::string& key);
void PutValue(HKEY root, const std::string& key, const std::string& name, const std::string& text);
void PutKey(HKEY root, const std::string& key);

}  // namespace zvadmtest
