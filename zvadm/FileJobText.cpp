#include "FileJobText.h"

#include "win/paths.h"

namespace zv::adm {
namespace {

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsRenameSectionLine(std::string_view line) {
  constexpr std::string_view kRenameSection = "[RENAME]";
  if (line.size() != kRenameSection.size()) return false;
  for (size_t i = 0; i < line.size(); ++i)
    if (UpperAscii(line[i]) != kRenameSection[i]) return false;
  return true;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

bool IsDeleteTarget(std::string_view target) {
  return target.empty() || (target.size() >= 3 && UpperAscii(target[0]) == 'N' && UpperAscii(target[1]) == 'U' &&
                            UpperAscii(target[2]) == 'L');
}

std::string AddRenameEntry(std::string_view iniText, std::string_view entry) {
  constexpr std::string_view kLineEnd = "\r\n";
  std::string out;
  out.reserve(iniText.size() + entry.size() + 16);
  bool sectionMet = false;
  size_t at = 0;
  while (at < iniText.size()) {
    size_t end = iniText.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = iniText.size();
    const std::string_view line = iniText.substr(at, end - at);
    out.append(line).append(kLineEnd);
    if (IsRenameSectionLine(line)) {
      out.append(entry).append(kLineEnd);
      sectionMet = true;
    }
    at = end;
    if (at < iniText.size() && iniText[at] == '\r') ++at;
    if (at < iniText.size() && iniText[at] == '\n') ++at;
  }
  if (!sectionMet) out.append("[RENAME]").append(kLineEnd).append(entry).append(kLineEnd);
  return out;
}

std::string SelfRemovalBatch(const std::string& helper, const std::string& extraCommand, const std::string& batch) {
  return "@echo off\r\n"
         ":try\r\n"
         "del " +
         Quoted(helper) + "\r\n" + "if exist " + Quoted(helper) + " goto try\r\n" + extraCommand + "\r\n" + "del " +
         Quoted(batch) + "\r\n" + "cls";
}

std::string BatchPathText(const std::string& path) {
  std::string text;
  for (const char c : path) {
    if (c == '%') text.push_back('%');
    text.push_back(c);
  }
  return text;
}

std::string BoundedSelfRemovalBatch(const std::string& helper, const std::string& helperFolder,
                                    const std::string& batch, const std::string& batchFolder,
                                    const std::string& systemFolder, int tries) {
  const std::string h = Quoted(BatchPathText(helper));
  const std::string pause = Quoted(BatchPathText(systemFolder + "\\ping.exe")) + " -n 2 127.0.0.1 >nul";
  return "@echo off\r\n"
         "set zvtries=0\r\n"
         ":try\r\n"
         "del " +
         h + "\r\n" + "if not exist " + h + " goto gone\r\n" + "set /a zvtries+=1\r\n" + "if %zvtries% lss " +
         std::to_string(tries) + " " + pause + " & goto try\r\n" + ":gone\r\n" + "rd " +
         Quoted(BatchPathText(helperFolder)) + "\r\n" +
         // One line: it is read whole before the batch file is gone.
         "del " + Quoted(BatchPathText(batch)) + " & cd /d " + Quoted(BatchPathText(systemFolder)) + " & rd " +
         Quoted(BatchPathText(batchFolder)) + "\r\n" + "cls";
}

std::string BatchCommandLine(const std::string& commandInterpreter, const std::string& batchName) {
  // By its name in the current folder: cmd would expand a "%" of the
  // folder's path on its command line, where no doubling helps.
  return Quoted(commandInterpreter) + " /d /c " + Quoted(".\\" + batchName);
}

std::string BatchFileName(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t separator = path.find_last_of("\\:");
  const bool hasExtension = dot != std::string::npos && (separator == std::string::npos || dot > separator);
  return (hasExtension ? path.substr(0, dot) : path) + ".BAT";
}

std::string FolderOf(const std::string& path) { return zv::win::FolderOfPath(path); }

std::string WithoutTrailingBackslash(const std::string& name) {
  return !name.empty() && name.back() == '\\' ? name.substr(0, name.size() - 1) : name;
}

std::string ParentFolder(const std::string& name) {
  const size_t end = name.find_last_of('\\');
  return end == std::string::npos ? std::string() : name.substr(0, end);
}

TIniEntry SplitIniEntry(std::string_view text) {
  TIniEntry entry;
  std::string* const fields[] = {&entry.file, &entry.section, &entry.key, &entry.value};
  size_t at = 0;
  for (size_t i = 0; i < 4 && at <= text.size(); ++i) {
    const size_t tab = i < 3 ? text.find('\t', at) : std::string_view::npos;
    const size_t end = tab == std::string_view::npos ? text.size() : tab;
    fields[i]->assign(text.substr(at, end - at));
    if (tab == std::string_view::npos) break;
    at = tab + 1;
  }
  return entry;
}

}  // namespace zv::adm
