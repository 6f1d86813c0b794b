// Where the module finds the portable edition's settings, seen from the
// download manager: a settings file in each candidate place names another
// stand-in's caption, and the stand-in that receives the download tells
// which file the module read.
#include "watch_support.h"  // first: its winsock2.h goes before windows.h

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>


using namespace zv::test;

namespace {

constexpr char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr char kSettingsTail[] = "\\Quennet\\Kestrix\\Settings.dat";

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

std::string WithoutTrailingBackslash(std::string text) {
  while (!text.empty() && text.back() == '\\') text.pop_back();
  return text;
}

class SettingsLocationTest : public testing::Test {
 protected:
  SettingsLocationTest() : installed_(Options("installed")), carried_(Options("carried")), shell_(Options("shell")) {}

  static zv::test::StandInOptions Options(const std::string& which) {
    zv::test::StandInOptions options;
    options.caption = "Kestrix " + which + " " + std::to_string(GetCurrentProcessId());
    return options;
  }

  void SetUp() override {
    zv::test::ReleaseAllKeys();
    char folder[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder), S_OK);
    shellAppData_ = folder;
    programFiles_ = WithoutTrailingBackslash(
        zv::test::GetRegText(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir").value_or(""));
    ASSERT_FALSE(programFiles_.empty());
    installed_.Launch();
    carried_.Launch();
    shell_.Launch();
  }

  void TearDown() override {
    for (const std::string& file : written_) RemoveFile(file);
  }

  void Write(const std::string& file, const std::string& which) {
    WriteSettings(file, {{"ZVCaption", Options(which).caption}});
    written_.push_back(file);
  }

  // Loads a copy of the module from `folder` (through `loadPath` when
  // given), makes one download and names the stand-in that received it.
  // The settings beside the module name the "carried" stand-in, those in
  // `installedAppData` (when given) the "installed" one, and those in the
  // shell's application-data folder, when that is another, the "shell" one.
  std::string Receiver(const std::string& folder, const std::string& installedAppData,
                       const std::string& loadPath = "") {
    Write(folder + "\\DATA\\Settings.dat", "carried");
    if (!installedAppData.empty()) Write(installedAppData + kSettingsTail, "installed");
    if (installedAppData != shellAppData_) Write(shellAppData_ + kSettingsTail, "shell");

    const size_t before[] = {installed_.Texts().size(), carried_.Texts().size(), shell_.Texts().size()};
    {
      WatchModule module(folder, "zvwatch.dll", loadPath);
      if (!module.handle()) return "module not loaded";
      loadedAs_ = LoadedPath(module.handle());
      ComPtr<IDownloadManager> manager = module.NewManager();
      if (!manager) return "no object";
      const HRESULT hr = CallDownload(manager.get(), UnreachableUrl("x.zip"));
      if (hr != S_OK) return "Download failed";
    }
    std::string receivers;
    if (installed_.Texts().size() > before[0]) receivers += "installed";
    if (carried_.Texts().size() > before[1]) receivers += "carried";
    if (shell_.Texts().size() > before[2]) receivers += "shell";
    return receivers;
  }

  // The settings' application-data folder as the Shell Folders value names it.
  std::string ShellFoldersAppData() const {
    return zv::test::GetRegText(HKEY_CURRENT_USER, kShellFolders, "AppData").value_or("");
  }

  static std::string LoadedPath(HMODULE module) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    return path;
  }

  std::string UnderProgramFiles() const { return programFiles_ + "\\" + UniqueStem("ZvWatch"); }

  ComApartment apartment_;
  zv::test::StandIn installed_, carried_, shell_;
  std::string shellAppData_, programFiles_, loadedAs_;
  std::vector<std::string> written_;
};

TEST_F(SettingsLocationTest, AModuleUnderTheProgramFilesFolderReadsTheUsersApplicationData) {
  OwnedFolder folder(UnderProgramFiles());
  EXPECT_EQ(Receiver(folder.path(), ShellFoldersAppData()), "installed");
}

TEST_F(SettingsLocationTest, TheComparisonIgnoresTheCaseOfThePath) {
  OwnedFolder folder(UnderProgramFiles());
  const std::string upper = Upper(folder.path() + "\\zvwatch.dll");
  EXPECT_EQ(Receiver(folder.path(), ShellFoldersAppData(), upper), "installed");
  EXPECT_EQ(loadedAs_, upper);
}

TEST_F(SettingsLocationTest, AModuleReachedThroughTheShortFormIsUnderTheProgramFilesFolder) {
  OwnedFolder folder(UnderProgramFiles());
  char shortForm[MAX_PATH] = {};
  ASSERT_GT(GetShortPathNameA(programFiles_.c_str(), shortForm, MAX_PATH), 0u);
  ASSERT_NE(std::string(shortForm), programFiles_);
  const std::string viaShort = shortForm + folder.path().substr(programFiles_.size()) + "\\zvwatch.dll";
  EXPECT_EQ(Receiver(folder.path(), ShellFoldersAppData(), viaShort), "installed");
  EXPECT_EQ(loadedAs_, viaShort) << "the module sees the path it was loaded through";
}

// A carried copy in a folder whose name the ANSI code page cannot hold.
TEST_F(SettingsLocationTest, AModuleInAFolderNamedOutsideTheCodePageReadsTheDataFolderBesideIt) {
  zv::test::ScratchDir scratch;
  const std::wstring folder = std::wstring(scratch.path().begin(), scratch.path().end()) +
                              L"\\\x0141\xF3"
                              L"d\x017A";
  const std::wstring data = folder + L"\\DATA", file = data + L"\\Settings.dat";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(data.c_str(), nullptr));
  const std::string text = "[SOFTWARE\\Quennet\\Zorvane]\r\nZVCaption=" + Options("carried").caption + "\r\n";
  HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(out);
  {
    WatchModule module(folder);
    ASSERT_TRUE(module.handle());
    ComPtr<IDownloadManager> manager = module.NewManager();
    ASSERT_TRUE(manager);
    EXPECT_EQ(CallDownload(manager.get(), UnreachableUrl("x.zip")), S_OK);
  }
  EXPECT_EQ(carried_.WaitForTexts(1).size(), 1u);
  DeleteFileW(file.c_str());
  RemoveDirectoryW(data.c_str());
  RemoveDirectoryW(folder.c_str());
}

