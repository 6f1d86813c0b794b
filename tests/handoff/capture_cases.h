// The capture decision's cases, shared by the platform-free test (settings
// from a map) and the Windows test (settings in the registry, keys in the
// thread's keyboard state), so that both builds check the same rules.
#pragma once

#include <map>
#include <ostream>
#include <optional>
#include <string>
#include <vector>

#include "handoff/capture_filter.h"

namespace zv::test {

using zv::handoff::CaptureModule;
using zv::handoff::ModifierKeys;
using zv::handoff::Refusal;

struct CaptureCase {
  const char* name;
  CaptureModule module;
  ModifierKeys keys;
  std::map<std::string, std::string> settings;
  std::string url;
  std::optional<std::string> postData;
  bool caught;
  Refusal refusal;
};

// Names the case in test output instead of dumping its bytes.
inline void PrintTo(const CaptureCase& c, std::ostream* os) { *os << c.name; }

inline const ModifierKeys kNoKeys{};
inline const ModifierKeys kCtrlAlt{false, true, true};
inline const ModifierKeys kShiftCtrlAlt{true, true, true};

inline std::vector<CaptureCase> CaptureCases() {
  const auto H = CaptureModule::kProtocolHandler;
  const auto B = CaptureModule::kHelperObject;
  const auto N = CaptureModule::kNavigatorCatcher;
  const std::map<std::string, std::string> zipExe{{"AcceptingTypes", "ZIP,EXE"}};
  auto with = [&](std::map<std::string, std::string> extra) {
    auto s = zipExe;
    for (auto& kv : extra) s[kv.first] = kv.second;
    return s;
  };
  const std::string zip = "http://example.org/files/file.zip";
  return {
      // Extensions and the type lists.
      {"AcceptedZip", H, kNoKeys, zipExe, zip, {}, true, Refusal::kNone},
      {"AcceptedZipHelper", B, kNoKeys, zipExe, zip, {}, true, Refusal::kNone},
      {"AcceptedZipNavigator", N, kNoKeys, zipExe, zip, {}, true, Refusal::kNone},
      {"MixedCaseExtension", H, kNoKeys, zipExe, "http://example.org/file.ZiP", {}, true, Refusal::kNone},
      {"LowerCaseListEntry", H, kNoKeys, {{"AcceptingTypes", "zip"}}, zip, {}, false, Refusal::kExtensionNotAccepted},
      {"Query", H, kNoKeys, zipExe, zip + "?mirror=2", {}, false, Refusal::kQuery},
      {"QueryCtrlAlt", H, kCtrlAlt, zipExe, zip + "?mirror=2", {}, true, Refusal::kNone},
      {"QueryNavigator", N, kNoKeys, zipExe, zip + "?a", {}, false, Refusal::kQuery},
      {"QueryNavigatorCtrlAlt", N, kCtrlAlt, zipExe, "http://example.org/get?id=1", {}, true, Refusal::kNone},
      {"Fragment", H, kNoKeys, zipExe, zip + "#part", {}, true, Refusal::kNone},
      {"SchemeAndHostOnly", H, kNoKeys, zipExe, "http://example.org", {}, false, Refusal::kNoExtension},
      {"TrailingSlash", H, kNoKeys, zipExe, "http://example.org/files/", {}, false, Refusal::kNoExtension},
      {"FragmentDot",
       H,
       kNoKeys,
       zipExe,
       "http://example.org/download#v1.zip",
       {},
       false,
       Refusal::kExtensionNotAccepted},
      {"HtmlPage",
       H,
       kNoKeys,
       {{"AcceptingTypes", "ZIP"}},
       "http://example.org/index.html",
       {},
       false,
       Refusal::kExtensionNotAccepted},
      {"NoAcceptList", H, kNoKeys, {}, zip, {}, false, Refusal::kNoAcceptList},
      {"ListTwoLeadingSeparators",
       H,
       kNoKeys,
       {{"AcceptingTypes", " ,ZIP"}},
       zip,
       {},
       false,
       Refusal::kExtensionNotAccepted},
      {"ListOneLeadingComma", H, kNoKeys, {{"AcceptingTypes", ",ZIP"}}, zip, {}, true, Refusal::kNone},
      {"ListRunsOfSeparators", H, kNoKeys, {{"AcceptingTypes", "MP3 ,, ,ZIP"}}, zip, {}, true, Refusal::kNone},
      {"EmptyList", H, kNoKeys, {{"AcceptingTypes", ""}}, zip, {}, false, Refusal::kExtensionNotAccepted},
      {"IgnoreListWithoutList",
       H,
       kNoKeys,
       with({{"AcceptFileTypes", "FALSE"}}),
       zip,
       {},
       false,
       Refusal::kNoIgnoreList},
      {"IgnoreListWithoutListCtrlAlt",
       H,
       kCtrlAlt,
       with({{"AcceptFileTypes", "FALSE"}}),
       zip,
       {},
       true,
       Refusal::kNone},
      {"IgnoreListIgnores",
       H,
       kNoKeys,
       with({{"AcceptFileTypes", "FALSE"}, {"IgnoringTypes", "HTML,ZIP"}}),
       zip,
       {},
       false,
       Refusal::kIgnoredExtension},
      {"IgnoreListPasses",
       H,
       kNoKeys,
       {{"AcceptFileTypes", "FALSE"}, {"IgnoringTypes", "HTML"}},
       zip,
       {},
       true,
       Refusal::kNone},
      {"AcceptFileTypesLowerFalse", H, kNoKeys, with({{"AcceptFileTypes", "false"}}), zip, {}, true, Refusal::kNone},
      // Switches and keys.
      {"IntegrationOff",
       H,
       kNoKeys,
       with({{"IntegrationTemporaryOff", "FALSE"}}),
       zip,
       {},
       false,
       Refusal::kIntegrationOff},
      {"IntegrationOffCtrlAlt",
       B,
       kCtrlAlt,
       with({{"IntegrationTemporaryOff", "FALSE"}}),
       "http://example.org/page.html",
       {},
       true,
       Refusal::kNone},
      {"IntegrationOnTrue", N, kNoKeys, with({{"IntegrationTemporaryOff", "TRUE"}}), zip, {}, true, Refusal::kNone},
      {"ShiftWithCtrlAlt", H, kShiftCtrlAlt, zipExe, zip, {}, false, Refusal::kShift},
      {"ShiftNavigator", N, ModifierKeys{true, false, false}, zipExe, zip, {}, false, Refusal::kShift},
      {"IeUrlCatchOff", H, kCtrlAlt, with({{"IEUrlCatch", "FALSE"}}), zip, {}, false, Refusal::kCatchSwitchOff},
      {"IeUrlCatchTrue", H, kNoKeys, with({{"IEUrlCatch", "TRUE"}}), zip, {}, true, Refusal::kNone},
      {"IeUrlCatchIgnoredByHelper", B, kNoKeys, with({{"IEUrlCatch", "FALSE"}}), zip, {}, true, Refusal::kNone},
      {"NnUrlCatchOff", N, kCtrlAlt, with({{"NNUrlCatch", "FALSE"}}), zip, {}, false, Refusal::kCatchSwitchOff},
      // Schemes.
      {"MailtoHelper", B, kCtrlAlt, zipExe, "mailto:someone@example.org", {}, false, Refusal::kScheme},
      {"NewsNavigator", N, kNoKeys, zipExe, "news:comp.zip", {}, false, Refusal::kScheme},
      {"UpperCaseScheme", N, kNoKeys, zipExe, "HTTP://EXAMPLE.ORG/FILE.ZIP", {}, true, Refusal::kNone},
      {"FtpScheme", B, kNoKeys, zipExe, "ftp://example.org/pub/file.exe", {}, true, Refusal::kNone},
      {"HttpsScheme", B, kNoKeys, zipExe, "HTTPS://example.org/file.exe", {}, true, Refusal::kNone},
      // The maker's special pages.
      {"RedirectPage", H, kNoKeys, zipExe, "http://example.org/qnredir.asp?file=setup.exe", {}, true, Refusal::kNone},
      {"RedirectPageOtherType",
       B,
       kNoKeys,
       zipExe,
       "http://example.org/QNREDIR.ASP?file=notes.txt",
       {},
       false,
       Refusal::kQuery},
      {"DownloadPageAspAccepted",
       B,
       kNoKeys,
       {{"AcceptingTypes", "ASP"}},
       "http://example.org/Quennet_Download.asp?id=7",
       {},
       true,
       Refusal::kNone},
      {"SpecialPageNotForNavigator",
       N,
       kNoKeys,
       zipExe,
       "http://example.org/qnredir.asp?file=setup.exe",
       {},
       false,
       Refusal::kQuery},
      {"SpecialPageUsesAcceptListAnyway",
       H,
       kNoKeys,
       {{"AcceptFileTypes", "FALSE"}, {"AcceptingTypes", "EXE"}},
       "http://example.org/qnredir.asp?file=setup.exe",
       {},
       true,
       Refusal::kNone},
      // The file-hosting service.
      {"FileHostPrefix", H, kNoKeys, zipExe, "http://filedepot.net/f/file.zip", {}, false, Refusal::kFileHostPrefix},
      {"FileHostPrefixWww",
       B,
       kNoKeys,
       zipExe,
       "HTTP://WWW.FILEDEPOT.NET/file.zip",
       {},
       false,
       Refusal::kFileHostPrefix},
      {"FileHostPrefixCtrlAlt", H, kCtrlAlt, zipExe, "http://filedepot.net/f/file.zip", {}, true, Refusal::kNone},
      {"FileHostPrefixNavigator", N, kNoKeys, zipExe, "http://filedepot.net/f/file.zip", {}, true, Refusal::kNone},
      {"PostElsewhere", B, kNoKeys, zipExe, zip, std::string("name=value"), false, Refusal::kPostData},
      {"PostElsewhereCtrlAlt", B, kCtrlAlt, zipExe, zip, std::string("name=value"), true, Refusal::kNone},
      {"PostToFileHostMirror", B, kNoKeys, zipExe, "http://dl3.filedepot.net/f/file.zip", std::string("dl.start=Free"),
       true, Refusal::kNone},
      {"PostToFileHostPremium", B, kNoKeys, zipExe, "http://dl3.filedepot.net/f/file.zip",
       std::string("dl.start=PREMIUM&x=1"), false, Refusal::kPostData},
      {"EmptyPostIsNoPost", B, kNoKeys, zipExe, zip, std::string(), true, Refusal::kNone},
  };
}

}  // namespace zv::test
