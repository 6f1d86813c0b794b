#include "check.h"

#include <windows.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "handoff/handoff.h"
#include "registration.h"
#include "web_download.h"
#include "win/paths.h"
#include "win/registry.h"
#include "win/text.h"
#include "win/unique_handles.h"

namespace zv::bridge {
namespace {

using nlohmann::json;
using win::Utf8OfWide;

struct Check {
  std::string subject;  // "Chrome registration", "download manager", ...
  bool ok;
  std::string text;  // what was found, or the problem and its fix
};

constexpr char kWindowCheck[] = "download manager window";
constexpr char kRegisterFix[] = "run \"zvbridge.exe --register\" from the download manager's folder";

struct Found {
  std::wstring manifest;
  std::string where;  // "HKCU", "HKLM (64-bit view)", ...
};

// Where the browsers look first: the user's key, then the machine's in both views.
std::optional<Found> FindRegistration(const BrowserRow& browser) {
  const std::wstring path = HostKeyPath(browser);
  const struct {
    HKEY hive;
    REGSAM view;
    const char* name;
  } places[] = {{HKEY_CURRENT_USER, 0, "HKCU"},
                {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "HKLM (64-bit view)"},
                {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "HKLM (32-bit view)"}};
  for (const auto& place : places)
    if (auto value = win::ReadRegTextW(place.hive, path.c_str(), nullptr, place.view))
      return Found{*value, std::string(place.name) + "\\" + Utf8OfWide(path)};
  return std::nullopt;
}

std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  win::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return std::nullopt;
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) text.append(buffer, got);
  return text;
}

// The manifest's path is UTF-8; the program's is wide.
bool SamePath(const std::string& a, const std::wstring& b) {
  const std::u16string wide = win::Utf16OfUtf8(a);
  return CompareStringOrdinal(reinterpret_cast<const wchar_t*>(wide.c_str()), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The manifest a registration names: there, JSON, this host, this program,
// our extension.
std::string ManifestProblem(const Found& found, const BrowserRow& browser) {
  const auto text = ReadWholeFile(found.manifest);
  if (!text) return "the manifest " + Utf8OfWide(found.manifest) + " is missing";
  const json manifest = json::parse(*text, nullptr, false);
  if (manifest.is_discarded() || !manifest.is_object())
    return "the manifest " + Utf8OfWide(found.manifest) + " is not valid JSON";
  if (manifest.value("name", "") != kHostName) return "the manifest names another host";
  const std::wstring program = win::ModulePath(nullptr);
  const std::string path = manifest.value("path", "");
  if (!SamePath(path, program)) return "the manifest's path \"" + path + "\" is not this program";
  const bool firefox = browser.family == Family::kFirefox;
  const json allowed = manifest.value(firefox ? "allowed_extensions" : "allowed_origins", json::array());
  const std::string ours = firefox ? kFirefoxExtensionId : kChromiumOrigin;
  bool allows = false;
  for (const auto& entry : allowed) allows = allows || (entry.is_string() && entry == ours);
  if (!allows) return std::string("the manifest does not allow the extension ") + ours;
  return {};
}

void CheckBrowsers(std::vector<Check>& checks) {
  for (const BrowserRow& browser : kBrowsers) {
    const std::string subject = std::string(browser.name) + " registration";
    const auto found = FindRegistration(browser);
    if (!found) {
      checks.push_back({subject, false, "no key " + Utf8OfWide(HostKeyPath(browser)) + "; " + kRegisterFix});
      continue;
    }
    const std::string problem = ManifestProblem(*found, browser);
    if (problem.empty())
      checks.push_back({subject, true, found->where + " names " + Utf8OfWide(found->manifest)});
    else
      checks.push_back({subject, false, found->where + ": " + problem + "; " + kRegisterFix});
  }
}

void CheckManager(std::vector<Check>& checks) {
  using namespace zv::handoff;
  const auto program = ReadRegText(HKEY_LOCAL_MACHINE, kAppPathsKey, "");
  if (!program)
    checks.push_back(
        {"download manager", false, "no App Paths entry for zorvex.exe; install the download manager again"});
  else if (GetFileAttributesA(program->c_str()) == INVALID_FILE_ATTRIBUTES)
    checks.push_back({"download manager", false,
                      "App Paths names " + *program + ", which does not exist; install the download manager again"});
  else
    checks.push_back({"download manager", true, *program});
  ManagerSettings settings;
  const auto caption = settings.Read(setting::kCaption);
  const bool running = FindManagerWindow(caption ? caption->c_str() : nullptr) != nullptr;
  checks.push_back({kWindowCheck, running, running ? "running" : "not running; it is started for the first download"});
  if (!SwitchOn(settings.Read(kWebUrlCatch)))
    checks.push_back({"WebUrlCatch", false,
                      "off: every download is declined; switch browser catching on in the "
                      "download manager's settings"});
  else
    checks.push_back({"WebUrlCatch", true, "on"});
  if (!SwitchOn(settings.Read(setting::kIntegrationTemporaryOff)))
    checks.push_back({"IntegrationTemporaryOff", false,
                      "integration is switched off: every download is declined; "
                      "switch it on again in the download manager"});
  else
    checks.push_back({"IntegrationTemporaryOff", true, "integration on"});
}

}  // namespace

ManagerStatus CheckManagerNow() {
  std::vector<Check> checks;
  CheckManager(checks);
  ManagerStatus status;
  for (const Check& check : checks) {
    if (check.subject == kWindowCheck)
      status.running = check.ok;
    else if (!check.ok)
      status.problems.push_back(check.subject + ": " + check.text);
  }
  return status;
}

int RunCheck(bool asJson) {
  std::vector<Check> checks;
  CheckBrowsers(checks);
  CheckManager(checks);
  bool allOk = true;
  json out = json::array();
  for (const Check& check : checks) {
    // A download manager that is not running yet is started when needed.
    const bool counts = check.subject != kWindowCheck;
    allOk = allOk && (check.ok || !counts);
    if (asJson)
      out.push_back({{"check", check.subject}, {"ok", check.ok}, {"detail", check.text}});
    else
      std::printf("%s: %s%s\n", check.subject.c_str(), check.ok ? "ok, " : "", check.text.c_str());
  }
  if (asJson) std::printf("%s\n", out.dump(1, ' ', false, json::error_handler_t::replace).c_str());
  return allOk ? 0 : 1;
}

}  // namespace zv::bridge
