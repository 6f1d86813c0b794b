// The command text: the key=value lines a browser module sends to the
// download manager's main window in one WM_COPYDATA message.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zv::handoff {

// The optional lines after "URL=". Absent lines are not written; a present
// but empty value still writes its key.
struct CommandLines {
  bool opera = false;                   // "\nOpera=True", right after the URL
  std::optional<std::string> comment;   // "\nComment=", before the referrer
  std::optional<std::string> referer;   // "\nReferer="
  std::optional<std::string> postData;  // "\nPostData=", always last
};

// Builds "URL=" url and the optional lines in their fixed order. The text's
// size() is what goes into cbData; c_str() supplies the uncounted NUL.
//
// Every value but the final post data is a single line: a CR or LF inside
// it would start a forged key (a link text carrying "\nURL=..." would change
// what gets downloaded), so each becomes a space. Post data runs to the end
// of the text and is kept byte for byte.
std::string BuildCommandText(std::string_view url, const CommandLines& lines = {});

// Replaces each CR and LF of `value` by a space.
std::string SingleLineValue(std::string_view value);

}  // namespace zv::handoff
