// Registry scripts: the declarative registration data a module carries as
// "REGISTRY" resources, and the two ways of applying it (register,
// unregister) to a registry. Platform-free: the registry comes through
// RegistryEditor, so the rules are the same on Windows and in native tests.
//
// The language:
//   HKCR                                  a root: HKCR, HKCU, HKLM, HKU, HKCC
//   {                                     (or their HKEY_ names)
//       Name = s 'default value'          a key, with its default value
//       {
//           val Named = s 'text'          a named value (d: a 32-bit number)
//           NoRemove Shared { ... }       never removed on unregistration
//           ForceRemove Owned { ... }     removed whole, also before it is rewritten
//           'Quoted Name'                 names with spaces; '' is one quote
//       }
//   }
// %NAME% is replaced by the variable's value before the script is read
// (%% is one %), so a value is script text: one that goes between quotes
// has its quotes doubled (QuoteForScript).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv::com {

enum class RootKey { kClassesRoot, kCurrentUser, kLocalMachine, kUsers, kCurrentConfig };

enum class KeyFlag { kNone, kNoRemove, kForceRemove };

struct ScriptValue {
  enum class Type { kString, kDword };
  Type type = Type::kString;
  std::string text;     // kString, UTF-8
  uint32_t number = 0;  // kDword
  bool operator==(const ScriptValue& other) const {
    return type == other.type && text == other.text && number == other.number;
  }
};

struct ScriptKey {
  std::string name;  // one path component, UTF-8
  KeyFlag flag = KeyFlag::kNone;
  std::optional<ScriptValue> defaultValue;
  std::vector<std::pair<std::string, ScriptValue>> values;  // "val" entries, in script order
  std::vector<ScriptKey> subkeys;
};

struct ScriptRoot {
  RootKey root = RootKey::kClassesRoot;
  std::vector<ScriptKey> keys;
};

struct RegistryScript {
  std::vector<ScriptRoot> roots;
};

struct ScriptError {
  size_t line = 0;  // 1-based; 0 when the text was not read at all
  std::string message;
};

using ScriptVariables = std::map<std::string, std::string>;

// `text` with every single quote doubled, for a variable whose value is
// put between the quotes of a script value.
std::string QuoteForScript(std::string_view text);

// Parses a whole script. A malformed script gives no script and the first
// error; it never reads past `text`.
std::optional<RegistryScript> ParseRegistryScript(std::string_view text, const ScriptVariables& variables,
                                                  ScriptError* error = nullptr);

// Registry operations the script needs. Paths are below the root, their
// components joined by backslashes. Results are Windows error codes (0 for
// success); deleting what does not exist succeeds.
class RegistryEditor {
 public:
  virtual ~RegistryEditor() = default;
  virtual long CreateKey(RootKey root, const std::string& path) = 0;
  virtual bool KeyExists(RootKey root, const std::string& path) = 0;
  virtual bool HasSubkeys(RootKey root, const std::string& path) = 0;
  // Names of the key's values; the default value, when set, is "".
  virtual std::vector<std::string> ValueNames(RootKey root, const std::string& path) = 0;
  // An empty name is the key's default value.
  virtual long SetValue(RootKey root, const std::string& path, const std::string& name, const ScriptValue& value) = 0;
  virtual long DeleteValue(RootKey root, const std::string& path, const std::string& name) = 0;
  // The key with all its subkeys and values.
  virtual long DeleteTree(RootKey root, const std::string& path) = 0;
};

// A key that unregistration leaves alone, with everything below it: the
// registration data may share keys with the system that the module must
// not take away when it goes.
struct KeptKey {
  RootKey root;
  std::string path;
};

// Whether the module's 32-bit and 64-bit builds share the key on 64-bit
// Windows: every key of HKEY_CLASSES_ROOT (ProgIDs, name-space handler
// entries, ...) but those each registry view has for itself.
bool SharedByBothBuilds(RootKey root, std::string_view path);

// Writes every key and value of the script; ForceRemove keys are deleted
// first. Stops at the first failure and returns its code.
long RegisterScript(const RegistryScript& script, RegistryEditor& registry);

// Removes what the script owns: ForceRemove keys whole; a plain key after
// its subkeys, when nothing else lives in it (no subkey left, no value the
// script did not write); NoRemove keys stay. A key that stays loses only
// the named values the script wrote. Absent keys are skipped. Runs to the
// end and returns the first failure. With `keepShared` (the other build
// is still registered) the keys both builds share stay as well.
long UnregisterScript(const RegistryScript& script, RegistryEditor& registry, const std::vector<KeptKey>& kept = {},
                      bool keepShared = false);

}  // namespace zv::com
