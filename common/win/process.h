// Starting programs by path.
#pragma once

#include <string>

namespace zv::win {

// A program path as one command-line token. Unquoted, "D:\My Tools\x.exe"
// would start "D:\My.exe" when one exists. A path already quoted is kept.
inline std::string QuotedProgramPath(const std::string& path) {
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') return path;
  return "\"" + path + "\"";
}

}  // namespace zv::win
