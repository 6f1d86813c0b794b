// The registry operations shared by the registry jobs and the later jobs.
#include <vector>

#include "AdmUtils.h"
#include "win/registry.h"
#include "win/unique_handles.h"

namespace zv::adm {

using zv::win::UniqueHkey;

std::string ReadRegString(HKEY root, const std::string& key, const std::string& valueName) {
  return zv::win::ReadRegText(root, key.c_str(), valueName.c_str()).value_or(std::string());
}

LONG DeleteRegValue(HKEY root, const std::string& key, const std::string& valueName) {
  UniqueHkey opened;
  const LONG status = RegOpenKeyExA(root, key.c_str(), 0, KEY_SET_VALUE, opened.put());
  if (status != ERROR_SUCCESS) return status;
  return RegDeleteValueA(opened.get(), valueName.c_str());
}

namespace {

// The registry's enumeration in wide and in ANSI names: wide where the
// system has it, since an ANSI name of a key named outside the code page
// opens nothing; ANSI on the 9x family, which has no wide calls.
struct WideNames {
  using Char = wchar_t;
  static LONG Info(HKEY key, DWORD* subkeys, DWORD* longest) {
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, subkeys, longest, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr);
  }
  static LONG Enum(HKEY key, DWORD index, Char* name, DWORD* length) {
    return RegEnumKeyExW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
  }
  static LONG Open(HKEY key, const Char* name, REGSAM access, HKEY* child) {
    return RegOpenKeyExW(key, name, REG_OPTION_OPEN_LINK, access, child);
  }
};
struct AnsiNames {
  using Char = char;
  static LONG Info(HKEY key, DWORD* subkeys, DWORD* longest) {
    return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, subkeys, longest, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr);
  }
  static LONG Enum(HKEY key, DWORD index, Char* name, DWORD* length) {
    return RegEnumKeyExA(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
  }
  static LONG Open(HKEY key, const Char* name, REGSAM access, HKEY* child) {
    return RegOpenKeyExA(key, name, REG_OPTION_OPEN_LINK, access, child);
  }
};

// Deletes the subkeys below `key` (never through a link), then `key`.
template <typename Names>
LONG DeleteOpenedTreeWith(HKEY key, bool force, LONG* listingError) {
  DWORD subkeys = 0, longest = 0;
  if (Names::Info(key, &subkeys, &longest) == ERROR_SUCCESS) {
    if (subkeys > 0 && !force) return ERROR_SUCCESS;
    // The longest name is counted in characters; on a double-byte code page
    // its ANSI form can take two bytes for each.
    std::vector<typename Names::Char> name(2 * static_cast<size_t>(longest) + 2);
    // A deleted subkey shifts the later ones down: the index moves on only
    // past a subkey that stays.
    DWORD index = 0;
    LONG listed = ERROR_SUCCESS;
    for (;;) {
      DWORD length = static_cast<DWORD>(name.size());
      listed = Names::Enum(key, index, name.data(), &length);
      if (listed == ERROR_MORE_DATA && name.size() < 0x10000) {
        name.resize(2 * name.size());
        continue;
      }
      if (listed != ERROR_SUCCESS) break;
      UniqueHkey child;
      if (Names::Open(key, name.data(), KEY_READ | DELETE, child.put()) != ERROR_SUCCESS || IsLinkKey(child.get()) ||
          DeleteOpenedTreeWith<Names>(child.get(), force, listingError) != ERROR_SUCCESS)
        ++index;
    }
    if (listed != ERROR_NO_MORE_ITEMS) {
      if (listingError && *listingError == ERROR_SUCCESS) *listingError = listed;
      return listed;  // the subkeys remain, and so does the key
    }
  }
  return DeleteOpenedKey(key);
}

LONG DeleteOpenedTree(HKEY key, bool force, LONG* listingError) {
  DWORD subkeys = 0, longest = 0;
  if (WideNames::Info(key, &subkeys, &longest) == ERROR_CALL_NOT_IMPLEMENTED)
    return DeleteOpenedTreeWith<AnsiNames>(key, force, listingError);
  return DeleteOpenedTreeWith<WideNames>(key, force, listingError);
}

}  // namespace

LONG DeleteOpenedKey(HKEY key) {
  using NtDeleteKeyFn = LONG(WINAPI*)(HANDLE);
  using RtlNtStatusToDosErrorFn = ULONG(WINAPI*)(LONG);
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  const auto deleteKey = reinterpret_cast<NtDeleteKeyFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtDeleteKey")));
  const auto toError = reinterpret_cast<RtlNtStatusToDosErrorFn>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
  // The 9x family has no such call: there the key is named by its handle.
  if (!deleteKey || !toError) return RegDeleteKeyA(key, "");
  return static_cast<LONG>(toError(deleteKey(key)));
}

