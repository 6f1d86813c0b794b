#include "registration.h"

#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "win/paths.h"
#include "win/text.h"
#include "win/unique_handles.h"

namespace zv::bridge {

std::wstring HostKeyPath(const BrowserRow& browser) {
  std::wstring path = std::wstring(browser.vendorKey) + L"\\NativeMessagingHosts\\";
  for (const char* c = kHostName; *c; ++c) path.push_back(static_cast<wchar_t>(*c));
  return path;
}

namespace {

using win::Utf8OfWide;

std::string Manifest(const std::string& programPathUtf8, bool firefox) {
  nlohmann::json manifest = {
      {"name", kHostName},
      {"description", "Zorvane download manager"},
      {"path", programPathUtf8},
      {"type", "stdio"},
  };
  if (firefox)
    manifest["allowed_extensions"] = {kFirefoxExtensionId};
  else
    manifest["allowed_origins"] = {kChromiumOrigin};
  return manifest.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

bool WriteWholeFile(const std::wstring& path, const std::string& text) {
  win::UniqueFile file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

std::vector<REGSAM> ViewsFor(bool machine) {
  if (machine) return {KEY_WOW64_32KEY, KEY_WOW64_64KEY};
  return {0};
}

bool SetDefaultValue(HKEY hive, REGSAM view, const std::wstring& path, const std::wstring& value) {
  win::UniqueHkey key;
  if (RegCreateKeyExW(hive, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, key.put(), nullptr) !=
      ERROR_SUCCESS)
    return false;
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) ==
         ERROR_SUCCESS;
}

// Deletes `path` when nothing is left in it: no subkey, no value.
bool DeleteIfEmpty(HKEY hive, REGSAM view, const std::wstring& path) {
  {
    win::UniqueHkey key;
    if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return true;  // already gone
    DWORD subkeys = 0, values = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS ||
        subkeys != 0 || values != 0)
      return false;
  }
  return RegDeleteKeyExW(hive, path.c_str(), view, 0) == ERROR_SUCCESS;
}

// Removes the host's key, then each parent that registration may have
// made and that holds nothing else now, up to Software.
bool RemoveHostKey(HKEY hive, REGSAM view, const std::wstring& hostKey) {
  const LONG rc = RegDeleteKeyExW(hive, hostKey.c_str(), view, 0);
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return false;
  std::wstring parent = hostKey;
  for (;;) {
    parent.resize(parent.find_last_of(L'\\'));
    if (parent.find(L'\\') == std::wstring::npos) return true;  // Software itself stays
    if (!DeleteIfEmpty(hive, view, parent)) return true;
  }
}

void Complain(const char* what) { std::fprintf(stderr, "zvbridge: %s (error %lu)\n", what, GetLastError()); }

// Creates each missing folder of `path` (which ends in a backslash) below `base`.
bool MakeFolders(const std::wstring& base, const std::wstring& path) {
  for (size_t at = path.find(L'\\', base.size()); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
    const std::wstring folder = path.substr(0, at);
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return true;
}

std::wstring LocalAppData() { return zv::win::ShellFolder(CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE); }

// Each host key once, though several browsers read the same one.
template <typename Visit>
void ForEachHostKey(Visit visit) {
  for (size_t i = 0; i < std::size(kBrowsers); ++i) {
    bool seen = false;
    for (size_t j = 0; j < i; ++j) seen = seen || std::wcscmp(kBrowsers[i].vendorKey, kBrowsers[j].vendorKey) == 0;
    if (!seen) visit(kBrowsers[i]);
  }
}

bool IsAdministrativeSid(PSID sid) {
  for (WELL_KNOWN_SID_TYPE type :
       {WinBuiltinAdministratorsSid, WinLocalSystemSid, WinCreatorOwnerSid, WinBuiltinBackupOperatorsSid}) {
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(buffer);
    if (CreateWellKnownSid(type, nullptr, buffer, &size) && EqualSid(sid, buffer)) return true;
  }
  // The installer's own service accounts (S-1-5-80-...) may hold it too.
  const SID_IDENTIFIER_AUTHORITY* authority = GetSidIdentifierAuthority(sid);
  const SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  return std::memcmp(authority, &nt, sizeof(nt)) == 0 && *GetSidSubAuthorityCount(sid) > 0 &&
         *GetSidSubAuthority(sid, 0) == SECURITY_SERVICE_ID_BASE_RID;
}

}  // namespace

std::string ChromiumManifest(const std::string& programPathUtf8) { return Manifest(programPathUtf8, false); }
std::string FirefoxManifest(const std::string& programPathUtf8) { return Manifest(programPathUtf8, true); }

std::wstring ManifestFolder(bool machine) {
  if (machine) return win::FolderOfPath(win::ModulePath(nullptr));
  const std::wstring base = LocalAppData();
  return base.empty() ? base : base + kUserManifestFolder + L"\\";
}

bool AclLetsNonAdminsChange(const ACL* dacl) {
  if (!dacl) return true;  // no list: everyone may do everything
  constexpr ACCESS_MASK kChanges = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD | DELETE |
                                   WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(const_cast<ACL*>(dacl), i, &ace)) continue;
    const auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if ((allowed->Mask & kChanges) != 0 && !IsAdministrativeSid(&allowed->SidStart)) return true;
  }
  return false;
}

