#include "web_download.h"

#include <nlohmann/json.hpp>

#include "handoff/command_text.h"
#include "handoff/file_details.h"

namespace zv::bridge {
namespace {

using nlohmann::json;
using zv::handoff::Refusal;

constexpr size_t kMaxIdChars = 128;

std::string Dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

std::string Reply(const std::string& idJson, json body) {
  std::string text = Dump(body);
  if (idJson.empty()) return text;
  return "{\"id\":" + idJson + "," + text.substr(1);
}

// An optional text field; false when present with another type.
bool TextField(const json& message, const char* name, std::string& out) {
  const auto it = message.find(name);
  if (it == message.end() || it->is_null()) return true;
  if (!it->is_string()) return false;
  out = it->get<std::string>();
  return true;
}

const char* RuleOf(Refusal refusal) {
  switch (refusal) {
    case Refusal::kCatchSwitchOff:
      return kWebUrlCatch;
    case Refusal::kIntegrationOff:
      return zv::handoff::setting::kIntegrationTemporaryOff;
    case Refusal::kScheme:
      return "scheme";
    case Refusal::kFileHostPrefix:
    case Refusal::kPostData:
      return "file host";
    case Refusal::kNoExtension:
      return "no extension";
    case Refusal::kNoIgnoreList:
    case Refusal::kIgnoredExtension:
      return zv::handoff::setting::kIgnoringTypes;
    case Refusal::kNoAcceptList:
    case Refusal::kExtensionNotAccepted:
      return zv::handoff::setting::kAcceptingTypes;
    default:
      return "refused";
  }
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  for (size_t i = 0; prefix[i]; ++i) {
    if (i >= text.size()) return false;
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// The name after the last folder separator of either kind.
std::string BaseName(const std::string& path) {
  const size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string OneLine(const std::string& value) {
  std::string line = zv::handoff::SingleLineValue(value);
  for (char& c : line)
    if (c == '\0') c = ' ';
  return line;
}

}  // namespace

DecodedMessage DecodeMessage(const std::string& text) {
  DecodedMessage decoded;
  const json message = json::parse(text, nullptr, false);
  if (message.is_discarded() || !message.is_object()) {
    decoded.error = "not a JSON object";
    return decoded;
  }
  if (const auto id = message.find("id"); id != message.end()) {
    if (id->is_number_integer() || id->is_number_unsigned() ||
        (id->is_string() && id->get_ref<const std::string&>().size() <= kMaxIdChars))
      decoded.idJson = Dump(*id);
  }
  if (const auto deadline = message.find("deadline");
      deadline != message.end() && (deadline->is_number_integer() || deadline->is_number_unsigned()))
    decoded.deadlineMs = deadline->get<std::int64_t>();
  if (const auto type = message.find("type"); type != message.end() && !(type->is_string() && *type == "download")) {
    if (type->is_string() && *type == "status")
      decoded.statusAsked = true;
    else
      decoded.error = "unknown message type";
    return decoded;
  }
  WebDownload download;
  if (!TextField(message, "url", download.url) || download.url.empty()) {
    decoded.error = "no url";
    return decoded;
  }
  std::string postData;
  const bool textsValid =
      TextField(message, "referrer", download.referrer) && TextField(message, "filename", download.fileName) &&
      TextField(message, "mime", download.mimeType) && TextField(message, "method", download.method) &&
      TextField(message, "cookie", download.cookie) && TextField(message, "postData", postData);
  if (!textsValid) {
    decoded.error = "a field is not text";
    return decoded;
  }
  if (message.contains("postData") && message["postData"].is_string()) download.postData = postData;
  if (const auto size = message.find("size"); size != message.end() && !size->is_null()) {
    if (!size->is_number()) {
      decoded.error = "size is not a number";
      return decoded;
    }
    // Unknown sizes come as -1; fractions and overflows count as unknown.
    if (size->is_number_integer() && size->get<std::int64_t>() > 0) download.size = size->get<std::int64_t>();
  }
  if (const auto forced = message.find("forced"); forced != message.end() && !forced->is_null()) {
    if (!forced->is_boolean()) {
      decoded.error = "forced is not true or false";
      return decoded;
    }
    download.forced = forced->get<bool>();
  }
  decoded.download = std::move(download);
  return decoded;
}

std::string TakenReply(const std::string& idJson) { return Reply(idJson, {{"result", "taken"}}); }

std::string DeclinedReply(const std::string& idJson, const std::string& rule) {
  return Reply(idJson, {{"result", "declined"}, {"rule", rule}});
}

std::string FailedReply(const std::string& idJson, const std::string& reason) {
  return Reply(idJson, {{"result", "failed"}, {"reason", reason}});
}

std::string PendingReply(const std::string& idJson) { return Reply(idJson, {{"result", "pending"}}); }

std::string HandoffReply(const std::string& idJson, BridgeStatus status, bool taken) {
  switch (status) {
    case BridgeStatus::kSent:
      return taken ? TakenReply(idJson) : DeclinedReply(idJson, "download manager");
    case BridgeStatus::kExpired:
      return FailedReply(idJson, "the browser stopped waiting");
    case BridgeStatus::kNoProgram:
      return FailedReply(idJson, "the download manager is not installed");
    case BridgeStatus::kNotStarted:
      return FailedReply(idJson, "the download manager could not be started");
    case BridgeStatus::kStartupTimedOut:
      return FailedReply(idJson, "the download manager did not start");
    case BridgeStatus::kRefused:
      return FailedReply(idJson, "the download manager's window refused the message");
    case BridgeStatus::kLockNotObtained:
      break;
  }
  return FailedReply(idJson, "another hand-off did not end");
}

std::string StatusReply(const std::string& idJson, bool running, const std::vector<std::string>& problems) {
  return Reply(idJson, {{"result", "status"}, {"running", running}, {"problems", problems}});
}

std::optional<std::string> DownloadExtension(const WebDownload& download) {
  const std::string name = BaseName(download.fileName);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot + 1 < name.size()) return name.substr(dot + 1);
  if (!name.empty()) return std::nullopt;  // a name without a type: the URL cannot know better
  return zv::handoff::ExtractExtension(download.url);
}

std::optional<std::string> DecliningRule(const WebDownload& download, zv::handoff::SettingsSource& settings,
                                         const zv::handoff::ModifierKeys& keys) {
  using namespace zv::handoff;
  if (keys.shift) return "Shift";
  if (!SwitchOn(settings.Read(kWebUrlCatch))) return RuleOf(Refusal::kCatchSwitchOff);
  const bool forced = download.forced || keys.CtrlAlt();
  if (!IntegrationGate(forced, settings)) return RuleOf(Refusal::kIntegrationOff);
  if (!StartsWithNoCase(download.url, "http://") && !StartsWithNoCase(download.url, "https://"))
    return RuleOf(Refusal::kScheme);
  // The download manager would fetch a form's result again as a plain GET.
  if (download.method.size() == 4 && StartsWithNoCase(download.method, "post") && !download.postData)
    return "post data unknown";
  if (forced) return std::nullopt;
  if (!FileHostRule::PrefixTest(download.url)) return RuleOf(Refusal::kFileHostPrefix);
  if (download.postData && !download.postData->empty() && !FileHostRule::PostDataTest(download.url, *download.postData))
    return RuleOf(Refusal::kPostData);
  const auto extension = DownloadExtension(download);
  if (!extension) return RuleOf(Refusal::kNoExtension);
  const Refusal refusal = PassesTypeFilter(*extension, settings);
  if (refusal != Refusal::kNone) return RuleOf(refusal);
  return std::nullopt;
}

std::string RecordText(const WebDownload& download) {
  zv::handoff::FileDetails details;
  details.fileName = OneLine(BaseName(download.fileName));
  details.referer = OneLine(download.referrer);
  details.mimeType = OneLine(download.mimeType);
  details.size = download.size;
  details.cookie = download.cookie;  // travels in Base64
  const std::string body = zv::handoff::BuildFileDetailsBody(details);
  return zv::handoff::BuildFileDetailsText(OneLine(download.url), body, download.postData);
}

std::string EchoAnswer(const std::string& json) {
  const DecodedMessage decoded = DecodeMessage(json);
  if (!decoded.download) return FailedReply(decoded.idJson, decoded.error);
  return TakenReply(decoded.idJson);
}

}  // namespace zv::bridge
