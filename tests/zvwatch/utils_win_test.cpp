// The helpers on the real Windows APIs: settings read from an INI file of
// any value length, registry text values, folders and files, the
// program-files and application-data folders, and the ANSI code page.
#include "watch_support.h"  // first: its winsock2.h goes before windows.h

#include <windows.h>

#include <gtest/gtest.h>

#include "Utils.h"

using namespace zv::watch;
using zv::test::WriteSettings;

namespace {

class SettingsFileTest : public testing::Test {
 protected:
  void SetUp() override { SettingsFileName = dir_.File("DATA\\Settings.dat"); }
  void TearDown() override { SettingsFileName.clear(); }
  zv::test::ScratchDir dir_;
};

TEST_F(SettingsFileTest, ReadsValuesOfEveryLengthWhole) {
  std::vector<std::pair<std::string, std::string>> values;
  for (size_t length : {1u, 254u, 255u, 256u, 257u, 511u, 512u, 2000u}) {
    std::string value;
    for (size_t i = 0; i < length; ++i) value.push_back(static_cast<char>('A' + i % 26));
    values.emplace_back("Key" + std::to_string(length), value);
  }
  WriteSettings(SettingsFileName, values);
  for (const auto& [key, value] : values) EXPECT_EQ(ReadIniSetting(key), value) << key;
}

TEST_F(SettingsFileTest, AMissingFileSectionOrKeyReadsEmpty) {
  EXPECT_EQ(ReadIniSetting("ZVCaption"), "");
  zv::test::CreateFolders(dir_.File("DATA"));
  ASSERT_TRUE(WritePrivateProfileStringA("Other", "ZVCaption", "elsewhere", SettingsFileName.c_str()));
  EXPECT_EQ(ReadIniSetting("ZVCaption"), "");
  WriteSettings(SettingsFileName, {{"KeysToAdd", "EhE="}});
  EXPECT_EQ(ReadIniSetting("ZVCaption"), "");
  EXPECT_EQ(ReadIniSetting("KeysToAdd"), "EhE=");
}

class RegistryTextTest : public testing::Test {
 protected:
  RegistryTextTest() : key_("Software\\ZvWatchTest-" + std::to_string(GetCurrentProcessId()) + "\\Sub") {}
  ~RegistryTextTest() override { zv::test::DeleteKeyTree(HKEY_CURRENT_USER, key_.substr(0, key_.rfind('\\')).c_str()); }
  std::string key_;
};

TEST_F(RegistryTextTest, WritesReadsAndDeletesTextValues) {
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key_, "Name"), "");
  EXPECT_FALSE(DeleteRegValue(HKEY_CURRENT_USER, key_, "Name"));
  ASSERT_TRUE(WriteRegString(HKEY_CURRENT_USER, key_, "Name", "value one"));  // creates the key
  ASSERT_TRUE(WriteRegString(HKEY_CURRENT_USER, key_, "", "default"));
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key_, "Name"), "value one");
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key_, ""), "default");
  EXPECT_EQ(zv::test::GetRegText(HKEY_CURRENT_USER, key_.c_str(), "Name"), "value one");
  const std::string longText(5000, 'x');
  ASSERT_TRUE(WriteRegString(HKEY_CURRENT_USER, key_, "Long", longText));
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key_, "Long"), longText);
  EXPECT_TRUE(DeleteRegValue(HKEY_CURRENT_USER, key_, "Name"));
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, key_, "Name"), "");
  EXPECT_FALSE(DeleteRegValue(HKEY_CURRENT_USER, key_, "Name"));
}

TEST(Folders, FolderExistsAndFileFound) {
  zv::test::ScratchDir dir;
  const std::string file = dir.File("kestrix.exe");
  WriteSettings(file, {});
  EXPECT_TRUE(FolderExists(dir.path()));
  EXPECT_FALSE(FolderExists(file));
  EXPECT_FALSE(FolderExists(dir.File("missing")));
  EXPECT_FALSE(FolderExists(""));
  EXPECT_TRUE(FileFound(file));
  EXPECT_FALSE(FileFound(dir.File("missing.exe")));
}

TEST(Folders, TheProgramFilesFolderEndsInABackslashAndTheShortFormIsKnown) {
  const std::string folder = ProgramFilesFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '\\');
  EXPECT_TRUE(FolderExists(folder));
  const std::string shortForm = ShortFormOf(folder);
  EXPECT_FALSE(shortForm.empty());
  EXPECT_EQ(shortForm.find(' '), std::string::npos) << shortForm;
  EXPECT_EQ(ShortFormOf("C:\\" + zv::test::UniqueStem("missing") + "\\"), "");
}

TEST(Folders, AnotherUsersApplicationDataFolderIsTheShellFoldersValue) {
  const std::string key = "ZvWatchTest-" + std::to_string(GetCurrentProcessId());
  const std::string shellFolders = key + "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  HKEY root;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr),
            ERROR_SUCCESS);
  zv::test::SetRegText(HKEY_CURRENT_USER, shellFolders.c_str(), "AppData", "D:\\Profiles\\other\\Missing");
  // Not the current user's root: no shell fallback, the value as it is.
  EXPECT_EQ(AppDataFolder(root), "D:\\Profiles\\other\\Missing");
  RegCloseKey(root);
  zv::test::DeleteKeyTree(HKEY_CURRENT_USER, key.c_str());
}

TEST(AnsiCodePage, Utf8NamesComeInTheCodePageAndUnknownLettersAsUnderscores) {
  ASSERT_EQ(GetACP(), 1252u);
  EXPECT_EQ(ConvertUtf8ToAnsi("\xE2\x82\xAC"), "\x80");  // the euro sign
  EXPECT_EQ(ConvertUtf8ToAnsi("caf\xC3\xA9"), "caf\xE9");
  EXPECT_EQ(ConvertUtf8ToAnsi("\xE4\xB8\xAD"), "_");
  EXPECT_EQ(ConvertUtf8ToAnsi("a\xEF\xBC\x9A"
                              "b"),
            "a_b");  // no ":" for the fullwidth one
  EXPECT_EQ(WideToAnsi(L"r\u00E9sum\u00E9.pdf"), "r\xE9sum\xE9.pdf");
  EXPECT_EQ(WideToAnsi(nullptr), "");
}

TEST(AnsiCodePage, FileNameParametersAreComparedIgnoringCaseInTheUsersLocale) {
  EXPECT_TRUE(SameTextIgnoringCase("FileName", "filename"));
  EXPECT_TRUE(SameTextIgnoringCase("\xC9T\xC9", "\xE9t\xE9"));  // accented capitals fold too
  EXPECT_FALSE(SameTextIgnoringCase("filenames", "filename"));
}

}  // namespace
