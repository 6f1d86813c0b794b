// The shortcut names in the user's language: five lines of the "[strings]"
// section of a language file, and the shortcut definitions built from them.
// Platform-free.
#pragma once

#include <string>
#include <vector>

#include "AdmText.h"

namespace zv::adm {

// S1 to S4 name the web-site, purchase, support and uninstall shortcuts, S5
// is every shortcut's description.
struct TLanguageStrings {
  std::string S1, S2, S3, S4, S5;
};

// Lines 229 to 232 and 298 after the "[strings]" line (counted from 0; a
// later "[strings]" line starts the count again), each with the download
// manager's name replaced by the portable edition's. Empty texts for a file
// without "[strings]".
TLanguageStrings ReadLanguageStrings(const TStringList& lines);

// One definition line per shortcut, CR LF between them: Name,Target[ Args][,Icon[,...]].
std::string ShortcutDefinitions(const TLanguageStrings& strings);

struct TShortcutDefinition {
  std::string Name;
  std::string Target;
  std::string Arguments;
  int Icon = 0;
  bool Desktop = false;  // also goes on the desktop and into Quick Launch
};

// The definitions of `text`; lines without "," are skipped.
std::vector<TShortcutDefinition> ParseShortcutDefinitions(const std::string& text);

}  // namespace zv::adm
