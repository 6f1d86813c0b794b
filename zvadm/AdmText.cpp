#include "AdmText.h"

#include "FileJobText.h"

#include <string_view>

namespace zv::adm {

TStringList SplitLines(const std::string& whole) {
  const std::string text(whole.c_str());  // up to the first NUL
  TStringList lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

std::string JoinLines(const TStringList& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

std::string LowerCase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool SameText(const std::string& a, const std::string& b) { return LowerCase(a) == LowerCase(b); }

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

int32_t StrToIntDef(const std::string& text, int32_t fallback) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return fallback;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return fallback;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > 2147483648LL) return fallback;
  }
  const int64_t value = negative ? -magnitude : magnitude;
  return value > INT32_MAX ? fallback : static_cast<int32_t>(value);
}

std::string TSetupText::Value(const std::string& name) const {
  for (const std::string& line : lines_) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos && SameText(line.substr(0, equals), name)) return line.substr(equals + 1);
  }
  return {};
}

std::string IncludeTrailingBackslash(const std::string& path) {
  return !path.empty() && path.back() == '\\' ? path : path + "\\";
}

std::string ExtractFileName(const std::string& path) {
  const size_t end = path.find_last_of("\\:");
  return end == std::string::npos ? path : path.substr(end + 1);
}

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Lower case, "/" as "\\", without trailing separators.
std::string ComparablePath(const std::string& path) {
  std::string text = LowerCase(path);
  for (char& c : text)
    if (c == '/') c = '\\';
  while (!text.empty() && text.back() == '\\') text.pop_back();
  return text;
}

}  // namespace

bool IsBareFileName(const std::string& name) {
  return !name.empty() && name.find_first_of("\\/:") == std::string::npos && name.find("..") == std::string::npos &&
         name.find('\0') == std::string::npos;
}

std::string WithoutNameBreakers(const std::string& text) {
  std::string kept;
  kept.reserve(text.size());
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x20 && std::string_view("\\/:*?\"<>|,").find(c) == std::string_view::npos)
      kept.push_back(c);
  return kept;
}

bool HasParentComponent(const std::string& path) {
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    size_t dots = 0;
    bool dotted = true;
    for (size_t at = start; at < i && dotted; ++at) {
      if (path[at] == '.')
        ++dots;
      else
        dotted = path[at] == ' ';
    }
    if (dotted && dots >= 2) return true;
    start = i + 1;
  }
  return false;
}

bool IsAbsoluteLocalPath(const std::string& path) {
  if (path.size() < 3 || !IsDriveLetter(path[0]) || path[1] != ':' || !IsSeparator(path[2])) return false;
  return path.find('\0') == std::string::npos && !HasParentComponent(path);
}

std::string ContainedFolder(const std::string& value, const std::string& profileFolder, const TFolderFacts& facts) {
  // The longest path the file system takes ("\\?\" form): longer values
  // are refused before any of their names is looked at.
  constexpr size_t kLongestPath = 32767;
  if (value.size() > kLongestPath || !IsAbsoluteLocalPath(value)) return {};
  // One separator, so that every name below is looked at: a "/" would
  // hide a junction from the walk that follows.
  std::string path = value;
  for (char& c : path)
    if (c == '/') c = '\\';
  if (path.find("\\\\", 2) != std::string::npos || path.find(':', 2) != std::string::npos) return {};
  if (profileFolder.empty()) return path;
  if (!IsPathInside(path, profileFolder)) return {};
  // From the named folder up to the profile: no name may be a junction or
  // link, and the deepest one that exists must really lie in the profile.
  const std::string profile = WithoutTrailingBackslash(profileFolder);
  std::string deepest;
  for (std::string folder = WithoutTrailingBackslash(path); folder.size() > profile.size();
       folder = ParentFolder(folder)) {
    if (facts.isReparsePoint(folder)) return {};
    if (deepest.empty() && facts.exists(folder)) deepest = folder;
  }
  if (deepest.empty()) deepest = profile;
  const std::string finalProfile = facts.finalPath(profile);
  const std::string finalDeepest = facts.finalPath(deepest);
  if (finalProfile.empty() != finalDeepest.empty()) return {};
  if (!finalProfile.empty() && !IsPathInside(finalDeepest, finalProfile)) return {};
  return path;
}

bool IsPathInside(const std::string& path, const std::string& folder) {
  const std::string inner = ComparablePath(path), outer = ComparablePath(folder);
  if (outer.empty() || inner.compare(0, outer.size(), outer) != 0) return false;
  return inner.size() == outer.size() || inner[outer.size()] == '\\';
}

bool IsUserLogLine(const std::string& line, const std::string& profileFolder) {
  const std::string lower = LowerCase(line);
  if (StartsWith(lower, "hkcu\\") || StartsWith(lower, "hkey_current_user\\")) return true;
  return IsAbsoluteLocalPath(line) && (profileFolder.empty() || IsPathInside(line, profileFolder));
}

bool HasLineBreakOrNul(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

}  // namespace zv::adm
