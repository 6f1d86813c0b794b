// Text helpers of the administrative helper's per-user and integration jobs:
// line lists, Name=Value setup texts and file-name parts. Platform-free.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zv::adm {

using TStringList = std::vector<std::string>;

// Lines split at CR, LF or CR LF; the text ends at its first NUL. A line
// end after the last line does not add an empty line.
TStringList SplitLines(const std::string& text);
// Every line followed by CR LF.
std::string JoinLines(const TStringList& lines);

std::string LowerCase(std::string text);  // ASCII letters only
bool SameText(const std::string& a, const std::string& b);
bool StartsWith(const std::string& text, const std::string& prefix);
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to);

// A decimal number with an optional sign; `fallback` for any other text
// (or one outside the signed 32-bit range).
int32_t StrToIntDef(const std::string& text, int32_t fallback);

// Name=Value lines; names match without regard to case and the value is
// everything after the first "=". The first line of a name wins.
class TSetupText {
 public:
  explicit TSetupText(const std::string& text) : lines_(SplitLines(text)) {}
  std::string Value(const std::string& name) const;
  int32_t Number(const std::string& name) const { return StrToIntDef(Value(name), 0); }

 private:
  TStringList lines_;
};

// With one trailing "\" (FolderOf and WithoutTrailingBackslash of
// FileJobText.h go the other ways).
std::string IncludeTrailingBackslash(const std::string& path);
// After the last "\" or ":".
std::string ExtractFileName(const std::string& path);

// Texts that users own and the helper must not take as paths or commands.

// A name of a file in a known folder: not empty, no "\", "/" or ":", no "..".
bool IsBareFileName(const std::string& name);
// `text` without the characters a file name cannot hold (\ / : * ? " < > |
// and control characters) and without ",", the shortcut definitions'
// separator: what is left can only name a link, never add a target.
std::string WithoutNameBreakers(const std::string& text);
// Whether a name of a path is "..", or a dotted form Windows trims to it
// ("... ", ". .").
bool HasParentComponent(const std::string& path);
// "X:\..." with no ".." among its names: not relative, drive-relative,
// rooted, UNC or "\\?\" (forward slashes count as separators).
bool IsAbsoluteLocalPath(const std::string& path);
// True when `path` is `folder` itself or lies below it; both are compared
// without regard to case, with "/" read as "\" and any trailing "\" ignored.
bool IsPathInside(const std::string& path, const std::string& folder);
// What the file system says of a name, for ContainedFolder.
struct TFolderFacts {
  std::function<bool(const std::string&)> exists;
  std::function<bool(const std::string&)> isReparsePoint;
  // The path the system resolves a name to; empty when it cannot say.
  std::function<std::string(const std::string&)> finalPath;
};
// A user's folder value as the helper may use it, with "\" separators;
// empty when it is no absolute local path (or has an empty name or a
// stream), lies outside `profileFolder`, passes through a junction or link
// below it, or resolves to a place outside it. Without a profile folder
// (the 9x family's one user) only the form is judged.
std::string ContainedFolder(const std::string& value, const std::string& profileFolder, const TFolderFacts& facts);
// An install log line that a user may hand on: an absolute local path inside
// `profileFolder` (any such path when it is empty), or a key of the user's
// own hive ("HKCU\..." or "HKEY_CURRENT_USER\...").
bool IsUserLogLine(const std::string& line, const std::string& profileFolder);
// CR, LF or NUL: where an initialisation file entry would end early and the
// rest become entries of its own.
bool HasLineBreakOrNul(const std::string& text);

}  // namespace zv::adm
