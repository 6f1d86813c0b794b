#include "ZVStrings.h"

namespace zv::adm {
namespace {

struct TStringLine {
  int number;
  std::string TLanguageStrings::*field;
};
constexpr TStringLine kStringLines[] = {
    {229, &TLanguageStrings::S1}, {230, &TLanguageStrings::S2}, {231, &TLanguageStrings::S3},
    {232, &TLanguageStrings::S4}, {298, &TLanguageStrings::S5},
};
constexpr size_t kStringCount = sizeof(kStringLines) / sizeof(kStringLines[0]);

}  // namespace

TLanguageStrings ReadLanguageStrings(const TStringList& lines) {
  TLanguageStrings strings;
  bool inStrings = false;
  int number = 0;
  unsigned found = 0;  // one bit per wanted line
  for (const std::string& line : lines) {
    if (LowerCase(line) == "[strings]") {
      inStrings = true;
      number = 0;
      continue;
    }
    if (!inStrings) continue;
    for (size_t i = 0; i < kStringCount; ++i) {
      const TStringLine& wanted = kStringLines[i];
      if (wanted.number != number) continue;
      // The language files name the installed edition; the shortcuts start
      // the portable one.
      strings.*wanted.field = ReplaceAll(line, "Zorvane", "Kestrix");
      found |= 1u << i;
    }
    if (found == (1u << kStringCount) - 1) break;
    ++number;
  }
  return strings;
}

std::string ShortcutDefinitions(const TLanguageStrings& s) {
  return "Kestrix,kestrix.exe,0\r\nQuennet " + s.S1 + ",WebSite.url\r\n" + s.S2 + ",BuyNow.url\r\n" + s.S3 +
         ",Support.url\r\n" + s.S4 + "," + "kestrix.exe" + " /UnInstall,2";
}

std::vector<TShortcutDefinition> ParseShortcutDefinitions(const std::string& text) {
  std::vector<TShortcutDefinition> definitions;
  for (const std::string& line : SplitLines(text)) {
    const size_t first = line.find(',');
    if (first == std::string::npos) continue;
    TShortcutDefinition definition;
    definition.Name = line.substr(0, first);
    const size_t second = line.find(',', first + 1);
    const std::string target =
        line.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    const size_t space = target.find(' ');
    definition.Target = target.substr(0, space);
    if (space != std::string::npos) definition.Arguments = target.substr(space + 1);
    if (second != std::string::npos) {
      const std::string rest = line.substr(second + 1);
      definition.Icon = StrToIntDef(rest.substr(0, rest.find(',')), 0);
      definition.Desktop = rest.find("Desktop") != std::string::npos;
    }
    definitions.push_back(definition);
  }
  if (!definitions.empty()) definitions.front().Desktop = true;
  return definitions;
}

}  // namespace zv::adm
