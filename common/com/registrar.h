// Registration of a module: its registry scripts (resources of type
// "REGISTRY", %MODULE% standing for the module's path) and its type
// library (resource "TYPELIB" 1 of the module's own file).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "class_factory.h"
#include "registry_script.h"

namespace zv::com {

// The module (DLL) this code is linked into.
HMODULE ThisModule() noexcept;
// Its full path; empty when it cannot be read.
std::wstring ModulePath();

// The registry of the calling process's view, through the wide API.
class WindowsRegistry final : public RegistryEditor {
 public:
  long CreateKey(RootKey root, const std::string& path) override;
  bool KeyExists(RootKey root, const std::string& path) override;
  bool HasSubkeys(RootKey root, const std::string& path) override;
  std::vector<std::string> ValueNames(RootKey root, const std::string& path) override;
  long SetValue(RootKey root, const std::string& path, const std::string& name, const ScriptValue& value) override;
  long DeleteValue(RootKey root, const std::string& path, const std::string& name) override;
  long DeleteTree(RootKey root, const std::string& path) override;
};

enum class ScriptMode { kRegister, kUnregister };

// How %MODULE% names the module in its scripts: its full path, or that
// path's short (8.3) form, which has no spaces for hosts that split
// command lines (the long one when the file system has no short names).
enum class ModulePathForm { kLong, kShort };

// The short (8.3) form of an existing file's path; the path itself when
// the file system has none.
std::wstring ShortPath(const std::wstring& path);

// The value of %MODULE%: the path in the given form with its quotes
// doubled, ready to stand between the quotes of a script value. Empty when
// the module's path cannot be read.
std::string ScriptModulePath(ModulePathForm form);

// Parses and applies one script text. A malformed script is
// HRESULT_FROM_WIN32(ERROR_INVALID_DATA); registry failures are their
// Windows error as an HRESULT.
HRESULT RunScript(const std::string& text, const ScriptVariables& variables, ScriptMode mode, RegistryEditor& registry,
                  const std::vector<KeptKey>& kept = {}, bool keepShared = false);

// Runs the module's script resource `id`, with %MODULE% its path. A missing
// resource or unreadable module file is the Windows error as an HRESULT.
HRESULT RunScriptResource(UINT id, ScriptMode mode, const std::vector<KeptKey>& kept = {},
                          ModulePathForm form = ModulePathForm::kLong, bool keepShared = false);

// Registers the type library embedded in the module, its folder as help
// directory; unregistering one that is not registered succeeds.
HRESULT RegisterModuleTypeLibrary();
HRESULT UnregisterModuleTypeLibrary();

// Registration written from code: one string value per entry (an empty
// name is the key's default value), keys created as needed.
struct RegistryEntry {
  RootKey root;
  std::string key;   // UTF-8, below the root
  std::string name;  // UTF-8
  std::string data;  // UTF-8, written as REG_SZ
};

// What an in-process server declares about itself; the shared module
// entry (DllMain and the four exports, server_module.cpp) serves it.
struct ServerDefinition {
  std::vector<ClassEntry> classes;  // the object map, in order
  std::vector<UINT> scripts;        // "REGISTRY" resources, registered in this order
  std::vector<KeptKey> kept;        // keys unregistration leaves in place
  ModulePathForm modulePath = ModulePathForm::kLong;
  // kRemoveAll: unregistration removes the type library too and reports
  // its first failure. kKeepTypeLibrary: the library stays as it is and
  // unregistration always succeeds.
  enum class Unregistration { kRemoveAll, kKeepTypeLibrary };
  Unregistration unregistration = Unregistration::kRemoveAll;

  // Factories the module makes once and keeps until it unloads; when set,
  // they serve DllGetClassObject in place of `classes`, and holding one
  // does not keep the module loaded (only LockServer does).
  std::vector<ServerClassFactory*> factories;
  // Registration from code, after the scripts. Asked for at each
  // registration and unregistration, since entries may name the module's
  // path or file name. Written in order; an entry that cannot be written
  // stops registration with E_FAIL. Unregistration removes their keys,
  // each after its subkeys, passing over what is not there.
  std::function<std::vector<RegistryEntry>()> entries;
  // Runs after the entries are written or removed, for what registration
  // writes only under a condition; its failures are not reported.
  std::function<void(ScriptMode)> afterEntries;
  // kRegistered: registration registers the embedded type library.
  // kCarried: the library is only embedded, for clients that read it from
  // the module's file; neither direction touches its registration.
  enum class TypeLibrary { kRegistered, kCarried };
  TypeLibrary typeLibrary = TypeLibrary::kRegistered;
};

// The server definition of the module; each module that links the shared
// module entry defines it.
const ServerDefinition& ThisServer();

// Whether the module's other build (the 32-bit one beside a 64-bit one on
// 64-bit Windows, or the reverse) has one of the server's classes
// registered: an InprocServer32 of the class in the other registry view.
// Never on 32-bit Windows.
bool OtherBuildRegistered(const ServerDefinition& server);

// DllRegisterServer: the scripts in order, the entries, the hook, then the
// type library; the first failure is the result.
HRESULT RegisterServer(const ServerDefinition& server) noexcept;
// DllUnregisterServer: the scripts in reverse order (leaving the kept
// keys), the entries' keys, the hook, then the type library as the
// definition says. While the other build is registered, the keys both
// builds share stay, in the scripts and the entries alike. Every step runs.
HRESULT UnregisterServer(const ServerDefinition& server) noexcept;

// Writes the entries in order; stops at the first failure and returns its
// Windows error (0 when all were written).
long WriteRegistryEntries(const std::vector<RegistryEntry>& entries);
// Deletes the entries' keys in the reverse order of their first mention,
// so that each goes after its subkeys; absent keys and failures are
// passed over.
void DeleteRegistryEntryKeys(const std::vector<RegistryEntry>& entries);

// UTF-8 <-> UTF-16, for script text and registry names.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

}  // namespace zv::com
