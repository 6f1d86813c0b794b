// Registration of the host with the browsers: the two host manifests beside
// the program, and the keys under which each browser looks them up.
#pragma once

#include <string>

namespace zv::bridge {

inline constexpr char kHostName[] = "com.quennet.zorvane";
// The extension's ID follows from the public key in its manifest.
inline constexpr char kChromiumOrigin[] = "chrome-extension://bpfojcnboiciknhmbgmmilipdannkaci/";
inline constexpr char kFirefoxExtensionId[] = "zorvane@quennet.com";

// The manifests' file names, beside the program.
inline constexpr wchar_t kChromiumManifestName[] = L"com.quennet.zorvane.chromium.json";
inline constexpr wchar_t kFirefoxManifestName[] = L"com.quennet.zorvane.firefox.json";

// The manifests' texts for a host at `programPathUtf8`.
std::string ChromiumManifest(const std::string& programPathUtf8);
std::string FirefoxManifest(const std::string& programPathUtf8);

// For the current user, or with `machine` for every user (both registry
// views). Each answers 0 on success; the failure is told on stderr.
int RegisterHost(bool machine);
int UnregisterHost(bool machine);

}  // namespace zv::bridge
