#include "registrar.h"

#include <oleauto.h>

#include <algorithm>

#include "com_ptr.h"
#include "object.h"
#include "../win/paths.h"
#include "../win/registry.h"
#include "../win/unique_handles.h"

namespace zv::com {
namespace {

HKEY RootHandle(RootKey root) {
  switch (root) {
    case RootKey::kClassesRoot:
      return HKEY_CLASSES_ROOT;
    case RootKey::kCurrentUser:
      return HKEY_CURRENT_USER;
    case RootKey::kLocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RootKey::kUsers:
      return HKEY_USERS;
    case RootKey::kCurrentConfig:
      return HKEY_CURRENT_CONFIG;
  }
  return HKEY_CLASSES_ROOT;
}

long OpenKey(RootKey root, const std::string& path, REGSAM access, win::UniqueHkey& key) {
  return RegOpenKeyExW(RootHandle(root), Widen(path).c_str(), 0, access, key.put());
}

bool Absent(long rc) { return rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND; }

std::wstring Folder(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size, nullptr, nullptr);
  return narrow;
}

HMODULE ThisModule() noexcept {
  // Any address inside the module names it; no handle is kept anywhere.
  static const char anchor = 0;
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&anchor), &module);
  return module;
}

std::wstring ModulePath() { return win::ModulePath(ThisModule()); }

long WindowsRegistry::CreateKey(RootKey root, const std::string& path) {
  win::UniqueHkey key;
  return RegCreateKeyExW(RootHandle(root), Widen(path).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
}

bool WindowsRegistry::KeyExists(RootKey root, const std::string& path) {
  win::UniqueHkey key;
  return OpenKey(root, path, KEY_READ, key) == ERROR_SUCCESS;
}

bool WindowsRegistry::HasSubkeys(RootKey root, const std::string& path) {
  win::UniqueHkey key;
  if (OpenKey(root, path, KEY_READ, key) != ERROR_SUCCESS) return false;
  DWORD subkeys = 0;
  if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return true;  // unknown: keep the key
  return subkeys != 0;
}

std::vector<std::string> WindowsRegistry::ValueNames(RootKey root, const std::string& path) {
  std::vector<std::string> names;
  win::UniqueHkey key;
  if (OpenKey(root, path, KEY_READ, key) != ERROR_SUCCESS) return names;
  DWORD longest = 0;
  if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longest, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return names;
  std::wstring name(longest + 1, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD size = static_cast<DWORD>(name.size());
    if (RegEnumValueW(key.get(), index, name.data(), &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.push_back(Narrow(name.substr(0, size)));
  }
  return names;
}

long WindowsRegistry::SetValue(RootKey root, const std::string& path, const std::string& name,
                               const ScriptValue& value) {
  win::UniqueHkey key;
  if (const long rc = OpenKey(root, path, KEY_SET_VALUE, key)) return rc;
  const std::wstring wideName = Widen(name);
  if (value.type == ScriptValue::Type::kDword) {
    const DWORD number = value.number;
    return RegSetValueExW(key.get(), wideName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                          sizeof(number));
  }
  const std::wstring text = Widen(value.text);
  return RegSetValueExW(key.get(), wideName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

long WindowsRegistry::DeleteValue(RootKey root, const std::string& path, const std::string& name) {
  win::UniqueHkey key;
  long rc = OpenKey(root, path, KEY_SET_VALUE, key);
  if (rc == ERROR_SUCCESS) rc = RegDeleteValueW(key.get(), Widen(name).c_str());
  return Absent(rc) ? ERROR_SUCCESS : rc;
}

long WindowsRegistry::DeleteTree(RootKey root, const std::string& path) {
  const std::wstring widePath = Widen(path);
  long rc = RegDeleteTreeW(RootHandle(root), widePath.c_str());
  if (rc == ERROR_SUCCESS) rc = RegDeleteKeyW(RootHandle(root), widePath.c_str());
  return Absent(rc) ? ERROR_SUCCESS : rc;
}

HRESULT RunScript(const std::string& text, const ScriptVariables& variables, ScriptMode mode, RegistryEditor& registry,
                  const std::vector<KeptKey>& kept, bool keepShared) {
  const std::optional<RegistryScript> script = ParseRegistryScript(text, variables);
  if (!script) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  const long rc =
      mode == ScriptMode::kRegister ? RegisterScript(*script, registry)
                                    : UnregisterScript(*script, registry, kept, keepShared);
  return HRESULT_FROM_WIN32(rc);
}

std::wstring ShortPath(const std::wstring& path) {
  const DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (size == 0) return path;
  std::wstring shortPath(size, L'\0');
  const DWORD got = GetShortPathNameW(path.c_str(), shortPath.data(), size);
  return got > 0 && got < size ? shortPath.substr(0, got) : path;
}

std::string ScriptModulePath(ModulePathForm form) {
  const std::wstring path = ModulePath();
  if (path.empty()) return {};
  return QuoteForScript(Narrow(form == ModulePathForm::kShort ? ShortPath(path) : path));
}

HRESULT RunScriptResource(UINT id, ScriptMode mode, const std::vector<KeptKey>& kept, ModulePathForm form,
                          bool keepShared) {
  const HMODULE module = ThisModule();
  const std::string path = ScriptModulePath(form);
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"REGISTRY");
  if (!found) return HRESULT_FROM_WIN32(GetLastError());
  HGLOBAL loaded = LoadResource(module, found);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return HRESULT_FROM_WIN32(GetLastError());
  const std::string text(static_cast<const char*>(bytes), SizeofResource(module, found));
  WindowsRegistry registry;
  return RunScript(text, {{"MODULE", path}}, mode, registry, kept, keepShared);
}

HRESULT RegisterModuleTypeLibrary() {
  const std::wstring path = ModulePath();
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  ComPtr<ITypeLib> library;
  if (const HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()); FAILED(hr)) return hr;
  std::wstring file = path;
  std::wstring helpDir = Folder(path);
  return RegisterTypeLib(library.get(), file.data(), helpDir.data());
}

HRESULT UnregisterModuleTypeLibrary() {
  const std::wstring path = ModulePath();
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  ComPtr<ITypeLib> library;
  if (const HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()); FAILED(hr)) return hr;
  TLIBATTR* attr = nullptr;
  if (const HRESULT hr = library->GetLibAttr(&attr); FAILED(hr)) return hr;
  const TLIBATTR copy = *attr;
  library->ReleaseTLibAttr(attr);
  BSTR registered = nullptr;
  if (FAILED(QueryPathOfRegTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, &registered)))
    return S_OK;
  SysFreeString(registered);
  return UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
}

HRESULT RegisterServer(const ServerDefinition& server) noexcept {
  return Guarded([&] {
    for (UINT id : server.scripts)
      if (const HRESULT hr = RunScriptResource(id, ScriptMode::kRegister, {}, server.modulePath); FAILED(hr)) return hr;
    if (server.entries && WriteRegistryEntries(server.entries()) != ERROR_SUCCESS) return E_FAIL;
    if (server.afterEntries) server.afterEntries(ScriptMode::kRegister);
    if (server.typeLibrary == ServerDefinition::TypeLibrary::kCarried) return S_OK;
    return RegisterModuleTypeLibrary();
  });
}

bool OtherBuildRegistered(const ServerDefinition& server) {
  const REGSAM view = win::OtherBuildView();
  if (!view) return false;
  std::vector<CLSID> classes;
  for (const ServerClassFactory* factory : server.factories) classes.push_back(factory->ClassId());
  for (const ClassEntry& entry : server.classes) classes.push_back(*entry.clsid);
  for (const CLSID& clsid : classes) {
    wchar_t text[40] = {};
    if (!StringFromGUID2(clsid, text, 40)) continue;
    win::UniqueHkey key;
    const std::wstring path = std::wstring(L"CLSID\\") + text + L"\\InprocServer32";
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS) return true;
    key.release();
  }
  return false;
}