// On 64-bit Windows either program-files folder holds an installed copy,
// whichever build of the module it is.
TEST_F(SettingsLocationTest, AModuleUnderEitherProgramFilesFolderReadsTheUsersApplicationData) {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  if (sizeof(void*) == 4 && !wow64) GTEST_SKIP() << "32-bit Windows has one program-files folder";
  // The other build's view names "Program Files (x86)" or "Program Files";
  // a prefix made without that view's values gets the usual one here.
  const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, nullptr, 0, KEY_READ | KEY_WRITE | otherView,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  char other[MAX_PATH] = {};
  DWORD size = sizeof(other) - 1;
  const bool planted = RegQueryValueExA(key, "ProgramFilesDir", nullptr, nullptr, reinterpret_cast<BYTE*>(other),
                                        &size) != ERROR_SUCCESS;
  if (planted) {
    const std::string usual = sizeof(void*) == 8 ? "C:\\Program Files (x86)" : "C:\\Program Files";
    lstrcpynA(other, usual.c_str(), sizeof(other));
    RegSetValueExA(key, "ProgramFilesDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(other), lstrlenA(other) + 1);
    CreateDirectoryA(other, nullptr);
  }
  const std::string otherFolder = WithoutTrailingBackslash(other);
  ASSERT_NE(otherFolder, programFiles_);
  for (const std::string& root : {programFiles_, otherFolder}) {
    OwnedFolder folder(root + "\\" + UniqueStem("ZvWatch"));
    EXPECT_EQ(Receiver(folder.path(), ShellFoldersAppData()), "installed") << root;
  }
  if (planted) RegDeleteValueA(key, "ProgramFilesDir");
  RegCloseKey(key);
}

TEST_F(SettingsLocationTest, AModuleAnywhereElseReadsTheDataFolderBesideIt) {
  zv::test::ScratchDir elsewhere;
  EXPECT_EQ(Receiver(elsewhere.path(), ShellFoldersAppData()), "carried");
}

TEST_F(SettingsLocationTest, ASiblingWhoseNameBeginsLikeTheProgramFilesFolderIsNotUnderIt) {
  for (const std::string& value : {programFiles_, programFiles_ + "\\"}) {
    RegistryValueOverride programFilesDir(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir", value);
    OwnedFolder sibling(programFiles_ + " Extra\\" + UniqueStem("ZvWatch"));
    EXPECT_EQ(Receiver(sibling.path(), ShellFoldersAppData()), "carried") << value;
    OwnedFolder under(UnderProgramFiles());
    EXPECT_EQ(Receiver(under.path(), ShellFoldersAppData()), "installed") << value;
  }
  RemoveDirectoryA((programFiles_ + " Extra").c_str());
}

// The short form of a missing folder cannot be obtained; that must not put
// every module under the program-files folder.
TEST_F(SettingsLocationTest, AProgramFilesFolderWithoutShortFormPutsNoModuleUnderIt) {
  RegistryValueOverride programFilesDir(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir",
                                        "C:\\" + UniqueStem("NoProgramFiles"));
  zv::test::ScratchDir elsewhere;
  EXPECT_EQ(Receiver(elsewhere.path(), ShellFoldersAppData()), "carried");
}

TEST_F(SettingsLocationTest, ProgramFilesPathStandsInForAMissingProgramFilesDir) {
  zv::test::ScratchDir programFiles;
  RegistryValueOverride programFilesDir(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir", std::nullopt);
  RegistryValueOverride programFilesPath(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesPath", programFiles.path());
  EXPECT_EQ(Receiver(programFiles.File("X"), ShellFoldersAppData()), "installed");
}

TEST_F(SettingsLocationTest, WithoutAnyProgramFilesValueTheUsualFolderCounts) {
  RegistryValueOverride programFilesDir(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir", std::nullopt);
  RegistryValueOverride programFilesPath(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesPath", std::nullopt);
  OwnedFolder folder("C:\\Program Files\\" + UniqueStem("ZvWatch"));
  EXPECT_EQ(Receiver(folder.path(), ShellFoldersAppData()), "installed");
}

TEST_F(SettingsLocationTest, TheApplicationDataFolderComesFromShellFolders) {
  zv::test::ScratchDir appData;
  RegistryValueOverride shellFolders(HKEY_CURRENT_USER, kShellFolders, "AppData", appData.path());
  OwnedFolder folder(UnderProgramFiles());
  EXPECT_EQ(Receiver(folder.path(), appData.path()), "installed");
}

TEST_F(SettingsLocationTest, AShellFoldersValueNamingAMissingFolderYieldsToTheShell) {
  zv::test::ScratchDir parent;
  const std::string missing = parent.File("gone");
  RegistryValueOverride shellFolders(HKEY_CURRENT_USER, kShellFolders, "AppData", missing);
  OwnedFolder folder(UnderProgramFiles());
  EXPECT_EQ(Receiver(folder.path(), ""), "shell");
  EXPECT_FALSE(GetFileAttributesA(missing.c_str()) != INVALID_FILE_ATTRIBUTES) << "nothing is created";
}

}  // namespace
