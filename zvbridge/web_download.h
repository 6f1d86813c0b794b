// One download caught by the browser extension: its message, the decision
// taken on the download manager's settings, its file-details record and
// the reply the extension acts on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "handoff/capture_filter.h"

namespace zv::bridge {

// The host's own switch, honoured as the other modules honour theirs.
inline constexpr char kWebUrlCatch[] = "WebUrlCatch";

struct WebDownload {
  std::string url;  // the final URL, after redirects
  std::string referrer;
  std::string fileName;  // the name the browser chose, maybe with its folder
  std::string mimeType;
  std::int64_t size = 0;  // 0 when unknown
  std::string method;
  std::optional<std::string> postData;
  std::string cookie;   // "name=value; ..." as a Cookie header carries it
  bool forced = false;  // chosen from the link's context menu
};

struct DecodedMessage {
  std::string idJson;  // the message's "id", echoed in the reply; empty when none
  // When the extension stops waiting for the reply (milliseconds since
  // 1970, the clock of the machine both run on); absent when not told.
  std::optional<std::int64_t> deadlineMs;
  std::optional<WebDownload> download;
  bool statusAsked = false;  // {"type": "status"}: the popup asks how things stand
  std::string error;         // why there is no download
};

// Decodes a message's UTF-8 JSON. Never throws.
DecodedMessage DecodeMessage(const std::string& json);

// The reply texts, each well under the browser's limit.
std::string TakenReply(const std::string& idJson);
std::string DeclinedReply(const std::string& idJson, const std::string& rule);
std::string FailedReply(const std::string& idJson, const std::string& reason);
// The hand-off will take longer (the download manager is being started):
// the extension waits for the final reply.
std::string PendingReply(const std::string& idJson);

// How a hand-off ended.
enum class BridgeStatus {
  kSent,     // the text went to the window; see its reply (0: not taken)
  kExpired,  // the extension has stopped waiting: nothing sent
  kLockNotObtained,
  kNoProgram,        // window missing and no App Paths entry
  kNotStarted,       // the program could not be started
  kStartupTimedOut,  // started, but no window in time
  kRefused,          // the system refused the message: the window does not allow it from us
};

// The final reply for a hand-off that ended with `status`; `taken` is the
// download manager's answer to a sent text. Only "taken" makes the
// extension give the download up.
std::string HandoffReply(const std::string& idJson, BridgeStatus status, bool taken);

// How the download manager stands, for the popup: whether its window runs,
// and each problem that keeps every download from it (with its fix).
std::string StatusReply(const std::string& idJson, bool running, const std::vector<std::string>& problems);

// The rule of the download manager's settings that declines the download,
// absent when it goes to the download manager. The download's texts are in
// the ANSI code page. Shift held when the message arrived leaves the download
// to the browser, Ctrl+Alt forces it past the type lists, as in the other
// modules.
std::optional<std::string> DecliningRule(const WebDownload& download, zv::handoff::SettingsSource& settings,
                                         const zv::handoff::ModifierKeys& keys = {});

// The extension the type lists judge: the file name's, else the URL's.
std::optional<std::string> DownloadExtension(const WebDownload& download);

// The file-details record for the download manager. Each value is kept to
// one line: a line break inside a name would forge a key of its own.
std::string RecordText(const WebDownload& download);

// The reply of a host that hands nothing off (the benchmark's floor).
std::string EchoAnswer(const std::string& json);

}  // namespace zv::bridge
