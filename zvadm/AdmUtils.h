// Registry helpers of the administrative helper: the text form of a
// registry path (platform-free), and the registry operations the jobs share.
#pragma once

#include <cstdint>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <ole2.h>
#endif

namespace zv::adm {

// ROOT\subkey\...\value. ROOT is one of the six names (upper case only) or
// the number of an open key's handle.
struct TRegistryPath {
  bool usable = false;
  bool emulated = false;  // "HKEU": accepted, nothing is done
  int32_t root = 0;       // the root key's handle value, sign-extended on use
  std::string subkey;     // between the first and the last "\"
  std::string valueName;  // after the last "\"; empty: the default value
};

// Root handle values as 32-bit numbers.
constexpr int32_t kHkeyClassesRoot = INT32_MIN;        // 0x80000000
constexpr int32_t kHkeyCurrentUser = INT32_MIN + 1;    // 0x80000001
constexpr int32_t kHkeyLocalMachine = INT32_MIN + 2;   // 0x80000002
constexpr int32_t kHkeyUsers = INT32_MIN + 3;          // 0x80000003
constexpr int32_t kHkeyCurrentConfig = INT32_MIN + 5;  // 0x80000005

TRegistryPath ParseRegistryPath(const std::string& text);

// A signed 32-bit number: leading blanks, a sign, then decimal digits, or
// hexadecimal digits after "$" or "0x". Hexadecimal digits give the 32-bit
// pattern (so "$80000002" is the local-machine root), decimal ones must lie
// in the signed range. False for anything else.
bool ParseRootNumber(const std::string& text, int32_t& value);

#ifdef _WIN32
// COM (or OLE, which includes it) on the calling thread for a scope, ended
// again only when this scope began it.
class TComScope {
 public:
  enum TKind { kCom, kOle };
  explicit TComScope(TKind kind)
      : kind_(kind), initialized_(SUCCEEDED(kind == kOle ? OleInitialize(nullptr) : CoInitialize(nullptr))) {}
  ~TComScope() {
    if (!initialized_) return;
    if (kind_ == kOle)
      OleUninitialize();
    else
      CoUninitialize();
  }
  TComScope(const TComScope&) = delete;
  TComScope& operator=(const TComScope&) = delete;

 private:
  TKind kind_;
  bool initialized_;
};

constexpr DWORD kErrorBadKey = 1010;  // ERROR_BADKEY: unusable registry path

inline HKEY RootKey(int32_t root) { return reinterpret_cast<HKEY>(static_cast<intptr_t>(root)); }

// The value's text up to its first NUL; empty on any failure.
std::string ReadRegString(HKEY root, const std::string& key, const std::string& valueName);
LONG DeleteRegValue(HKEY root, const std::string& key, const std::string& valueName);
// Deletes `key`; its subkeys too when `force`, otherwise a key that has
// subkeys is left alone (result 0). A key whose subkeys could not be listed
// stays; the first such error is also stored in `listingError`. A subkey
// that is a registry link is neither followed nor deleted (nor, then, the
// keys above it). `view` is 0 (the helper's own registry view) or one of
// KEY_WOW64_32KEY / KEY_WOW64_64KEY.
LONG DeleteKeyTree(HKEY root, const std::string& key, bool force, LONG* listingError = nullptr, REGSAM view = 0);

// Keys of a user's hive: the user can make any of them a link into another
// hive (HKLM's, or another user's), so each name of the path is opened as
// the key it is, and a link is refused with ERROR_ACCESS_DENIED.
bool IsLinkKey(HKEY key);
LONG OpenKeyNoLinks(HKEY root, const std::string& path, REGSAM access, HKEY* key, bool create = false);
std::string ReadUserString(HKEY user, const std::string& key, const std::string& valueName);
LONG DeleteUserValue(HKEY user, const std::string& key, const std::string& valueName);
LONG DeleteUserKeyTree(HKEY user, const std::string& key, bool force);
// Deletes the key `key` refers to (a link key itself, not its target).
LONG DeleteOpenedKey(HKEY key);
// Stores `data` as it stands (no terminator added) with `type`, as the
// registry-path writer does, into an open key.
LONG SetValueExactly(HKEY key, const std::string& valueName, DWORD type, const std::string& data);
// Creates the key of `path` and stores `data` as it stands (no terminator
// added) with `type`. 1010 for an unusable path; "HKEU" does nothing.
LONG WriteRegPathValue(const std::string& path, DWORD type, const std::string& data, REGSAM view = 0);
#endif

}  // namespace zv::adm
