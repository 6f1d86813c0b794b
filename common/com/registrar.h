// Registration of a module: its registry scripts (resources of type
// "REGISTRY", %MODULE% standing for the module's path) and its type
// library (resource "TYPELIB" 1 of the module's own file).
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

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
  long SetValue(RootKey root, const std::string& path, const std::string& name,
                const ScriptValue& value) override;
  long DeleteValue(RootKey root, const std::string& path, const std::string& name) override;
  long DeleteTree(RootKey root, const std::string& path) override;
};

enum class ScriptMode { kRegister, kUnregister };

// Parses and applies one script text. A malformed script is
// HRESULT_FROM_WIN32(ERROR_INVALID_DATA); registry failures are their
// Windows error as an HRESULT.
HRESULT RunScript(const std::string& text, const ScriptVariables& variables, ScriptMode mode,
                  RegistryEditor& registry, const std::vector<KeptKey>& kept = {});

// Runs the module's script resource `id`, with %MODULE% its path. A missing
// resource or unreadable module file is the Windows error as an HRESULT.
HRESULT RunScriptResource(UINT id, ScriptMode mode, const std::vector<KeptKey>& kept = {});

// Registers the type library embedded in the module, its folder as help
// directory; unregistering one that is not registered succeeds.
HRESULT RegisterModuleTypeLibrary();
HRESULT UnregisterModuleTypeLibrary();

// DllRegisterServer of a module: its scripts in order, then its type library.
HRESULT RegisterServer(std::initializer_list<UINT> scripts) noexcept;
// DllUnregisterServer: the scripts in reverse order (leaving `kept`), then
// the type library; the first failure is the result, but every step runs.
HRESULT UnregisterServer(std::initializer_list<UINT> scripts, const std::vector<KeptKey>& kept = {}) noexcept;

// UTF-8 <-> UTF-16, for script text and registry names.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

}  // namespace zv::com
