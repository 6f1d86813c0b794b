#include "registry.h"

#include <vector>

#include "unique_handles.h"

namespace zv::win {
namespace {

// One request when the value fits the stack buffer, again with the size the
// registry reports when it does not.
template <typename Char, typename Query>
std::optional<std::basic_string<Char>> QueryText(Query query) {
  Char small[256 / sizeof(Char)];
  DWORD size = sizeof(small);
  LONG rc = query(reinterpret_cast<BYTE*>(small), &size);
  std::vector<Char> large;
  const Char* data = small;
  while (rc == ERROR_MORE_DATA) {
    large.resize(size / sizeof(Char) + 1);
    size = static_cast<DWORD>(large.size() * sizeof(Char));
    rc = query(reinterpret_cast<BYTE*>(large.data()), &size);
    data = large.data();
  }
  if (rc != ERROR_SUCCESS) return std::nullopt;
  std::basic_string<Char> text(data, size / sizeof(Char));
  return text.substr(0, text.find(Char(0)));
}

}  // namespace

std::optional<std::string> QueryValueText(HKEY key, const char* valueName) {
  return QueryText<char>(
      [&](BYTE* data, DWORD* size) { return RegQueryValueExA(key, valueName, nullptr, nullptr, data, size); });
}

std::optional<std::wstring> QueryValueTextW(HKEY key, const wchar_t* valueName) {
  return QueryText<wchar_t>(
      [&](BYTE* data, DWORD* size) { return RegQueryValueExW(key, valueName, nullptr, nullptr, data, size); });
}

std::optional<std::string> ReadRegText(HKEY hive, const char* keyPath, const char* valueName, REGSAM view) {
  UniqueHkey key;
  if (RegOpenKeyExA(hive, keyPath, 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return std::nullopt;
  return QueryValueText(key.get(), valueName);
}

std::optional<std::wstring> ReadRegTextW(HKEY hive, const wchar_t* keyPath, const wchar_t* valueName, REGSAM view) {
  UniqueHkey key;
  if (RegOpenKeyExW(hive, keyPath, 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return std::nullopt;
  return QueryValueTextW(key.get(), valueName);
}

bool WriteRegText(HKEY hive, const char* keyPath, const char* valueName, const std::string& text, REGSAM view) {
  UniqueHkey key;
  if (RegCreateKeyExA(hive, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE | view, nullptr, key.put(),
                      nullptr) != ERROR_SUCCESS)
    return false;
  return RegSetValueExA(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

bool DeleteRegValue(HKEY hive, const char* keyPath, const char* valueName, REGSAM view) {
  UniqueHkey key;
  if (RegOpenKeyExA(hive, keyPath, 0, KEY_SET_VALUE | view, key.put()) != ERROR_SUCCESS) return false;
  return RegDeleteValueA(key.get(), valueName) == ERROR_SUCCESS;
}

RegistryViews MachineViews() {
#ifdef _WIN64
  return {{KEY_WOW64_64KEY, KEY_WOW64_32KEY}, 2};
#else
  BOOL wow64 = FALSE;
  if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64) return {{KEY_WOW64_64KEY, KEY_WOW64_32KEY}, 2};
  return {{0, 0}, 1};
#endif
}

REGSAM OtherBuildView() {
#ifdef _WIN64
  return KEY_WOW64_32KEY;
#else
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY : 0;
#endif
}

}  // namespace zv::win
