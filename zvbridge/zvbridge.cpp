// The native-messaging host of today's browsers. The browser extension sends
// each download it catches; the host decides on the download manager's
// settings, hands accepted ones to the download manager and replies
// "taken", "declined" or "failed" so that the browser keeps every download
// the download manager did not take.
//
//   zvbridge.exe [origin or manifest and add-on ID]   serve a port on stdin/stdout
//   zvbridge.exe --register [--machine]               register with the browsers
//   zvbridge.exe --unregister [--machine]             remove that registration
//   zvbridge.exe --echo                               reply without a hand-off
//   zvbridge.exe --check [--json]                     tell what keeps downloads from arriving
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "bridge_handoff.h"
#include "check.h"
#include "handoff/handoff.h"
#include "native_messaging.h"
#include "registration.h"
#include "web_download.h"
#include "win/text.h"

namespace {

using namespace zv::bridge;

// What the extension waits for a reply that is not "pending" (5 s), less
// the message's way there, for messages that do not say.
constexpr DWORD kDefaultBudgetMs = 4500;

using zv::win::Unholdable;

// A NUL inside the text would end it early for the download manager: it
// becomes a space.
std::string Utf8ToAnsi(std::string text, Unholdable rule = Unholdable::kPercentEncoded) {
  std::replace(text.begin(), text.end(), '\0', ' ');
  return zv::win::Utf8ToAnsi(text, rule);
}

// A character the code page lacks goes as a browser sends it in a URL, and
// as "_" in the file name, never as "?" or a look-alike.
WebDownload InAnsi(WebDownload download) {
  for (std::string* text : {&download.url, &download.referrer, &download.mimeType, &download.cookie})
    *text = Utf8ToAnsi(*text);
  download.fileName = Utf8ToAnsi(download.fileName, Unholdable::kUnderscore);
  if (download.postData) download.postData = Utf8ToAnsi(*download.postData);
  return download;
}

// A console program has no message queue of its own to read keys from:
// the keys as they are now, when the message arrives.
zv::handoff::ModifierKeys HeldKeys() {
  auto down = [](int key) { return (GetAsyncKeyState(key) & 0x8000) != 0; };
  return {down(VK_SHIFT), down(VK_CONTROL), down(VK_MENU)};
}

std::int64_t NowMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const auto ticks = static_cast<std::int64_t>(ULARGE_INTEGER{{now.dwLowDateTime, now.dwHighDateTime}}.QuadPart);
  return (ticks - 116444736000000000LL) / 10000;  // from 1601 in 100 ns to 1970 in ms
}

DWORD BudgetOf(const DecodedMessage& decoded) {
  if (!decoded.deadlineMs) return kDefaultBudgetMs;
  const std::int64_t left = *decoded.deadlineMs - NowMs();
  if (left <= 0) return 0;
  return static_cast<DWORD>(std::min<std::int64_t>(left, kPendingBudgetMs));
}

std::string AnswerDownload(const std::string& message, const std::function<void(const std::string&)>& early) {
  const zv::handoff::ModifierKeys keys = HeldKeys();
  const DecodedMessage decoded = DecodeMessage(message);
  if (decoded.statusAsked) {
    const ManagerStatus status = CheckManagerNow();
    return StatusReply(decoded.idJson, status.running, status.problems);
  }
  if (!decoded.download) return FailedReply(decoded.idJson, decoded.error);
  const WebDownload download = InAnsi(*decoded.download);

  zv::handoff::ManagerSettings settings;
  if (const auto rule = DecliningRule(download, settings, keys)) return DeclinedReply(decoded.idJson, *rule);

  const auto outcome =
      HandOffWithin(BudgetOf(decoded), RecordText(download), settings, [&] { early(PendingReply(decoded.idJson)); });
  return HandoffReply(decoded.idJson, outcome.status, outcome.reply != 0);
}

int Serve(bool echo) {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  // Raw handles: no text-mode translation can touch a frame.
  const ReadBytes read = [in](char* buffer, size_t size) -> size_t {
    DWORD got = 0;
    if (!ReadFile(in, buffer, static_cast<DWORD>(size), &got, nullptr)) return 0;
    return got;
  };
  const WriteBytes write = [out](const char* data, size_t size) {
    while (size > 0) {
      DWORD put = 0;
      if (!WriteFile(out, data, static_cast<DWORD>(size), &put, nullptr) || put == 0) return false;
      data += put;
      size -= put;
    }
    return true;
  };
  const auto early = [&write](const std::string& reply) {
    const std::string frame = Frame(reply);
    write(frame.data(), frame.size());
  };
  ServePort(read, write, [&](const std::string& message) {
    if (echo) return EchoAnswer(message);
    const std::string reply = AnswerDownload(message, early);
    // One line a download for whoever reads the browser's log.
    std::fprintf(stderr, "zvbridge: %.200s\n", reply.c_str());
    return reply;
  });
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool registerHost = false, unregisterHost = false, machine = false, echo = false, check = false, json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--register") == 0)
      registerHost = true;
    else if (std::strcmp(argv[i], "--unregister") == 0)
      unregisterHost = true;
    else if (std::strcmp(argv[i], "--machine") == 0)
      machine = true;
    else if (std::strcmp(argv[i], "--echo") == 0)
      echo = true;
    else if (std::strcmp(argv[i], "--check") == 0)
      check = true;
    else if (std::strcmp(argv[i], "--json") == 0)
      json = true;
    // Anything else is what the browser passes: its origin or the manifest
    // and the add-on ID, and on Windows the parent window.
  }
  if (registerHost) return RegisterHost(machine);
  if (unregisterHost) return UnregisterHost(machine);
  if (check) return RunCheck(json);
  return Serve(echo);
}