HRESULT UnregisterServer(const ServerDefinition& server) noexcept {
  const bool keepLibrary = server.unregistration == ServerDefinition::Unregistration::kKeepTypeLibrary ||
                           server.typeLibrary == ServerDefinition::TypeLibrary::kCarried;
  const HRESULT result = Guarded([&] {
    const bool otherBuild = OtherBuildRegistered(server);
    HRESULT first = S_OK;
    for (auto id = server.scripts.rbegin(); id != server.scripts.rend(); ++id) {
      const HRESULT hr = RunScriptResource(*id, ScriptMode::kUnregister, server.kept, server.modulePath, otherBuild);
      if (FAILED(hr) && SUCCEEDED(first)) first = hr;
    }
    if (server.entries) {
      std::vector<RegistryEntry> entries = server.entries();
      if (otherBuild)
        entries.erase(
            std::remove_if(entries.begin(), entries.end(),
                           [](const RegistryEntry& entry) { return SharedByBothBuilds(entry.root, entry.key); }),
            entries.end());
      DeleteRegistryEntryKeys(entries);
    }
    if (server.afterEntries) server.afterEntries(ScriptMode::kUnregister);
    if (keepLibrary) return first;
    const HRESULT library = UnregisterModuleTypeLibrary();
    return FAILED(first) ? first : library;
  });
  return server.unregistration == ServerDefinition::Unregistration::kKeepTypeLibrary ? S_OK : result;
}

long WriteRegistryEntries(const std::vector<RegistryEntry>& entries) {
  WindowsRegistry registry;
  for (const RegistryEntry& entry : entries) {
    if (const long rc = registry.CreateKey(entry.root, entry.key)) return rc;
    if (const long rc =
            registry.SetValue(entry.root, entry.key, entry.name, ScriptValue{ScriptValue::Type::kString, entry.data}))
      return rc;
  }
  return ERROR_SUCCESS;
}

void DeleteRegistryEntryKeys(const std::vector<RegistryEntry>& entries) {
  std::vector<const RegistryEntry*> keys;
  for (const RegistryEntry& entry : entries) {
    const bool named = std::any_of(keys.begin(), keys.end(), [&](const RegistryEntry* key) {
      return key->root == entry.root && key->key == entry.key;
    });
    if (!named) keys.push_back(&entry);
  }
  for (auto key = keys.rbegin(); key != keys.rend(); ++key)
    RegDeleteKeyW(RootHandle((*key)->root), Widen((*key)->key).c_str());
}

}  // namespace zv::com
