#include "registration.h"

#include <windows.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "win/unique_handles.h"

namespace zv::bridge {
namespace {

struct BrowserKey {
  const wchar_t* vendor;  // the browser's own key under Software
  bool firefox;
};

// Chrome, Chromium and Edge read the Chromium-family manifest; Edge also
// looks under the other two.
constexpr BrowserKey kBrowserKeys[] = {
    {L"Software\\Google\\Chrome", false},
    {L"Software\\Chromium", false},
    {L"Software\\Microsoft\\Edge", false},
    {L"Software\\Mozilla", true},
};

std::wstring HostKeyPath(const BrowserKey& browser) {
  std::wstring path = std::wstring(browser.vendor) + L"\\NativeMessagingHosts\\";
  for (const char* c = kHostName; *c; ++c) path.push_back(static_cast<wchar_t>(*c));
  return path;
}

std::string Utf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size) - 1);
  return out;
}

std::wstring ProgramPath() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return std::wstring(path.data(), n);
    path.resize(path.size() * 2);
  }
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/") + 1); }

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
  win::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
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
  if (RegCreateKeyExW(hive, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS)
    return false;
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        bytes) == ERROR_SUCCESS;
}

// Deletes `path` when nothing is left in it: no subkey, no value.
bool DeleteIfEmpty(HKEY hive, REGSAM view, const std::wstring& path) {
  {
    win::UniqueHkey key;
    if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS)
      return true;  // already gone
    DWORD subkeys = 0, values = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
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

}  // namespace

std::string ChromiumManifest(const std::string& programPathUtf8) { return Manifest(programPathUtf8, false); }
std::string FirefoxManifest(const std::string& programPathUtf8) { return Manifest(programPathUtf8, true); }

int RegisterHost(bool machine) {
  const std::wstring program = ProgramPath();
  const std::wstring folder = FolderOf(program);
  const std::wstring chromium = folder + kChromiumManifestName;
  const std::wstring firefox = folder + kFirefoxManifestName;
  if (!WriteWholeFile(chromium, ChromiumManifest(Utf8(program))) ||
      !WriteWholeFile(firefox, FirefoxManifest(Utf8(program)))) {
    Complain("cannot write the host manifests beside the program");
    return 1;
  }
  const HKEY hive = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  for (REGSAM view : ViewsFor(machine))
    for (const BrowserKey& browser : kBrowserKeys)
      if (!SetDefaultValue(hive, view, HostKeyPath(browser), browser.firefox ? firefox : chromium)) {
        Complain("cannot write a browser's key");
        return 1;
      }
  return 0;
}

int UnregisterHost(bool machine) {
  const HKEY hive = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  bool ok = true;
  for (REGSAM view : ViewsFor(machine))
    for (const BrowserKey& browser : kBrowserKeys) ok = RemoveHostKey(hive, view, HostKeyPath(browser)) && ok;
  // The manifests serve both scopes: they go when neither still names them.
  const HKEY other = machine ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  bool stillNamed = false;
  for (REGSAM view : ViewsFor(!machine))
    for (const BrowserKey& browser : kBrowserKeys) {
      win::UniqueHkey key;
      if (RegOpenKeyExW(other, HostKeyPath(browser).c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS)
        stillNamed = true;
    }
  if (!stillNamed) {
    const std::wstring folder = FolderOf(ProgramPath());
    for (const wchar_t* name : {kChromiumManifestName, kFirefoxManifestName}) {
      const std::wstring path = folder + name;
      if (!DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) ok = false;
    }
  }
  if (!ok) Complain("cannot remove every registration");
  return ok ? 0 : 1;
}

}  // namespace zv::bridge
