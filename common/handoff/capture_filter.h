// The capture decision: whether a URL a browser module sees is a download
// the user wants the download manager to take. Platform-free: the settings
// come through SettingsSource and the keys as a ModifierKeys value.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zv::handoff {

// Where the capture settings come from. A value that cannot be read is
// absent (nullopt), never an error.
class SettingsSource {
 public:
  virtual ~SettingsSource() = default;
  virtual std::optional<std::string> Read(const char* name) = 0;
};

// Names of the settings the decision and the hand-off read.
namespace setting {
inline constexpr char kCaption[] = "ZVCaption";
inline constexpr char kAutoAdd[] = "AutoAdd";
inline constexpr char kAutoAddMode[] = "AutoAddMode";
inline constexpr char kIeUrlCatch[] = "IEUrlCatch";
inline constexpr char kNnUrlCatch[] = "NNUrlCatch";
inline constexpr char kIeContextMenuCatch[] = "IECntxMenuCatch";
inline constexpr char kIntegrationTemporaryOff[] = "IntegrationTemporaryOff";
inline constexpr char kAcceptFileTypes[] = "AcceptFileTypes";
inline constexpr char kAcceptingTypes[] = "AcceptingTypes";
inline constexpr char kIgnoringTypes[] = "IgnoringTypes";
}  // namespace setting

// Modifier keys as of the browser thread's current message.
struct ModifierKeys {
  bool shift = false;
  bool ctrl = false;
  bool alt = false;
  bool CtrlAlt() const { return ctrl && alt; }
};

// The one file-hosting service whose form posts are caught. Its two URL
// prefixes and its marker are derived from this host name.
inline constexpr char kFileHostName[] = "FILEDEPOT.NET";

// "TRUE" is the only true value; the comparison is exact.
inline bool IsTrue(const std::optional<std::string>& value) { return value && *value == "TRUE"; }
// A switch that is absent or "TRUE" is on.
inline bool SwitchOn(const std::optional<std::string>& value) { return !value || *value == "TRUE"; }

// The last dot's text of the URL's last segment, per the extension rules.
std::optional<std::string> ExtractExtension(std::string_view url);

// Whether the comma/space separated list holds `upperExtension` exactly.
bool TypeListContains(std::string_view list, std::string_view upperExtension);

enum class Refusal {
  kNone,
  kShift,
  kCatchSwitchOff,
  kIntegrationOff,
  kScheme,
  kFileHostPrefix,
  kPostData,
  kQuery,
  kNoExtension,
  kNoIgnoreList,
  kIgnoredExtension,
  kNoAcceptList,
  kExtensionNotAccepted,
};

// Refusal::kNone when the extension passes the accept or ignore list.
Refusal PassesTypeFilter(std::string_view extension, SettingsSource& settings);

// A URL of the maker's redirect or download page that names an accepted type.
bool SpecialPageCarriesAcceptedType(std::string_view url, SettingsSource& settings);

// Refuses when integration is switched off and Ctrl+Alt is not held.
bool IntegrationGate(bool ctrlAlt, SettingsSource& settings);

namespace FileHostRule {
// False (refuse) when the URL begins with one of the service's prefixes.
bool PrefixTest(std::string_view url);
// True (continue) only for a post to the service without the premium marker.
bool PostDataTest(std::string_view url, std::string_view postData);
}  // namespace FileHostRule

// The three modules that run the decision, each with its own steps.
enum class CaptureModule { kProtocolHandler, kHelperObject, kNavigatorCatcher };

// Points of the decision a module may trace (the protocol handler does).
enum class DecisionPoint {
  kShift,
  kGateRefused,
  kUrlReady,
  kCtrlAlt,
  kHostPrefixPassed,
  kSpecialPageChecked,
  kQueryFound,
  kNoExtension,
  kExtensionFound,
  kIgnoreListRule,
  kNoIgnoreList,
  kExtensionIgnored,
  kAcceptListRule,
  kNoAcceptList,
  kExtensionNotAccepted,
  kTypeFilterPassed,
};

class DecisionObserver {
 public:
  virtual ~DecisionObserver() = default;
  virtual void OnDecisionPoint(DecisionPoint point) = 0;
};

struct CaptureRequest {
  std::string_view url;                      // in the ANSI code page
  std::optional<std::string_view> postData;  // the helper object's post data text
};

struct CaptureDecision {
  bool caught = false;
  bool ctrlAlt = false;  // forced: the module skips its own later filters too
  Refusal refusal = Refusal::kNone;
};

// Runs the decision procedure for one module. The protocol handler's POST
// step comes after its bind information is read: see FileHostRule.
CaptureDecision DecideCapture(CaptureModule module, const ModifierKeys& keys, SettingsSource& settings,
                              const CaptureRequest& request, DecisionObserver* observer = nullptr);

}  // namespace zv::handoff
