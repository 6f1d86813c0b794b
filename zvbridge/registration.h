// Registration of the host with the browsers: the two host manifests (per
// user in the user's own folder, for every user beside the program) and
// the keys under which each browser looks them up.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace zv::bridge {

inline constexpr char kHostName[] = "com.quennet.zorvane";
// The extension's ID follows from the public key in its manifest.
inline constexpr char kChromiumOrigin[] = "chrome-extension://bpfojcnboiciknhmbgmmilipdannkaci/";
inline constexpr char kFirefoxExtensionId[] = "zorvane@quennet.com";

inline constexpr wchar_t kChromiumManifestName[] = L"com.quennet.zorvane.chromium.json";
inline constexpr wchar_t kFirefoxManifestName[] = L"com.quennet.zorvane.firefox.json";
// Under %LOCALAPPDATA%: a standard user can write there whatever folder the
// program lies in.
inline constexpr wchar_t kUserManifestFolder[] = L"Quennet\\Zorvane\\NativeMessagingHosts";

enum class Family { kChromium, kFirefox };

// One browser that reads native-messaging registrations: the key under
// Software whose NativeMessagingHosts\<host> names the manifest. Browsers
// that read another's key share its row's key; each key is written once.
struct BrowserRow {
  const char* name;
  const wchar_t* vendorKey;
  Family family;
};

inline constexpr BrowserRow kBrowsers[] = {
    {"Chrome", L"Software\\Google\\Chrome", Family::kChromium},
    {"Chromium", L"Software\\Chromium", Family::kChromium},
    {"Edge", L"Software\\Microsoft\\Edge", Family::kChromium},
    {"Brave", L"Software\\BraveSoftware\\Brave-Browser", Family::kChromium},
    {"Vivaldi", L"Software\\Vivaldi", Family::kChromium},
    {"Opera", L"Software\\Google\\Chrome", Family::kChromium},
    {"Firefox", L"Software\\Mozilla", Family::kFirefox},
    {"Tor Browser", L"Software\\Mozilla", Family::kFirefox},
    {"LibreWolf", L"Software\\LibreWolf", Family::kFirefox},
    {"Waterfox", L"Software\\Waterfox", Family::kFirefox},
};

// "<vendor>\NativeMessagingHosts\<host name>".
std::wstring HostKeyPath(const BrowserRow& browser);

// The manifests' texts for a host at `programPathUtf8`.
std::string ChromiumManifest(const std::string& programPathUtf8);
std::string FirefoxManifest(const std::string& programPathUtf8);

// Where the manifests of a scope go, with a trailing backslash.
std::wstring ManifestFolder(bool machine);

// For the current user, or with `machine` for every user (both registry
// views). Each answers 0 on success; the failure is told on stderr.
int RegisterHost(bool machine);
int UnregisterHost(bool machine);

// Whether anyone but administrators may change a file or folder.
using WritableCheck = std::function<bool(const std::wstring& path)>;
// RegisterHost for the host at `program`, with `writableByNonAdmins`
// judging the folder and the manifests of a registration for every user.
int RegisterHostAt(const std::wstring& program, bool machine, const WritableCheck& writableByNonAdmins);

// Whether anyone but administrators and the system may change the file or
// folder (or its contents): a manifest there could be turned against every
// user.
bool WritableByNonAdmins(const std::wstring& path);
// The same for one access list; a null list lets everyone change everything.
bool AclLetsNonAdminsChange(const ACL* dacl);

}  // namespace zv::bridge
