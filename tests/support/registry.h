// The registry as the tests set it up and read it back: text values, raw
// values, keys of the test's own, values changed for one test, whole
// subtrees as lines, and registration through regsvr32 or a module's export.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "win/unique_handles.h"

namespace zv::test {

// Recursively deletes a registry key (absent is fine).
// `view` (here and below): 0 for the program's own registry view, or
// KEY_WOW64_32KEY / KEY_WOW64_64KEY for the other build's
// (zv::win::OtherBuildView()).
void DeleteKeyTree(HKEY root, const std::string& path, REGSAM view = 0);
bool KeyExists(HKEY root, const std::string& path, REGSAM view = 0);
// Creates the key (and its parents) when missing.
void PutKey(HKEY root, const std::string& path);
// Creates the key when needed and writes a REG_SZ value.
void SetRegText(HKEY root, const std::string& path, const std::string& name, const std::string& value,
                REGSAM view = 0);
// A value as text up to its first NUL, whatever its type.
std::optional<std::string> GetRegText(HKEY root, const std::string& path, const std::string& name, REGSAM view = 0);
void RemoveRegValue(HKEY root, const std::string& path, const std::string& name);

// A value's type and stored bytes; string data comes in the ANSI code page,
// without a terminator added.
struct RegValue {
  DWORD type = 0;
  std::string bytes;
  bool operator==(const RegValue& other) const { return type == other.type && bytes == other.bytes; }
};
std::optional<RegValue> QueryValue(HKEY root, const std::string& path, const std::string& name);

// A key name of this test program's own under `parent`, removed (with its
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

// A text value changed (or, with no value, deleted) for the test and put
// back afterwards.
class RegistryValueOverride {
 public:
  RegistryValueOverride(HKEY root, std::string path, std::string name, std::optional<std::string> value);
  ~RegistryValueOverride();
  RegistryValueOverride(const RegistryValueOverride&) = delete;
  RegistryValueOverride& operator=(const RegistryValueOverride&) = delete;

 private:
  HKEY root_;
  std::string path_, name_;
  std::optional<std::string> saved_;
};

// One line per key ("HKCR\a\b") and per value ("HKCR\a\b @ = 'x'",
// "HKCR\a\b Name = d 5"), keys and values in case-insensitive order;
// `rootName\path` prefixes every line. An absent key gives no lines.
std::vector<std::string> DumpRegistry(HKEY root, const std::string& rootName, const std::string& path);
// The dumps of several keys, one after the other.
std::vector<std::string> DumpKeys(HKEY root, const std::string& rootName, const std::vector<std::string>& paths);

// Wine's own regsvr32 on a module (a Windows path), silently; its exit code.
unsigned long RunRegsvr32(const std::string& module, bool unregister = false);

// Registers a module in this process through its own export, as an
// installer would (LoadLibrary + DllRegisterServer); the registration is
// undone and the module freed on destruction.
class InProcessRegistration {
 public:
  explicit InProcessRegistration(const std::string& module);
  ~InProcessRegistration();
  InProcessRegistration(const InProcessRegistration&) = delete;
  InProcessRegistration& operator=(const InProcessRegistration&) = delete;
  HRESULT result() const { return result_; }

 private:
  win::UniqueLibrary module_;
  HRESULT result_ = E_FAIL;
};

}  // namespace zv::test
