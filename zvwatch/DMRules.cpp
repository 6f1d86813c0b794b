#include "DMRules.h"

#include <limits>
#include <vector>

namespace zv::watch {
namespace {

constexpr std::uint8_t kShift = 0x10, kControl = 0x11, kAlt = 0x12;
constexpr std::uint8_t kDown = 0x80;

AnsiString ReplaceAll(AnsiString text, const AnsiString& from, const AnsiString& to) {
  size_t at = 0;
  while ((at = text.find(from, at)) != AnsiString::npos) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

AnsiString ReplaceFirst(AnsiString text, const AnsiString& from, const AnsiString& to) {
  const size_t at = text.find(from);
  if (at != AnsiString::npos) text.replace(at, from.size(), to);
  return text;
}

// Lines split at CR, LF or CR LF; a final line break ends the last line.
std::vector<AnsiString> SplitLines(const AnsiString& text) {
  std::vector<AnsiString> lines;
  AnsiString line;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      line.push_back(c);
      continue;
    }
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    lines.push_back(line);
    line.clear();
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// Clears a key's state byte and those of its generic and side-specific twins.
void ClearFamily(KeyboardState& state, std::uint8_t code) {
  static const std::uint8_t kFamilies[][3] = {{kShift, 0xA0, 0xA1}, {kControl, 0xA2, 0xA3}, {kAlt, 0xA4, 0xA5}};
  state[code] = 0;
  for (const auto& family : kFamilies)
    for (std::uint8_t member : family)
      if (member == code)
        for (std::uint8_t twin : family) state[twin] = 0;
}

// The name after its last separator; when %-decoding reveals a separator
// ("..%2F..%2Fx.exe") the decoded name after it, so that no folder reaches
// the download manager. Otherwise the name keeps its escapes.
AnsiString NameWithoutFolders(const AnsiString& name) {
  const AnsiString cut = NameAfterLastSeparator(name);
  if (!HasPercentEscape(cut)) return cut;
  const AnsiString decoded = UrlDecodeName(cut);
  return decoded.find_first_of(":\\/") == AnsiString::npos ? cut : NameAfterLastSeparator(decoded);
}

}  // namespace

std::string ComboCodesOrDefault(const std::string& settingName, const std::string& decodedCodes) {
  if (!decodedCodes.empty()) return decodedCodes;
  if (settingName == kKeysToAdd) return {static_cast<char>(kAlt), static_cast<char>(kControl)};
  if (settingName == kKeysToIgnore) return {static_cast<char>(kShift)};
  return {};
}

bool IsComboHeldInState(KeyboardState state, const std::string& codes) {
  for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
    const auto code = static_cast<std::uint8_t>(*it);
    const bool down = (state[code] & kDown) != 0;
    ClearFamily(state, code);
    if (!down) return false;
  }
  for (std::uint8_t byte : state)
    if (byte & kDown) return false;  // another key or a mouse button is down
  return true;
}

AnsiString FileNameFromContentDisposition(const AnsiString& header) {
  const AnsiString parameters = ReplaceAll(ReplaceAll(header, "; ", ";"), ";", "\n");
  for (const AnsiString& rawLine : SplitLines(parameters)) {
    const AnsiString line = ReplaceFirst(rawLine, " = ", "=");
    const size_t equals = line.find('=');
    if (equals == AnsiString::npos) continue;
    if (SameTextIgnoringCase(line.substr(0, equals), "filename")) return NameWithoutFolders(line.substr(equals + 1));
  }
  return {};
}

AnsiString FileNameWithCacheFile(const AnsiString& fileName, const AnsiString& cacheFilePath) {
  AnsiString name = fileName;
  if (name.empty()) {
    name = cacheFilePath;
    // The cache's counter: report[1].pdf was report.pdf.
    const int close = LastPos("].", name);
    const int open = LastPos("[", name);
    if (close > 0 && open > 0 && open < close) name.erase(open - 1, close - open + 1);
  }
  name = NameAfterLastSeparator(name);
  AnsiString candidate = name;
  if (HasPercentEscape(candidate)) candidate = UrlDecodeName(candidate);
  bool held = true;
  if (IsNonAsciiUtf8(candidate)) {
    const std::optional<AnsiString> converted = ConvertUtf8ToAnsiExactly(candidate);
    held = converted.has_value();
    if (held) candidate = *converted;
  }
  // A character the ANSI code page lacks, or a "?": keep the escaped form.
  // A decoded separator ("..%5C..%5Cx.exe") must not smuggle a folder into
  // the name the download manager saves under, so the cut is made again.
  name = held && candidate.find('?') == AnsiString::npos ? NameAfterLastSeparator(candidate) : NameWithoutFolders(name);
  return StripEnclosingQuotes(name);
}

std::int64_t ContentLengthValue(const AnsiString& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) return 0;
  std::uint64_t value = 0;
  const std::uint64_t limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    const unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (value > (limit - digit) / 10) return 0;
    value = value * 10 + digit;
  }
  if (!negative) return static_cast<std::int64_t>(value);
  return value == limit ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(value);
}

}  // namespace zv::watch