bool WritableByNonAdmins(const std::wstring& path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::wstring object = path;
  if (object.size() > 3 && object.back() == L'\\') object.pop_back();
  if (GetNamedSecurityInfoW(object.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor) != ERROR_SUCCESS)
    return true;  // what cannot be read cannot be trusted
  const bool writable = AclLetsNonAdminsChange(dacl);
  LocalFree(descriptor);
  return writable;
}

int RegisterHost(bool machine) { return RegisterHostAt(win::ModulePath(nullptr), machine, WritableByNonAdmins); }

int RegisterHostAt(const std::wstring& program, bool machine, const WritableCheck& writableByNonAdmins) {
  const std::wstring folder = machine ? win::FolderOfPath(program) : ManifestFolder(false);
  if (folder.empty()) {
    Complain("cannot find the folder for the host manifests");
    return 1;
  }
  if (machine && writableByNonAdmins(folder)) {
    std::fprintf(stderr,
                 "zvbridge: users who are not administrators can change %s; install the program in a "
                 "folder only administrators can change, or register per user without --machine\n",
                 Utf8OfWide(folder).c_str());
    return 1;
  }
  if (!machine && !MakeFolders(LocalAppData(), folder)) {
    Complain("cannot make the folder for the host manifests");
    return 1;
  }
  const std::wstring chromium = folder + kChromiumManifestName;
  const std::wstring firefox = folder + kFirefoxManifestName;
  if (!WriteWholeFile(chromium, ChromiumManifest(Utf8OfWide(program))) ||
      !WriteWholeFile(firefox, FirefoxManifest(Utf8OfWide(program)))) {
    Complain("cannot write the host manifests");
    return 1;
  }
  if (machine && (writableByNonAdmins(chromium) || writableByNonAdmins(firefox))) {
    std::fprintf(stderr, "zvbridge: users who are not administrators can change the manifests in %s\n",
                 Utf8OfWide(folder).c_str());
    DeleteFileW(chromium.c_str());
    DeleteFileW(firefox.c_str());
    return 1;
  }
  const HKEY hive = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  bool ok = true;
  for (REGSAM view : ViewsFor(machine))
    ForEachHostKey([&](const BrowserRow& browser) {
      ok = ok &&
           SetDefaultValue(hive, view, HostKeyPath(browser), browser.family == Family::kFirefox ? firefox : chromium);
    });
  if (!ok) {
    Complain("cannot write a browser's key");
    return 1;
  }
  return 0;
}

int UnregisterHost(bool machine) {
  const HKEY hive = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  bool ok = true;
  for (REGSAM view : ViewsFor(machine))
    ForEachHostKey([&](const BrowserRow& browser) { ok = RemoveHostKey(hive, view, HostKeyPath(browser)) && ok; });
  const std::wstring folder = ManifestFolder(machine);
  for (const wchar_t* name : {kChromiumManifestName, kFirefoxManifestName}) {
    const std::wstring path = folder + name;
    if (!DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND)
      ok = false;
  }
  // The folders registration made, when nothing else lives in them now.
  if (!machine)
    for (std::wstring path = folder.substr(0, folder.size() - 1); path.size() > LocalAppData().size();
         path.resize(path.find_last_of(L'\\')))
      if (!RemoveDirectoryW(path.c_str())) break;
  if (!ok) Complain("cannot remove every registration");
  return ok ? 0 : 1;
}

}  // namespace zv::bridge
