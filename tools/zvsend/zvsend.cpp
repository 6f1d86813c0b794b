// zvsend: runs one capture decision and hand-off through the hand-off core,
// as a browser module would, and prints what happened. Used by the demo and
// by tests that need a hand-off in a second process.
//
//   zvsend --module=handler|helper|navigator|contextmenu|opera --url=URL
//          [--referer=TEXT] [--post=TEXT] [--comment=TEXT]
//          [--keys=ctrl+alt|shift|shift+ctrl+alt] [--no-decision]
//          [--lock-wait=MS]
//
// Exit code: 0 sent, 1 refused by the decision, 2 hand-off failed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "handoff/handoff.h"

using namespace zv::handoff;

namespace {

struct Request {
  std::string module = "handler";
  std::string url;
  std::optional<std::string> referer, post, comment;
  std::string keys;
  bool decide = true;
  DWORD lockWaitMs = kLockWaitMs;
};

const char* RefusalName(Refusal r) {
  switch (r) {
    case Refusal::kNone:
      return "none";
    case Refusal::kShift:
      return "Shift held";
    case Refusal::kCatchSwitchOff:
      return "catching switched off";
    case Refusal::kIntegrationOff:
      return "integration off";
    case Refusal::kScheme:
      return "scheme";
    case Refusal::kFileHostPrefix:
      return "file host";
    case Refusal::kPostData:
      return "post data";
    case Refusal::kQuery:
      return "query";
    case Refusal::kNoExtension:
      return "no extension";
    case Refusal::kNoIgnoreList:
      return "no ignore list";
    case Refusal::kIgnoredExtension:
      return "ignored extension";
    case Refusal::kNoAcceptList:
      return "no accept list";
    case Refusal::kExtensionNotAccepted:
      return "extension not accepted";
  }
  return "?";
}

const char* StatusName(HandoffStatus s) {
  switch (s) {
    case HandoffStatus::kSent:
      return "sent";
    case HandoffStatus::kStopped:
      return "stopped";
    case HandoffStatus::kLockNotObtained:
      return "lock not obtained";
    case HandoffStatus::kNoProgram:
      return "no download manager registered";
    case HandoffStatus::kStartupTimedOut:
      return "start-up timed out";
    case HandoffStatus::kRefused:
      return "refused by the system";
  }
  return "?";
}

void HoldKeys(const std::string& keys) {
  BYTE state[256] = {};
  if (keys.find("shift") != std::string::npos) state[VK_SHIFT] = state[VK_LSHIFT] = 0x80;
  if (keys.find("ctrl") != std::string::npos) state[VK_CONTROL] = state[VK_LCONTROL] = 0x80;
  if (keys.find("alt") != std::string::npos) state[VK_MENU] = state[VK_LMENU] = 0x80;
  SetKeyboardState(state);
}

bool Parse(int argc, char** argv, Request& r) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name, std::string& out) {
      const size_t n = std::strlen(name);
      if (arg.compare(0, n, name) != 0) return false;
      out = arg.substr(n);
      return true;
    };
    std::string v;
    if (value("--module=", v))
      r.module = v;
    else if (value("--url=", v))
      r.url = v;
    else if (value("--referer=", v))
      r.referer = v;
    else if (value("--post=", v))
      r.post = v;
    else if (value("--comment=", v))
      r.comment = v;
    else if (value("--keys=", v))
      r.keys = v;
    else if (value("--lock-wait=", v))
      r.lockWaitMs = std::strtoul(v.c_str(), nullptr, 0);
    else if (arg == "--no-decision")
      r.decide = false;
    else {
      std::fprintf(stderr, "zvsend: unknown argument %s\n", arg.c_str());
      return false;
    }
  }
  return !r.url.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Request r;
  if (!Parse(argc, argv, r)) {
    std::fprintf(stderr, "usage: zvsend --module=NAME --url=URL [options]\n");
    return 64;
  }
  HoldKeys(r.keys);

  const HandoffVariant* variant = &kProtocolHandlerHandoff;
  std::optional<CaptureModule> decision = CaptureModule::kProtocolHandler;
  CommandLines lines;
  if (r.module == "helper") {
    variant = &kHelperObjectHandoff;
    decision = CaptureModule::kHelperObject;
    lines.referer = r.referer.value_or("");
    if (r.post) lines.postData = *r.post;
  } else if (r.module == "navigator") {
    variant = &kNavigatorHandoff;
    decision = CaptureModule::kNavigatorCatcher;
  } else if (r.module == "contextmenu") {
    variant = &kContextMenuHandoff;
    decision.reset();
    lines.comment = r.comment.value_or("");
    lines.referer = r.referer.value_or("");
  } else if (r.module == "opera") {
    variant = &kOperaHandoff;
    decision.reset();
    lines.opera = true;
  } else {
    if (r.referer) lines.referer = *r.referer;
    if (r.post) lines.postData = *r.post;
  }

  ManagerSettings settings;
  if (r.decide && decision) {
    CaptureRequest request{r.url, std::nullopt};
    if (r.module == "helper" && r.post) request.postData = *r.post;
    const CaptureDecision d = DecideCapture(*decision, ReadModifierKeys(), settings, request);
    // The protocol handler tests a POST once its body is known.
    if (d.caught && r.module == "handler" && r.post && !d.ctrlAlt && !FileHostRule::PostDataTest(r.url, *r.post)) {
      std::printf("decision: refused (post data)\n");
      return 1;
    }
    if (!d.caught) {
      std::printf("decision: refused (%s)\n", RefusalName(d.refusal));
      return 1;
    }
    std::printf("decision: caught%s\n", d.ctrlAlt ? " (Ctrl+Alt)" : "");
  }

  HandoffSteps steps;
  steps.buildText = [&] { return BuildCommandText(r.url, lines); };
  HandoffOptions options;
  options.lockWaitMs = r.lockWaitMs;
  options.settings = &settings;
  const HandoffOutcome outcome = HandOff(*variant, steps, options);
  std::printf("handoff: %s", StatusName(outcome.status));
  if (outcome.sent())
    std::printf(" reply=%ld%s", static_cast<long>(outcome.reply), outcome.afterStartup ? " (after start-up)" : "");
  std::printf("\n");
  return outcome.sent() ? 0 : 2;
}
