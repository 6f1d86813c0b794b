#include "capture_filter.h"

#include "ansi_text.h"

namespace zv::handoff {
namespace {

constexpr std::string_view kRedirectPage = "QNREDIR.ASP";
constexpr std::string_view kDownloadPage = "QUENNET_DOWNLOAD.ASP";
constexpr std::string_view kPremiumMarker = "dl.start=PREMIUM";

bool IsListSeparator(char c) { return c == ',' || c == ' '; }

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// Calls `visit` for each entry of an extension list until it returns true.
// One leading separator is skipped; a list that opens with two or more
// yields nothing (the lists stored by the download manager rely on this).
template <typename Visit>
bool AnyListEntry(std::string_view list, Visit visit) {
  size_t i = 0;
  if (i < list.size() && IsListSeparator(list[i])) {
    ++i;
    if (i < list.size() && IsListSeparator(list[i])) return false;
  }
  while (i < list.size()) {
    const size_t start = i;
    while (i < list.size() && !IsListSeparator(list[i])) ++i;
    if (visit(list.substr(start, i - start))) return true;
    while (i < list.size() && IsListSeparator(list[i])) ++i;
  }
  return false;
}

void Note(DecisionObserver* observer, DecisionPoint point) {
  if (observer) observer->OnDecisionPoint(point);
}

Refusal TypeFilter(std::string_view extension, SettingsSource& settings, DecisionObserver* observer) {
  const std::string upper = UpperAnsi(extension);
  const auto acceptFileTypes = settings.Read(setting::kAcceptFileTypes);
  if (acceptFileTypes && *acceptFileTypes == "FALSE") {
    Note(observer, DecisionPoint::kIgnoreListRule);
    const auto ignoring = settings.Read(setting::kIgnoringTypes);
    if (!ignoring) {
      Note(observer, DecisionPoint::kNoIgnoreList);
      return Refusal::kNoIgnoreList;
    }
    if (TypeListContains(*ignoring, upper)) {
      Note(observer, DecisionPoint::kExtensionIgnored);
      return Refusal::kIgnoredExtension;
    }
    return Refusal::kNone;
  }
  Note(observer, DecisionPoint::kAcceptListRule);
  const auto accepting = settings.Read(setting::kAcceptingTypes);
  if (!accepting) {
    Note(observer, DecisionPoint::kNoAcceptList);
    return Refusal::kNoAcceptList;
  }
  if (!TypeListContains(*accepting, upper)) {
    Note(observer, DecisionPoint::kExtensionNotAccepted);
    return Refusal::kExtensionNotAccepted;
  }
  return Refusal::kNone;
}

bool SchemeAllowed(std::string_view url) {
  return StartsWithIgnoreCase(url, "ftp://") || StartsWithIgnoreCase(url, "http://") ||
         StartsWithIgnoreCase(url, "https://");
}

std::string FileHostMarker() {
  const std::string_view host = kFileHostName;
  return std::string(host.substr(0, host.find('.'))) + ".";
}

CaptureDecision Refuse(Refusal why) { return CaptureDecision{false, false, why}; }

}  // namespace

std::optional<std::string> ExtractExtension(std::string_view url) {
  const size_t slash = url.rfind('/');
  if (slash == std::string_view::npos) return std::nullopt;
  if (slash >= 2 && url[slash - 1] == '/') return std::nullopt;  // scheme and host only
  const size_t lastDot = url.rfind('.');
  if (lastDot == std::string_view::npos || lastDot < slash) return std::nullopt;

  const size_t query = url.rfind('?');
  const size_t fragment = url.rfind('#');
  const size_t cut = query < fragment ? query : fragment;  // npos when neither
  const std::string_view kept = url.substr(0, cut);
  const size_t dot = kept.rfind('.');
  if (dot == std::string_view::npos) return std::nullopt;
  return std::string(kept.substr(dot + 1));
}

bool TypeListContains(std::string_view list, std::string_view upperExtension) {
  return AnyListEntry(list, [&](std::string_view entry) { return entry == upperExtension; });
}

Refusal PassesTypeFilter(std::string_view extension, SettingsSource& settings) {
  return TypeFilter(extension, settings, nullptr);
}

bool SpecialPageCarriesAcceptedType(std::string_view url, SettingsSource& settings) {
  const std::string upper = UpperAnsi(url);
  if (!Contains(upper, kRedirectPage) && !Contains(upper, kDownloadPage)) return false;
  const auto accepting = settings.Read(setting::kAcceptingTypes);
  if (!accepting) return false;
  return AnyListEntry(*accepting, [&](std::string_view entry) {
    std::string dotted = ".";
    dotted.append(entry);
    return Contains(upper, dotted);
  });
}

bool IntegrationGate(bool ctrlAlt, SettingsSource& settings) {
  return ctrlAlt || SwitchOn(settings.Read(setting::kIntegrationTemporaryOff));
}

namespace FileHostRule {

bool PrefixTest(std::string_view url) {
  const std::string upper = UpperAnsi(url);
  const std::string plain = std::string("HTTP://") + kFileHostName;
  const std::string www = std::string("HTTP://WWW.") + kFileHostName;
  return upper.compare(0, plain.size(), plain) != 0 && upper.compare(0, www.size(), www) != 0;
}

bool PostDataTest(std::string_view url, std::string_view postData) {
  return Contains(UpperAnsi(url), FileHostMarker()) && postData.substr(0, kPremiumMarker.size()) != kPremiumMarker;
}

}  // namespace FileHostRule

CaptureDecision DecideCapture(CaptureModule module, const ModifierKeys& keys, SettingsSource& settings,
                              const CaptureRequest& request, DecisionObserver* observer) {
  const bool handler = module == CaptureModule::kProtocolHandler;
  const bool helper = module == CaptureModule::kHelperObject;
  const bool navigator = module == CaptureModule::kNavigatorCatcher;

  if (keys.shift) {
    Note(observer, DecisionPoint::kShift);
    return Refuse(Refusal::kShift);
  }
  if (handler && !SwitchOn(settings.Read(setting::kIeUrlCatch))) return Refuse(Refusal::kCatchSwitchOff);
  if (navigator && !SwitchOn(settings.Read(setting::kNnUrlCatch))) return Refuse(Refusal::kCatchSwitchOff);
  const bool ctrlAlt = keys.CtrlAlt();
  if (!IntegrationGate(ctrlAlt, settings)) {
    Note(observer, DecisionPoint::kGateRefused);
    return Refuse(Refusal::kIntegrationOff);
  }
  Note(observer, DecisionPoint::kUrlReady);

  const std::string_view url = request.url;
  if ((helper || navigator) && !SchemeAllowed(url)) return Refuse(Refusal::kScheme);
  if (ctrlAlt) {
    Note(observer, DecisionPoint::kCtrlAlt);
    return CaptureDecision{true, true, Refusal::kNone};
  }
  if (handler || helper) {
    if (!FileHostRule::PrefixTest(url)) return Refuse(Refusal::kFileHostPrefix);
    Note(observer, DecisionPoint::kHostPrefixPassed);
    if (helper && request.postData && !request.postData->empty() && !FileHostRule::PostDataTest(url, *request.postData))
      return Refuse(Refusal::kPostData);
    const bool special = SpecialPageCarriesAcceptedType(url, settings);
    Note(observer, DecisionPoint::kSpecialPageChecked);
    if (special) return CaptureDecision{true, false, Refusal::kNone};
  }
  if (Contains(url, "?")) {
    Note(observer, DecisionPoint::kQueryFound);
    return Refuse(Refusal::kQuery);
  }
  const auto extension = ExtractExtension(url);
  if (!extension) {
    Note(observer, DecisionPoint::kNoExtension);
    return Refuse(Refusal::kNoExtension);
  }
  Note(observer, DecisionPoint::kExtensionFound);
  const Refusal typeRefusal = TypeFilter(*extension, settings, observer);
  if (typeRefusal != Refusal::kNone) return Refuse(typeRefusal);
  Note(observer, DecisionPoint::kTypeFilterPassed);
  return CaptureDecision{true, false, Refusal::kNone};
}

}  // namespace zv::handoff
