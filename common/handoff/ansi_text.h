// Byte-string helpers whose exact rules come from the ANSI code page on
// Windows. The platform-free build uses plain ASCII rules, which agree with
// the code page for every byte the capture rules compare.
#pragma once

#include <string>
#include <string_view>

namespace zv::handoff {

// Upper-cases a copy of `text` (CharUpperBuffA on Windows).
std::string UpperAnsi(std::string_view text);

// True when `text` begins with `prefix`, compared case-insensitively over
// the prefix's length in the user's locale (CompareStringA with
// NORM_IGNORECASE on Windows). A shorter text never matches.
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);

}  // namespace zv::handoff