LONG DeleteKeyTree(HKEY root, const std::string& key, bool force, LONG* listingError, REGSAM view) {
  UniqueHkey opened;
  const LONG status = RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | DELETE | view, opened.put());
  if (status != ERROR_SUCCESS) return status;
  return DeleteOpenedTree(opened.get(), force, listingError);
}

bool IsLinkKey(HKEY key) {
  DWORD type = REG_NONE, size = 0;
  return RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
         type == REG_LINK;
}

LONG OpenKeyNoLinks(HKEY root, const std::string& path, REGSAM access, HKEY* result, bool create) {
  *result = nullptr;
  std::vector<std::string> names;
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  UniqueHkey current;
  if (names.empty()) {
    const LONG status = RegOpenKeyExA(root, "", 0, access, current.put());
    if (status != ERROR_SUCCESS) return status;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    const bool last = i + 1 == names.size();
    const REGSAM want = KEY_QUERY_VALUE | (last ? access : KEY_ENUMERATE_SUB_KEYS | (create ? KEY_CREATE_SUB_KEY : 0));
    const HKEY parent = current ? current.get() : root;
    UniqueHkey next;
    LONG status = RegOpenKeyExA(parent, names[i].c_str(), REG_OPTION_OPEN_LINK, want, next.put());
    if (status == ERROR_FILE_NOT_FOUND && create) {
      // Made, then opened again as the key it is: a link put there in
      // between is seen as one.
      status = RegCreateKeyExA(parent, names[i].c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE, nullptr,
                               next.put(), nullptr);
      if (status == ERROR_SUCCESS)
        status = RegOpenKeyExA(parent, names[i].c_str(), REG_OPTION_OPEN_LINK, want, next.put());
    }
    if (status != ERROR_SUCCESS) return status;
    if (IsLinkKey(next.get())) return ERROR_ACCESS_DENIED;
    current = std::move(next);
  }
  *result = current.release();
  return ERROR_SUCCESS;
}

std::string ReadUserString(HKEY user, const std::string& key, const std::string& valueName) {
  UniqueHkey opened;
  if (OpenKeyNoLinks(user, key, KEY_READ, opened.put()) != ERROR_SUCCESS) return {};
  // Read through the key that was checked, not a second opening of it.
  return zv::win::QueryValueText(opened.get(), valueName.c_str()).value_or(std::string());
}

LONG DeleteUserValue(HKEY user, const std::string& key, const std::string& valueName) {
  UniqueHkey opened;
  const LONG status = OpenKeyNoLinks(user, key, KEY_SET_VALUE, opened.put());
  if (status != ERROR_SUCCESS) return status;
  return RegDeleteValueA(opened.get(), valueName.c_str());
}

LONG DeleteUserKeyTree(HKEY user, const std::string& key, bool force) {
  UniqueHkey opened;
  const LONG status = OpenKeyNoLinks(user, key, KEY_READ | DELETE, opened.put());
  if (status != ERROR_SUCCESS) return status;
  return DeleteOpenedTree(opened.get(), force, nullptr);
}

LONG WriteRegPathValue(const std::string& pathText, DWORD type, const std::string& data, REGSAM view) {
  const TRegistryPath path = ParseRegistryPath(pathText);
  if (!path.usable) return kErrorBadKey;
  if (path.emulated) return ERROR_SUCCESS;
  UniqueHkey key;
  const LONG status = RegCreateKeyExA(RootKey(path.root), path.subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_WRITE | view, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  return SetValueExactly(key.get(), path.valueName, type, data);
}

LONG SetValueExactly(HKEY key, const std::string& valueName, DWORD type, const std::string& data) {
  const DWORD length = static_cast<DWORD>(data.size());
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)
    return RegSetValueExA(key, valueName.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()), length);
  // The 9x family measures string data up to its first NUL whatever the
  // count says: a guard byte would become part of the value there.
  if (GetVersion() & 0x80000000u)
    return RegSetValueExA(key, valueName.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.c_str()), length);
  // For string data RegSetValueExA stores one byte more when the byte after
  // the data is a NUL (as NT does, for callers that forgot the terminator):
  // a non-NUL byte there keeps the value at exactly the bytes given.
  std::string guarded = data;
  guarded.push_back('\x01');
  return RegSetValueExA(key, valueName.c_str(), 0, type, reinterpret_cast<const BYTE*>(guarded.data()), length);
}

}  // namespace zv::adm
