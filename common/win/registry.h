// Registry text values, read and written the one way every module needs.
// `view` is 0 (the caller's own view) or KEY_WOW64_32KEY / KEY_WOW64_64KEY.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace zv::win {

// A value of an open key as text, up to its first NUL; the type is
// ignored. Absent when it cannot be read.
std::optional<std::string> QueryValueText(HKEY key, const char* valueName);
std::optional<std::wstring> QueryValueTextW(HKEY key, const wchar_t* valueName);

// Opens `keyPath` for reading and reads one value; absent when either fails.
std::optional<std::string> ReadRegText(HKEY hive, const char* keyPath, const char* valueName, REGSAM view = 0);
std::optional<std::wstring> ReadRegTextW(HKEY hive, const wchar_t* keyPath, const wchar_t* valueName, REGSAM view = 0);

// Creates the key when needed and writes a REG_SZ value.
bool WriteRegText(HKEY hive, const char* keyPath, const char* valueName, const std::string& text, REGSAM view = 0);
bool DeleteRegValue(HKEY hive, const char* keyPath, const char* valueName, REGSAM view = 0);

// The registry views of the machine's software: the caller's own alone on
// 32-bit Windows, both on 64-bit Windows (a 32-bit module there included).
struct RegistryViews {
  REGSAM views[2];
  int count;
  const REGSAM* begin() const { return views; }
  const REGSAM* end() const { return views + count; }
};
RegistryViews MachineViews();

// The view the module's other build works in on 64-bit Windows (the 32-bit
// one for a 64-bit module, the 64-bit one for a 32-bit module there); 0 on
// 32-bit Windows, which has one view.
REGSAM OtherBuildView();

}  // namespace zv::win
