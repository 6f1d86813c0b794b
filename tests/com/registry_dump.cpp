#include "registry_dump.h"

#include <algorithm>
#include <cstring>

#include "com/registrar.h"
#include "memory_registry.h"
#include "zvtest.h"

namespace zvtest {
namespace {

using zv::com::Narrow;
using zv::com::Widen;

std::string ValueText(DWORD type, const std::vector<BYTE>& data) {
  if (type == REG_DWORD && data.size() >= sizeof(DWORD)) {
    DWORD number = 0;
    memcpy(&number, data.data(), sizeof(number));
    return "d " + std::to_string(number);
  }
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    text = text.substr(0, text.find(L'\0'));
    return "'" + Narrow(text) + "'";
  }
  return "type " + std::to_string(type);
}

void DumpKey(HKEY key, const std::string& path, std::vector<std::string>& lines) {
  lines.push_back(path);
  DWORD subkeys = 0, values = 0, longestKey = 0, longestValue = 0, longestData = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longestKey, nullptr, &values, &longestValue,
                       &longestData, nullptr, nullptr) != ERROR_SUCCESS)
    return;

  std::vector<std::pair<std::string, std::string>> valueLines;
  for (DWORD i = 0; i < values; ++i) {
    std::wstring name(longestValue + 1, L'\0');
    DWORD nameSize = static_cast<DWORD>(name.size());
    std::vector<BYTE> data(longestData + sizeof(wchar_t));
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    if (RegEnumValueW(key, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize) != ERROR_SUCCESS)
      continue;
    data.resize(dataSize);
    const std::string narrow = Narrow(name.substr(0, nameSize));
    valueLines.emplace_back(narrow, path + " " + (narrow.empty() ? "@" : narrow) + " = " + ValueText(type, data));
  }
  std::sort(valueLines.begin(), valueLines.end(),
            [](const auto& a, const auto& b) { return CaseInsensitiveLess()(a.first, b.first); });
  for (const auto& line : valueLines) lines.push_back(line.second);

  std::vector<std::string> names;
  for (DWORD i = 0; i < subkeys; ++i) {
    std::wstring name(longestKey + 1, L'\0');
    DWORD nameSize = static_cast<DWORD>(name.size());
    if (RegEnumKeyExW(key, i, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
      names.push_back(Narrow(name.substr(0, nameSize)));
  }
  std::sort(names.begin(), names.end(), CaseInsensitiveLess());
  for (const std::string& name : names) {
    HKEY sub = nullptr;
    if (RegOpenKeyExW(key, Widen(name).c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) continue;
    DumpKey(sub, path + "\\" + name, lines);
    RegCloseKey(sub);
  }
}

}  // namespace

std::vector<std::string> DumpRegistry(HKEY root, const std::string& rootName, const std::string& path) {
  std::vector<std::string> lines;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, Widen(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return lines;
  DumpKey(key, rootName + "\\" + path, lines);
  RegCloseKey(key);
  return lines;
}

bool RegistryKeyExists(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, Widen(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

unsigned long RunRegsvr32(const std::string& module, bool unregister) {
  return RunProgram(std::string("regsvr32.exe /s ") + (unregister ? "/u " : "") + "\"" + module + "\"").exitCode;
}

InProcessRegistration::InProcessRegistration(const std::string& module) {
  module_ = LoadLibraryA(module.c_str());
  if (!module_) return;
  using Export = HRESULT(STDAPICALLTYPE*)();
  auto reg = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
  result_ = reg ? reg() : E_NOINTERFACE;
}

InProcessRegistration::~InProcessRegistration() {
  if (!module_) return;
  using Export = HRESULT(STDAPICALLTYPE*)();
  auto unreg = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(module_, "DllUnregisterServer")));
  if (unreg) unreg();
  FreeLibrary(module_);
}

}  // namespace zvtest
