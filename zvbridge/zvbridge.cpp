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
#include <windows.h>

#include <cstring>
#include <string>

#include "handoff/handoff.h"
#include "native_messaging.h"
#include "registration.h"
#include "web_download.h"

namespace {

using namespace zv::bridge;
using zv::handoff::HandoffStatus;

// Long enough for a hand-off in progress elsewhere, short enough that the
// reply comes before the extension gives up and resumes the download.
constexpr DWORD kLockWaitMs = 3000;

std::string Utf8ToAnsi(const std::string& text) {
  if (text.empty()) return {};
  const int wide = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (wide <= 0) return {};
  std::wstring buffer(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), buffer.data(), wide);
  // A NUL inside the text would end the conversion early: it becomes a space.
  for (wchar_t& c : buffer)
    if (c == L'\0') c = L' ';
  return zv::handoff::ToAnsi(buffer.c_str()).value_or(std::string());
}

WebDownload InAnsi(WebDownload download) {
  for (std::string* text : {&download.url, &download.referrer, &download.fileName,
                            &download.mimeType, &download.cookie})
    *text = Utf8ToAnsi(*text);
  return download;
}

std::string AnswerDownload(const std::string& message) {
  const DecodedMessage decoded = DecodeMessage(message);
  if (!decoded.download) return FailedReply(decoded.idJson, decoded.error);
  const WebDownload download = InAnsi(*decoded.download);

  zv::handoff::ManagerSettings settings;
  if (const auto rule = DecliningRule(download, settings)) return DeclinedReply(decoded.idJson, *rule);

  zv::handoff::HandoffSteps steps;
  steps.buildText = [&] { return RecordText(download); };
  zv::handoff::HandoffOptions options;
  options.lockWaitMs = kLockWaitMs;
  options.settings = &settings;
  const auto outcome = zv::handoff::HandOff(zv::handoff::kWebExtensionHandoff, steps, options);
  switch (outcome.status) {
    case HandoffStatus::kSent:
      return outcome.reply ? TakenReply(decoded.idJson)
                           : DeclinedReply(decoded.idJson, "download manager");
    case HandoffStatus::kNoProgram:
      return FailedReply(decoded.idJson, "the download manager is not installed");
    case HandoffStatus::kStartupTimedOut:
      return FailedReply(decoded.idJson, "the download manager did not start");
    case HandoffStatus::kLockNotObtained:
      return FailedReply(decoded.idJson, "another hand-off did not end");
    case HandoffStatus::kStopped:
      break;
  }
  return FailedReply(decoded.idJson, "not handed off");
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
  ServePort(read, write, echo ? EchoAnswer : AnswerDownload);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool registerHost = false, unregisterHost = false, machine = false, echo = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--register") == 0) registerHost = true;
    else if (std::strcmp(argv[i], "--unregister") == 0) unregisterHost = true;
    else if (std::strcmp(argv[i], "--machine") == 0) machine = true;
    else if (std::strcmp(argv[i], "--echo") == 0) echo = true;
    // Anything else is what the browser passes: its origin or the manifest
    // and the add-on ID, and on Windows the parent window.
  }
  if (registerHost) return RegisterHost(machine);
  if (unregisterHost) return UnregisterHost(machine);
  return Serve(echo);
}
