// Arbitrary setup texts, language files, initialisation entries and
// "wininit.ini" contents through the helper's text readers, which run with
// administrator rights on files and job texts from elsewhere: no crash, and
// what they give back is consistent with the text they were given.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "AdmText.h"
#include "FileJobText.h"
#include "ZVStrings.h"

using namespace zv::adm;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool Has(const std::string& text, const char* what) { return text.find_first_of(what) != std::string::npos; }

void CheckLines(const std::string& text, const TStringList& lines) {
  for (const std::string& line : lines) Check(!Has(line, "\r\n") && line.find('\0') == std::string::npos);
  Check(SplitLines(JoinLines(lines)) == lines);

  // The first Name=Value line is always found; the same lines written back
  // give the same values.
  const TSetupText setup(text), again(JoinLines(lines));
  for (const std::string& line : lines) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string name = line.substr(0, equals);
    Check(setup.Value(name) == again.Value(name));
    Check(setup.Number(name) == again.Number(name));
  }
  for (const std::string& line : lines) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    Check(setup.Value(line.substr(0, equals)) == line.substr(equals + 1));
    break;
  }
}

void CheckShortcuts(const TStringList& lines) {
  const TLanguageStrings strings = ReadLanguageStrings(lines);
  for (const std::string* s : {&strings.S1, &strings.S2, &strings.S3, &strings.S4, &strings.S5})
    Check(s->find("Zorvane") == std::string::npos);
  const auto definitions = ParseShortcutDefinitions(ShortcutDefinitions(strings));
  Check(definitions.size() == 5 && definitions.front().Desktop);
  if (!Has(strings.S1 + strings.S2 + strings.S3 + strings.S4, ",")) {
    Check(definitions[2].Name == strings.S2 && definitions[4].Name == strings.S4);
    Check(definitions[4].Target == "kestrix.exe" && definitions[4].Arguments == "/UnInstall" &&
          definitions[4].Icon == 2);
  }
}

void CheckDefinitions(const std::string& text, const TStringList& lines) {
  const auto definitions = ParseShortcutDefinitions(text);
  Check(definitions.size() <= lines.size());
  for (const auto& d : definitions) Check(!Has(d.Name, ",\r\n") && !Has(d.Target, ", "));
}

void CheckFileTexts(const std::string& text, const TStringList& lines) {
  const std::string entry = "C:\\NEW.DLL=C:\\OLD.TMP";
  const std::string ini = AddRenameEntry(text, entry);
  Check(ini.size() >= 2 && ini.compare(ini.size() - 2, 2, "\r\n") == 0);
  // On a line of its own; the rest, NULs included, is copied as it was.
  Check(("\r\n" + ini).find("\r\n" + entry + "\r\n") != std::string::npos);

  for (const std::string& line : lines) {
    const TIniEntry e = SplitIniEntry(line);
    size_t tabs = 0;
    for (char c : line) tabs += c == '\t';
    if (tabs >= 3) Check(e.file + "\t" + e.section + "\t" + e.key + "\t" + e.value == line);
    Check(!Has(e.file + e.section + e.key, "\t"));

    const std::string name = ExtractFileName(line);
    Check(!Has(name, "\\:") && FolderOf(line) + name == line);
    const std::string batch = BatchFileName(line);
    Check(batch.size() >= 4 && batch.compare(batch.size() - 4, 4, ".BAT") == 0);
    Check(IncludeTrailingBackslash(line).back() == '\\');
  }
}

// What a user's own data may name: never a place above the profile, never
// a shortcut target of its own, never a "%" that the batch would expand.
void CheckContainment(const TStringList& lines) {
  const std::string profile = "C:\\Users\\Anna\\";
  for (const std::string& line : lines) {
    if (IsAbsoluteLocalPath(line)) {
      std::string names = line + "\\";
      for (char& c : names)
        if (c == '/') c = '\\';
      Check(names.find("\\..\\") == std::string::npos);
    }
    if (IsBareFileName(line)) Check(!Has(line, "\\/:") && line.find("..") == std::string::npos);
    if (IsUserLogLine(line, profile) && IsAbsoluteLocalPath(line)) Check(IsPathInside(line, profile));
    const std::string name = WithoutNameBreakers(line);
    Check(!Has(name, ",\\/:*?\"<>|\r\n\t"));
    TLanguageStrings strings{name, name, name, name, name};
    const auto definitions = ParseShortcutDefinitions(ShortcutDefinitions(strings));
    Check(definitions.size() == 5 && definitions[1].Target == "WebSite.url" && definitions[4].Target == "kestrix.exe");
    // Every "%" of a path comes out doubled: an even run wherever one stands.
    const std::string text = BatchPathText(line);
    for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 2)) Check(text[at + 1] == '%');
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const TStringList lines = SplitLines(text);
  CheckLines(text, lines);
  CheckShortcuts(lines);
  CheckDefinitions(text, lines);
  CheckFileTexts(text, lines);
  CheckContainment(lines);
  return 0;
}
