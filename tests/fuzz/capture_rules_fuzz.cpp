// Arbitrary URLs, lists and settings through the capture rules and the
// command text: no crash, no read out of bounds, and a command text whose
// single-line values never add a line.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "handoff/capture_filter.h"
#include "handoff/command_text.h"

using namespace zv::handoff;

namespace {

class FuzzSettings final : public SettingsSource {
 public:
  std::map<std::string, std::string> values;
  std::optional<std::string> Read(const char* name) override {
    const auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
};

// Splits the input at 0x00 bytes into up to `n` pieces.
std::string_view Piece(std::string_view& rest) {
  const size_t at = rest.find('\0');
  std::string_view piece = rest.substr(0, at);
  rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 1);
  return piece;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const uint8_t flags = size ? data[0] : 0;
  const std::string_view url = Piece(rest);
  const std::string_view accept = Piece(rest);
  const std::string_view ignore = Piece(rest);
  const std::string_view post = Piece(rest);
  const std::string_view comment = Piece(rest);

  FuzzSettings settings;
  settings.values["AcceptingTypes"] = std::string(accept);
  settings.values["IgnoringTypes"] = std::string(ignore);
  if (flags & 1) settings.values["AcceptFileTypes"] = "FALSE";
  if (flags & 2) settings.values["IntegrationTemporaryOff"] = "FALSE";
  const ModifierKeys keys{(flags & 4) != 0, (flags & 8) != 0, (flags & 16) != 0};

  for (CaptureModule module :
       {CaptureModule::kProtocolHandler, CaptureModule::kHelperObject, CaptureModule::kNavigatorCatcher}) {
    CaptureRequest request{url, std::nullopt};
    if (flags & 32) request.postData = post;
    const CaptureDecision d = DecideCapture(module, keys, settings, request);
    if (d.caught != (d.refusal == Refusal::kNone)) std::abort();
  }
  if (const auto ext = ExtractExtension(url)) {
    if (ext->size() > url.size()) std::abort();
    TypeListContains(accept, *ext);
  }
  FileHostRule::PostDataTest(url, post);

  CommandLines lines;
  lines.comment = std::string(comment);
  lines.referer = std::string(ignore);
  lines.opera = (flags & 64) != 0;
  const std::string text = BuildCommandText(url, lines);
  size_t breaks = 0;
  for (char c : text) {
    if (c == '\r') std::abort();
    if (c == '\n') ++breaks;
  }
  if (breaks != 2u + (lines.opera ? 1u : 0u)) std::abort();
  return 0;
}
