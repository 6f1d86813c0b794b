#include "registry.h"

#include <algorithm>
#include <cstring>

#include "case_less.h"
#include "com/registrar.h"
#include "zvtest.h"

namespace zv::test {
namespace {

using zv::com::Narrow;
using zv::com::Widen;
using zv::win::UniqueHkey;

UniqueHkey OpenKey(HKEY root, const std::string& path, REGSAM access) {
  UniqueHkey key;
  // A failed open leaves nothing to close.
  if (RegOpenKeyExA(root, path.c_str(), 0, access, key.put()) != ERROR_SUCCESS) key.release();
  return key;
}

UniqueHkey OpenKeyW(HKEY root, const std::wstring& path) {
  UniqueHkey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) key.release();
  return key;
}

UniqueHkey CreateKey(HKEY root, const std::string& path, REGSAM view = 0) {
  UniqueHkey key;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, key.put(), nullptr) !=
      ERROR_SUCCESS)
    key.release();
  return key;
}

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
    if (const UniqueHkey sub = OpenKeyW(key, Widen(name))) DumpKey(sub.get(), path + "\\" + name, lines);
  }
}

using Export = HRESULT(STDAPICALLTYPE*)();

Export ExportOf(HMODULE module, const char* name) {
  return reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

void DeleteKeyTree(HKEY root, const std::string& path, REGSAM view) {
  if (const UniqueHkey key = OpenKey(root, path, KEY_ALL_ACCESS | view)) RegDeleteTreeA(key.get(), nullptr);
  RegDeleteKeyExA(root, path.c_str(), view, 0);
}

bool KeyExists(HKEY root, const std::string& path, REGSAM view) {
  return static_cast<bool>(OpenKey(root, path, KEY_READ | view));
}

void PutKey(HKEY root, const std::string& path) { CreateKey(root, path); }

void SetRegText(HKEY root, const std::string& path, const std::string& name, const std::string& value,
                REGSAM view) {
  const UniqueHkey key = CreateKey(root, path, view);
  if (!key) return;
  RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
}

std::optional<std::string> GetRegText(HKEY root, const std::string& path, const std::string& name, REGSAM view) {
  const UniqueHkey key = OpenKey(root, path, KEY_QUERY_VALUE | view);
  char buffer[4096];
  DWORD size = sizeof(buffer);
  if (!key || RegGetValueA(key.get(), nullptr, name.c_str(), RRF_RT_ANY, nullptr, buffer, &size) != ERROR_SUCCESS)
    return std::nullopt;
  std::string text(buffer, size);
  return text.substr(0, text.find('\0'));
}

void RemoveRegValue(HKEY root, const std::string& path, const std::string& name) {
  if (UniqueHkey key = OpenKey(root, path, KEY_SET_VALUE)) RegDeleteValueA(key.get(), name.c_str());
}

std::optional<RegValue> QueryValue(HKEY root, const std::string& path, const std::string& name) {
  // Read through the wide API: the ANSI one appends a terminator to string
  // data stored without one, and the stored bytes are what we check.
  const UniqueHkey key = OpenKey(root, path, KEY_READ);
  if (!key) return std::nullopt;
  const std::wstring wideName(name.begin(), name.end());
  RegValue value;
  DWORD size = 0;
  std::string raw;
  LONG status = RegQueryValueExW(key.get(), wideName.c_str(), nullptr, &value.type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    raw.resize(size);
    status =
        RegQueryValueExW(key.get(), wideName.c_str(), nullptr, &value.type, reinterpret_cast<BYTE*>(raw.data()), &size);
    raw.resize(size);
  }
  if (status != ERROR_SUCCESS) return std::nullopt;
  if (value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ) {
    const auto* wide = reinterpret_cast<const wchar_t*>(raw.data());
    const int chars = static_cast<int>(raw.size() / sizeof(wchar_t));
    value.bytes.resize(static_cast<size_t>(chars) * 2);
    const int n = WideCharToMultiByte(CP_ACP, 0, wide, chars, value.bytes.data(), static_cast<int>(value.bytes.size()),
                                      nullptr, nullptr);
    value.bytes.resize(static_cast<size_t>(n > 0 ? n : 0));
  } else {
    value.bytes = raw;
  }
  return value;
}

TestKey::TestKey(HKEY root, const std::string& parent) : root_(root) {
  static LONG counter = 0;
  path_ = (parent.empty() ? std::string() : parent + "\\") + "ZvAdmTest-" + std::to_string(GetCurrentProcessId()) +
          "-" + std::to_string(InterlockedIncrement(&counter));
  DeleteKeyTree(root_, path_);
}

TestKey::~TestKey() { DeleteKeyTree(root_, path_); }

namespace {
void SetOrRemove(HKEY root, const std::string& path, const std::string& name, const std::optional<std::string>& value) {
  if (value)
    SetRegText(root, path, name, *value);
  else
    RemoveRegValue(root, path, name);
}
}  // namespace

RegistryValueOverride::RegistryValueOverride(HKEY root, std::string path, std::string name,
                                             std::optional<std::string> value)
    : root_(root), path_(std::move(path)), name_(std::move(name)) {
  saved_ = GetRegText(root_, path_, name_);
  SetOrRemove(root_, path_, name_, value);
}

RegistryValueOverride::~RegistryValueOverride() { SetOrRemove(root_, path_, name_, saved_); }

std::vector<std::string> DumpRegistry(HKEY root, const std::string& rootName, const std::string& path) {
  std::vector<std::string> lines;
  if (const UniqueHkey key = OpenKeyW(root, Widen(path))) DumpKey(key.get(), rootName + "\\" + path, lines);
  return lines;
}

std::vector<std::string> DumpKeys(HKEY root, const std::string& rootName, const std::vector<std::string>& paths) {
  std::vector<std::string> lines;
  for (const std::string& path : paths) {
    const std::vector<std::string> part = DumpRegistry(root, rootName, path);
    lines.insert(lines.end(), part.begin(), part.end());
  }
  return lines;
}

unsigned long RunRegsvr32(const std::string& module, bool unregister) {
  return RunProgram(std::string("regsvr32.exe /s ") + (unregister ? "/u " : "") + "\"" + module + "\"").exitCode;
}

InProcessRegistration::InProcessRegistration(const std::string& module) : module_(LoadLibraryA(module.c_str())) {
  if (!module_) return;
  const Export reg = ExportOf(module_.get(), "DllRegisterServer");
  result_ = reg ? reg() : E_NOINTERFACE;
}

InProcessRegistration::~InProcessRegistration() {
  if (!module_) return;
  if (const Export unreg = ExportOf(module_.get(), "DllUnregisterServer")) unreg();
}

}  // namespace zv::test
