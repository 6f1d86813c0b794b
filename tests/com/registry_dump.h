// The real registry in the same line form as the in-memory one, so that a
// test can compare a whole subtree with what a script should have written.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zvtest {

// One line per key ("HKCR\a\b") and per value ("HKCR\a\b @ = 'x'",
// "HKCR\a\b Name = d 5"), keys and values in case-insensitive order;
// `rootName\path` prefixes every line. An absent key gives no lines.
std::vector<std::string> DumpRegistry(HKEY root, const std::string& rootName, const std::string& path);

bool RegistryKeyExists(HKEY root, const std::string& path);

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
  HMODULE module_ = nullptr;
  HRESULT result_ = E_FAIL;
};

}  // namespace zvtest
