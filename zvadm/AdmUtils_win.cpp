// The registry operations shared by the registry jobs and the later jobs.
#include <vector>

#include "AdmUtils.h"
#include "win/unique_handles.h"

namespace zvadm {

using zv::win::UniqueHkey;

std::string ReadRegString(HKEY root, const std::string& key, const std::string& valueName) {
  UniqueHkey opened;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return {};
  DWORD size = 0;
  if (RegQueryValueExA(opened.get(), valueName.c_str(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
    return {};
  // One byte more, so that a value stored without its terminator ends too.
  std::vector<char> buffer(size + 1, '\0');
  if (RegQueryValueExA(opened.get(), valueName.c_str(), nullptr, nullptr,
                       reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS)
    return {};
  return std::string(buffer.data());
}

LONG DeleteRegValue(HKEY root, const std::string& key, const std::string& valueName) {
  UniqueHkey opened;
  const LONG status = RegOpenKeyExA(root, key.c_str(), 0, KEY_SET_VALUE, opened.put());
  if (status != ERROR_SUCCESS) return status;
  return RegDeleteValueA(opened.get(), valueName.c_str());
}

LONG DeleteKeyTree(HKEY root, const std::string& key, bool force, LONG* listingError) {
  UniqueHkey opened;
  const LONG status = RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, opened.put());
  if (status != ERROR_SUCCESS) return status;
  DWORD subkeys = 0, longest = 0;
  if (RegQueryInfoKeyA(opened.get(), nullptr, nullptr, nullptr, &subkeys, &longest, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
    if (subkeys > 0 && !force) return ERROR_SUCCESS;
    // The longest name is counted in characters; on a double-byte code page
    // its ANSI form can take two bytes for each.
    std::vector<char> name(2 * static_cast<size_t>(longest) + 2);
    // A deleted subkey shifts the later ones down: the index moves on only
    // past a subkey that could not be deleted.
    DWORD index = 0;
    LONG listed = ERROR_SUCCESS;
    for (;;) {
      DWORD length = static_cast<DWORD>(name.size());
      listed = RegEnumKeyExA(opened.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
      if (listed == ERROR_MORE_DATA && name.size() < 0x10000) {
        name.resize(2 * name.size());
        continue;
      }
      if (listed != ERROR_SUCCESS) break;
      if (DeleteKeyTree(root, key + "\\" + std::string(name.data(), length), force, listingError) != ERROR_SUCCESS)
        ++index;
    }
    if (listed != ERROR_NO_MORE_ITEMS) {
      if (listingError && *listingError == ERROR_SUCCESS) *listingError = listed;
      return listed;  // the subkeys remain, and so does the key
    }
  }
  opened.reset();
  return RegDeleteKeyA(root, key.c_str());
}

LONG WriteRegPathValue(const std::string& pathText, DWORD type, const std::string& data) {
  const TRegistryPath path = ParseRegistryPath(pathText);
  if (!path.usable) return kErrorBadKey;
  if (path.emulated) return ERROR_SUCCESS;
  UniqueHkey key;
  const LONG status = RegCreateKeyExA(RootKey(path.root), path.subkey.c_str(), 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  const DWORD length = static_cast<DWORD>(data.size());
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)
    return RegSetValueExA(key.get(), path.valueName.c_str(), 0, type,
                          reinterpret_cast<const BYTE*>(data.data()), length);
  // The 9x family measures string data up to its first NUL whatever the
  // count says: a guard byte would become part of the value there.
  if (GetVersion() & 0x80000000u)
    return RegSetValueExA(key.get(), path.valueName.c_str(), 0, type,
                          reinterpret_cast<const BYTE*>(data.c_str()), length);
  // For string data RegSetValueExA stores one byte more when the byte after
  // the data is a NUL (as NT does, for callers that forgot the terminator):
  // a non-NUL byte there keeps the value at exactly the bytes given.
  std::string guarded = data;
  guarded.push_back('\x01');
  return RegSetValueExA(key.get(), path.valueName.c_str(), 0, type,
                        reinterpret_cast<const BYTE*>(guarded.data()), length);
}

}  // namespace zvadm
