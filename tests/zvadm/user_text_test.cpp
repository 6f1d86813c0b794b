// The texts behind the per-user jobs: install-log lines, setup texts, and
// the shortcut names read from a language file.
#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "AdmText.h"
#include "ZVStrings.h"

using namespace zv::adm;

namespace {

struct LinesCase {
  std::string text;
  TStringList lines;
};
void PrintTo(const LinesCase& test, std::ostream* out) { *out << testing::PrintToString(test.text); }

class InstallLogLines : public testing::TestWithParam<LinesCase> {};

TEST_P(InstallLogLines, SplitAtEveryLineEnd) { EXPECT_EQ(SplitLines(GetParam().text), GetParam().lines); }

INSTANTIATE_TEST_SUITE_P(Texts, InstallLogLines,
                         testing::Values(LinesCase{"", {}}, LinesCase{"a", {"a"}}, LinesCase{"a\r\nb\r\n", {"a", "b"}},
                                         LinesCase{"a\nb\rc\r\n\r\nd", {"a", "b", "c", "", "d"}},
                                         LinesCase{"\r\n", {""}}, LinesCase{"a\r\r\nb", {"a", "", "b"}},
                                         LinesCase{std::string("a\r\nb\0c\r\nd", 9), {"a", "b"}}));

TEST(InstallLogLines, JoinEndsEveryLineWithCrLf) {
  EXPECT_EQ(JoinLines({"C:\\a.lnk", "", "C:\\b\\"}), "C:\\a.lnk\r\n\r\nC:\\b\\\r\n");
  EXPECT_EQ(JoinLines({}), "");
  EXPECT_EQ(SplitLines(JoinLines({"x", "y"})), (TStringList{"x", "y"}));
}

TEST(SetupText, NamesIgnoreCaseAndValuesKeepEverythingAfterTheFirstEquals) {
  const TSetupText setup(
      "instpath=C:\\Program Files\\Kestrix\r\nAppGroup=Quennet Kestrix\r\nDeskTop=1\r\nQuickLaunch=yes\r\n"
      "Caption=a=b\r\nIntegrationMethod=-2\r\nAppGroup=second\r\nnoequals\r\n");
  EXPECT_EQ(setup.Value("InstPath"), "C:\\Program Files\\Kestrix");
  EXPECT_EQ(setup.Value("APPGROUP"), "Quennet Kestrix");
  EXPECT_EQ(setup.Value("Caption"), "a=b");
  EXPECT_EQ(setup.Value("IntlFolder"), "");
  EXPECT_EQ(setup.Value("noequals"), "");
  EXPECT_EQ(setup.Number("DeskTop"), 1);
  EXPECT_EQ(setup.Number("QuickLaunch"), 0);  // not a number
  EXPECT_EQ(setup.Number("IntegrationMethod"), -2);
  EXPECT_EQ(setup.Number("Missing"), 0);
}

TEST(SetupText, NumbersOutsideTheSignedRangeAreNotNumbers) {
  EXPECT_EQ(StrToIntDef("2147483647", 7), 2147483647);
  EXPECT_EQ(StrToIntDef("-2147483648", 7), INT32_MIN);
  EXPECT_EQ(StrToIntDef("2147483648", 7), 7);
  EXPECT_EQ(StrToIntDef("99999999999999999999", 7), 7);
  EXPECT_EQ(StrToIntDef("+12", 7), 12);
  EXPECT_EQ(StrToIntDef(" 1", 7), 7);
  EXPECT_EQ(StrToIntDef("-", 7), 7);
}

TEST(FileNameParts, TheNameFollowsTheLastSeparatorOrDrive) {
  EXPECT_EQ(ExtractFileName("C:\\Program Files\\Zorvane\\zorvex.exe"), "zorvex.exe");
  EXPECT_EQ(ExtractFileName("C:zorvex.exe"), "zorvex.exe");
  EXPECT_EQ(ExtractFileName("zorvex.exe"), "zorvex.exe");
  EXPECT_EQ(ExtractFileName("C:\\Folder\\"), "");
  EXPECT_EQ(IncludeTrailingBackslash("C:\\a"), "C:\\a\\");
  EXPECT_EQ(IncludeTrailingBackslash("C:\\a\\"), "C:\\a\\");
}

// A language file whose "[strings]" line is followed by numbered lines.
TStringList LanguageFile(const std::string& prefix, int lines) {
  TStringList file = {"[Language]", "Name=Test", "[Strings]"};
  for (int i = 0; i < lines; ++i) file.push_back(prefix + std::to_string(i));
  return file;
}

TEST(LanguageStrings, LinesAfterTheStringsLineCountFromZero) {
  TStringList file = LanguageFile("line ", 300);
  file[3 + 229] = "Zorvane on the web";
  file[3 + 298] = "Starts Zorvane (Zorvane)";
  const TLanguageStrings strings = ReadLanguageStrings(file);
  EXPECT_EQ(strings.S1, "Kestrix on the web");
  EXPECT_EQ(strings.S2, "line 230");
  EXPECT_EQ(strings.S3, "line 231");
  EXPECT_EQ(strings.S4, "line 232");
  EXPECT_EQ(strings.S5, "Starts Kestrix (Kestrix)");
}

TEST(LanguageStrings, ALaterStringsLineStartsTheCountAgain) {
  TStringList file = LanguageFile("first ", 250);  // S1 to S4 from here ...
  file.push_back("[STRINGS]");
  for (int i = 0; i < 299; ++i) file.push_back("second " + std::to_string(i));  // ... then all five again
  const TLanguageStrings strings = ReadLanguageStrings(file);
  EXPECT_EQ(strings.S1, "second 229");
  EXPECT_EQ(strings.S4, "second 232");
  EXPECT_EQ(strings.S5, "second 298");
}

TEST(LanguageStrings, ReadingStopsOnceAllFiveAreFound) {
  TStringList file = LanguageFile("line ", 299);
  file.push_back("[strings]");  // after line 298: never reached
  file.push_back("zorvane lower case stays");
  EXPECT_EQ(ReadLanguageStrings(file).S5, "line 298");
}

TEST(LanguageStrings, WithoutAStringsLineEveryTextIsEmpty) {
  TStringList file = LanguageFile("line ", 300);
  file[2] = "[strings ]";
  const TLanguageStrings strings = ReadLanguageStrings(file);
  EXPECT_EQ(strings.S1 + strings.S2 + strings.S3 + strings.S4 + strings.S5, "");
}

TEST(LanguageStrings, AFileThatEndsEarlyLeavesTheLaterTextsEmpty) {
  const TLanguageStrings strings = ReadLanguageStrings(LanguageFile("short ", 231));
  EXPECT_EQ(strings.S1, "short 229");
  EXPECT_EQ(strings.S2, "short 230");
  EXPECT_EQ(strings.S3 + strings.S4 + strings.S5, "");
}

struct DefinitionRow {
  std::string name, target, arguments;
  int icon;
  bool desktop;
};

TEST(ShortcutDefinitions, FiveShortcutsFromTheLanguageStrings) {
  const TLanguageStrings strings{"Web Site", "Buy Now", "Support, Help", "Uninstall", "unused"};
  const auto definitions = ParseShortcutDefinitions(ShortcutDefinitions(strings));
  const std::vector<DefinitionRow> expected = {
      {"Kestrix", "kestrix.exe", "", 0, true},
      {"Quennet Web Site", "WebSite.url", "", 0, false},
      {"Buy Now", "BuyNow.url", "", 0, false},
      {"Support", "", "Help", 0, false},  // a comma in a name cuts it there
      {"Uninstall", "kestrix.exe", "/UnInstall", 2, false},
  };
  ASSERT_EQ(definitions.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(definitions[i].Name, expected[i].name);
    EXPECT_EQ(definitions[i].Target, expected[i].target);
    EXPECT_EQ(definitions[i].Arguments, expected[i].arguments);
    EXPECT_EQ(definitions[i].Icon, expected[i].icon);
    EXPECT_EQ(definitions[i].Desktop, expected[i].desktop);
  }
}

TEST(ShortcutDefinitions, LinesReadNameTargetArgumentsIconAndDesktop) {
  const auto definitions = ParseShortcutDefinitions(
      "no comma here\r\nFirst,a.exe\r\nTool,t.exe -x -y,7,on the Desktop\r\nOdd,b.exe,seven\r\n,c.exe,3,desktop\r\n");
  ASSERT_EQ(definitions.size(), 4u);
  EXPECT_TRUE(definitions[0].Desktop);  // the first line always is one
  EXPECT_EQ(definitions[1].Name, "Tool");
  EXPECT_EQ(definitions[1].Target, "t.exe");
  EXPECT_EQ(definitions[1].Arguments, "-x -y");
  EXPECT_EQ(definitions[1].Icon, 7);
  EXPECT_TRUE(definitions[1].Desktop);
  EXPECT_EQ(definitions[2].Icon, 0);
  EXPECT_FALSE(definitions[2].Desktop);
  EXPECT_EQ(definitions[3].Name, "");
  EXPECT_FALSE(definitions[3].Desktop);  // "Desktop" is matched with its case
}

// What a user's own data may name before the elevated helper acts on it.
struct UserTextCase {
  const char* label;
  bool (*rule)(const std::string&);
  std::string text;
  bool accepted;
};
void PrintTo(const UserTextCase& c, std::ostream* out) { *out << c.label << " " << testing::PrintToString(c.text); }

bool InsideProfile(const std::string& path) { return IsPathInside(path, "C:\\Users\\Anna\\"); }
bool AnnasLogLine(const std::string& line) { return IsUserLogLine(line, "C:\\Users\\Anna\\"); }
bool SingleUserLogLine(const std::string& line) { return IsUserLogLine(line, ""); }

// Anna's profile as the file system answers: "J" is a junction to the
// machine's start-up folder, her group folder one to the same, and
// "Moved" resolves elsewhere although no name below it says so (a link
// the system resolves silently).
bool InAnnasProfile(const std::string& path) {
  const auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  static const std::set<std::string> existing = {"c:\\users\\anna", "c:\\users\\anna\\j",
                                                 "c:\\users\\anna\\moved", "c:\\users\\anna\\programs",
                                                 "c:\\users\\anna\\programs\\quennet kestrix"};
  static const std::set<std::string> junctions = {"c:\\users\\anna\\j",
                                                  "c:\\users\\anna\\programs\\quennet kestrix"};
  const TFolderFacts facts{
      [&](const std::string& name) { return existing.count(lower(name)) > 0; },
      [&](const std::string& name) { return junctions.count(lower(name)) > 0; },
      [&](const std::string& name) {
        return lower(name) == "c:\\users\\anna\\moved" ? std::string("D:\\Elsewhere") : name;
      }};
  const std::string contained = ContainedFolder(path, "C:\\Users\\Anna\\", facts);
  // What is used has one kind of separator.
  EXPECT_EQ(contained.find('/'), std::string::npos) << contained;
  return !contained.empty();
}

class UserTexts : public testing::TestWithParam<UserTextCase> {};

TEST_P(UserTexts, AreAcceptedOnlyWhereTheyCannotReachOutside) {
  EXPECT_EQ(GetParam().rule(GetParam().text), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, UserTexts,
    testing::Values(UserTextCase{"language", IsBareFileName, "zv_de.int", true},
                    UserTextCase{"language", IsBareFileName, "..\\..\\Windows\\win.ini", false},
                    UserTextCase{"language", IsBareFileName, "C:\\x.int", false},
                    UserTextCase{"language", IsBareFileName, "C:x.int", false},
                    UserTextCase{"language", IsBareFileName, "sub/x.int", false},
                    UserTextCase{"language", IsBareFileName, "..", false},
                    UserTextCase{"language", IsBareFileName, "", false},
                    UserTextCase{"folder", IsAbsoluteLocalPath, "C:\\Users\\Anna\\Desktop", true},
                    UserTextCase{"folder", IsAbsoluteLocalPath, "c:/Users/Anna", true},
                    UserTextCase{"folder", IsAbsoluteLocalPath, "Desktop", false},
                    UserTextCase{"folder", IsAbsoluteLocalPath, "C:Desktop", false},
                    UserTextCase{"folder", IsAbsoluteLocalPath, "\\Users\\Anna", false},
                    UserTextCase{"folder", IsAbsoluteLocalPath, "\\\\server\\share\\Desktop", false},
                    UserTextCase{"folder", IsAbsoluteLocalPath, "\\\\?\\C:\\Windows", false},
                    UserTextCase{"folder", IsAbsoluteLocalPath, "C:\\Users\\Anna\\..\\..\\Windows", false},
                    UserTextCase{"folder", IsAbsoluteLocalPath, "C:\\Users\\Anna\\..", false},
                    UserTextCase{"inside", InsideProfile, "C:\\Users\\Anna", true},
                    UserTextCase{"inside", InsideProfile, "c:\\users\\anna\\AppData\\", true},
                    UserTextCase{"inside", InsideProfile, "C:/Users/Anna/Desktop", true},
                    UserTextCase{"inside", InsideProfile, "C:\\Users\\Annabel\\Desktop", false},
                    UserTextCase{"inside", InsideProfile, "C:\\Users\\Bert\\Desktop", false},
                    UserTextCase{"inside", InsideProfile, "C:\\Users", false},
                    UserTextCase{"folder", IsAbsoluteLocalPath, "C:\\Users\\Anna\\.. \\Windows", false},
                    UserTextCase{"folder", IsAbsoluteLocalPath, "C:\\Users\\Anna\\...\\x", false},
                    UserTextCase{"contained", InAnnasProfile, "C:\\Users\\Anna\\Desktop", true},
                    UserTextCase{"contained", InAnnasProfile, "c:/users/anna/Programs/Other group", true},
                    UserTextCase{"contained", InAnnasProfile, "C:\\Users\\Anna\\J\\new", false},
                    UserTextCase{"contained", InAnnasProfile, "C:\\Users\\Anna\\J/new", false},
                    UserTextCase{"contained", InAnnasProfile, "C:\\Users\\Anna\\Programs\\Quennet Kestrix", false},
                    UserTextCase{"contained", InAnnasProfile, "C:\\Users\\Anna\\Moved\\Desktop", false},
                    UserTextCase{"contained", InAnnasProfile, "C:\\Users\\Anna\\\\Desktop", false},
                    UserTextCase{"contained", InAnnasProfile, "C:\\Users\\Anna\\Desktop:hidden", false},
                    UserTextCase{"contained", InAnnasProfile, "C:\\Users\\Bert\\Desktop", false},
                    UserTextCase{"log", AnnasLogLine, "C:\\Users\\Anna\\Desktop\\Kestrix.lnk", true},
                    UserTextCase{"log", AnnasLogLine, "HKCU\\Software\\Quennet", true},
                    UserTextCase{"log", AnnasLogLine, "C:\\Users\\Bert\\Desktop\\Kestrix.lnk", false},
                    UserTextCase{"log", AnnasLogLine, "C:\\Windows\\System32\\", false},
                    UserTextCase{"log", AnnasLogLine, "C:\\Users\\Anna\\..\\Bert\\x.lnk", false},
                    UserTextCase{"log", AnnasLogLine, "HKLM\\SOFTWARE\\Microsoft", false},
                    UserTextCase{"log", AnnasLogLine, "shortcut", false},
                    UserTextCase{"log", SingleUserLogLine, "C:\\Windows\\Desktop\\Kestrix.lnk", true},
                    UserTextCase{"log", SingleUserLogLine, "..\\x", false},
                    UserTextCase{"ini", HasLineBreakOrNul, "Options", false},
                    UserTextCase{"ini", HasLineBreakOrNul, "a\r\n[boot]", true},
                    UserTextCase{"ini", HasLineBreakOrNul, "a\nshell=x", true},
                    UserTextCase{"ini", HasLineBreakOrNul, std::string("a\0b", 3), true}));

TEST(UserTexts, LanguageTextsLoseWhatWouldMakeThemTargets) {
  EXPECT_EQ(WithoutNameBreakers("de Zorvane Web"), "de Zorvane Web");
  EXPECT_EQ(WithoutNameBreakers("x,..\\..\\Startup\\evil.exe /c,0,Desktop"), "x....Startupevil.exe c0Desktop");
  EXPECT_EQ(WithoutNameBreakers("a:*?\"<>|\tb\x01"), "ab");
  // What is left builds definitions with the fixed targets only.
  TLanguageStrings strings{WithoutNameBreakers("Web,cmd.exe,0,Desktop"), "Buy", "Support", "Uninstall", "d"};
  const auto definitions = ParseShortcutDefinitions(ShortcutDefinitions(strings));
  ASSERT_EQ(definitions.size(), 5u);
  EXPECT_EQ(definitions[1].Name, "Quennet Webcmd.exe0Desktop");
  EXPECT_EQ(definitions[1].Target, "WebSite.url");
  EXPECT_FALSE(definitions[1].Desktop);
}

}  // namespace
