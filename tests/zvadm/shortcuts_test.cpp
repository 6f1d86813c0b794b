// Kind 16 run by zvadm.exe: the shortcuts each profile gets (read back
// through the shell link object), their names from each user's language
// file, the desktop and Quick Launch rules, and the install log. The
// current user's shell folders are pointed into a scratch folder for the
// test, so that it is one more profile here.
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "com/com_ptr.h"
#include "user_profiles.h"

using namespace zv::test::adm;

namespace {

constexpr uint8_t kCreateUserShortcuts = 16;
constexpr char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr char kInstall[] = "C:\\Program%20Files\\Kestrix";  // as the installer writes it
constexpr char kInstallSpaced[] = "C:\\Program Files\\Kestrix\\";

struct Link {
  std::string path, arguments, workingFolder, description, iconPath;
  int icon = -1;
  bool operator==(const Link& o) const {
    return path == o.path && arguments == o.arguments && workingFolder == o.workingFolder &&
           description == o.description && iconPath == o.iconPath && icon == o.icon;
  }
};
void PrintTo(const Link& l, std::ostream* out) {
  *out << "{" << l.path << " | " << l.arguments << " | " << l.workingFolder << " | " << l.description << " | "
       << l.iconPath << "," << l.icon << "}";
}

// A saved link as the shell reads it; nullopt when it is no link.
std::optional<Link> ReadLink(const std::string& file) {
  CoInitialize(nullptr);
  std::optional<Link> result;
  {
    zv::com::ComPtr<IShellLinkA> link;
    zv::com::ComPtr<IPersistFile> persist;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.put_void())) &&
        SUCCEEDED(link.As(IID_IPersistFile, persist)) &&
        SUCCEEDED(persist->Load(std::wstring(file.begin(), file.end()).c_str(), STGM_READ))) {
      char text[4][MAX_PATH] = {};
      char icon[MAX_PATH] = {};
      Link read;
      link->GetPath(text[0], MAX_PATH, nullptr, SLGP_RAWPATH);
      link->GetArguments(text[1], MAX_PATH);
      link->GetWorkingDirectory(text[2], MAX_PATH);
      link->GetDescription(text[3], MAX_PATH);
      link->GetIconLocation(icon, MAX_PATH, &read.icon);
      read.path = text[0];
      read.arguments = text[1];
      read.workingFolder = text[2];
      read.description = text[3];
      read.iconPath = icon;
      result = read;
    }
  }
  CoUninitialize();
  return result;
}

// A language file whose "[strings]" section names everything after `tag`.
std::string LanguageFile(const std::string& tag, bool withStrings = true) {
  std::string text = "[Language]\r\nName=" + tag + "\r\n" + (withStrings ? "[strings]\r\n" : "");
  for (int i = 0; i < 300; ++i) {
    std::string line = "line " + std::to_string(i);
    if (i == 229) line = tag + " Zorvane Web";
    if (i == 230) line = tag + " Buy";
    if (i == 231) line = tag + " Support";
    if (i == 232) line = tag + " Uninstall Zorvane";
    if (i == 298) line = tag + " description of Zorvane";
    text += line + "\r\n";
  }
  return text;
}

struct Definition {
  std::string name, target, arguments;
  int icon;
};
std::vector<Definition> Definitions(const std::string& tag) {
  return {{"Kestrix", "kestrix.exe", "", 0},
          {"Quennet " + tag + " Kestrix Web", "WebSite.url", "", 0},
          {tag + " Buy", "BuyNow.url", "", 0},
          {tag + " Support", "Support.url", "", 0},
          {tag + " Uninstall Kestrix", "kestrix.exe", "/UnInstall", 2}};
}

Link ExpectedLink(const Definition& d, const std::string& description) {
  const std::string target = std::string(kInstallSpaced) + d.target;
  return {target, d.arguments, std::string(kInstall) + "\\", description, target, d.icon};
}

// The shell folders of one user: Programs, Desktop and AppData below `root`.
struct UserFolders {
  explicit UserFolders(const std::string& root)
      : programs(root + "Start Menu\\Programs"), desktop(root + "Desktop"), appData(root + "AppData") {
    for (const std::string* folder : {&programs, &desktop, &appData}) CreateFolders(*folder);
  }
  std::string QuickLaunch() const { return appData + "\\Microsoft\\Internet Explorer\\Quick Launch"; }
  HiveSeed Seed() const {
    return {{kShellFolders, "Programs", programs},
            {kShellFolders, "Desktop", desktop},
            {kShellFolders, "AppData", appData}};
  }
  std::string programs, desktop, appData;
};

// The current user's shell folder values, pointed elsewhere for the test.
class CurrentUserFolders {
 public:
  explicit CurrentUserFolders(const UserFolders& folders) {
    for (const char* name : {"Programs", "Desktop", "AppData"})
      saved_[name] = zv::test::GetRegText(HKEY_CURRENT_USER, kShellFolders, name);
    Set("Programs", folders.programs);
    Set("Desktop", folders.desktop);
    Set("AppData", folders.appData);
  }
  ~CurrentUserFolders() {
    for (const auto& [name, value] : saved_) {
      if (value)
        Set(name.c_str(), *value);
      else
        Remove(name.c_str());
    }
  }
  void Set(const char* name, const std::string& value) {
    zv::test::SetRegText(HKEY_CURRENT_USER, kShellFolders, name, value);
  }
  void Remove(const char* name) { zv::test::RemoveRegValue(HKEY_CURRENT_USER, kShellFolders, name); }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

std::string CommonPrograms() {
  char folder[MAX_PATH] = {};
  SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_PROGRAMS, FALSE);
  return folder;
}

std::vector<std::string> LogLines(const std::string& path) {
  std::vector<std::string> lines;
  const std::string text = ReadBytes(path).value_or("");
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end - start));
    start = end == std::string::npos ? text.size() : end + 2;
  }
  return lines;
}

class UserShortcuts : public testing::Test {
 protected:
  void SetUp() override {
    // Wine's shell points the current user's desktop back at the prefix's
    // own folder when it saves a link: a link an earlier case left there
    // would be refreshed (and logged) as this user's.
    char desktop[MAX_PATH] = {};
    if (SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE))
      DeleteFileA((std::string(desktop) + "\\Kestrix.lnk").c_str());
    for (const char* tag : {"de", "fr", "en"})
      WriteBytes(intl_.File("zv_" + std::string(tag) + ".int"), LanguageFile(tag));
    WriteBytes(intl_.File("bare.int"), LanguageFile("bare", false));
  }
  void TearDown() override {
    zv::test::RemoveTree(CommonPrograms() + "\\" + group_);
    zv::test::DeleteKeyTree(HKEY_LOCAL_MACHINE, kSettingsKey);
  }
  std::string Setup(int deskTop, int quickLaunch, const std::string& group) const {
    return "InstPath=" + std::string(kInstall) + "\r\nAppGroup=" + group + "\r\nIntlFolder=" + intl_.path() +
           "\r\nTempFolder=zvtemp\r\nAlgPath=" + Log() + "\r\nDeskTop=" + std::to_string(deskTop) +
           "\r\nQuickLaunch=" + std::to_string(quickLaunch) + "\r\n";
  }
  std::string Log() const { return scratch_.File("Install.alg"); }

  const std::string group_ = "Quennet Kestrix " + std::to_string(GetCurrentProcessId());
  zv::test::ScratchDir intl_, scratch_;
  zv::test::ManagerRegistry settings_;
};

TEST_F(UserShortcuts, EveryProfileGetsTheShortcutsInItsUsersLanguage) {
  TestProfiles profiles;
  std::map<std::string, std::pair<UserFolders, std::string>> users;  // hive name -> folders, language
  for (const char* language : {"de", "fr"}) {
    const std::string name = profiles.UniqueName();
    UserFolders folders(profiles.Folder(name));
    HiveSeed seed = folders.Seed();
    seed.push_back({kSettingsKey, "CurrentLanguage", "zv_" + std::string(language) + ".int"});
    profiles.Add(seed, name);
    users.emplace(name, std::make_pair(folders, language));
  }
  // A missing file of the user's choice: the machine's, which is missing
  // too, so English.
  zv::test::SetRegText(HKEY_LOCAL_MACHINE, kSettingsKey, "CurrentLanguage", "zv_xx.int");
  zv::test::ScratchDir current;
  const UserFolders currentFolders(current.path() + "\\");
  CurrentUserFolders redirect(currentFolders);
  settings_.Set("CurrentLanguage", "zv_fr.int");
  // The default user's shell folders lie in its own profile.
  const UserFolders defaultFolders(profiles.PlannedDefaultUserFolder());
  HiveSeed defaultSeed = defaultFolders.Seed();
  defaultSeed.push_back({kSettingsKey, "CurrentLanguage", "zv_missing.int"});
  profiles.AddDefaultUser(defaultSeed);

  // Wine's shell rewrites the current user's recorded desktop folder when it
  // saves a link, so no desktop links here (the rules have a test of
  // their own).
  const auto outcome = RunJobs({MakeJob(kCreateUserShortcuts, Setup(0, 1, group_))});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);

  // Walk order: the list's entries last first (the current user is one of
  // them), then the default user.
  std::vector<std::pair<const UserFolders*, std::string>> walk;
  std::vector<std::string> order = profiles.EnumerationOrder(true);
  std::reverse(order.begin(), order.end());
  for (const std::string& name : order) {
    if (users.count(name))
      walk.emplace_back(&users.at(name).first, users.at(name).second);
    else if (name.size() > 8 && HiveLoaded(name))
      walk.emplace_back(&currentFolders, "fr");
  }
  walk.emplace_back(&defaultFolders, "en");
  ASSERT_EQ(walk.size(), 4u);

  std::vector<std::string> expectedLog;
  for (const auto& [folders, language] : walk) {
    SCOPED_TRACE(folders->programs);
    const std::string description = language + " description of Kestrix";
    const std::string groupFolder = folders->programs + "\\" + group_ + "\\";
    for (const Definition& d : Definitions(language)) {
      const std::string link = groupFolder + d.name + ".lnk";
      EXPECT_EQ(ReadLink(link), ExpectedLink(d, description)) << link;
      if (d.name == "Kestrix") {
        EXPECT_EQ(ReadLink(folders->QuickLaunch() + "\\Kestrix.lnk"), ExpectedLink(d, description));
        EXPECT_FALSE(Exists(folders->desktop + "\\Kestrix.lnk"));
        expectedLog.push_back(folders->QuickLaunch() + "\\Kestrix.lnk");
      }
      expectedLog.push_back(link);
      if (d.name == "Kestrix") expectedLog.push_back(groupFolder);
    }
  }
  EXPECT_EQ(LogLines(Log()), expectedLog);
}

struct ExtraRule {
  const char* label;
  int deskTop, quickLaunch;
  bool desktopLinkBefore, quickLinkBefore, desktopFolderKnown;
  bool desktopLink, quickLink;  // expected
};
void PrintTo(const ExtraRule& rule, std::ostream* out) { *out << rule.label; }

class DesktopAndQuickLaunch : public UserShortcuts, public testing::WithParamInterface<ExtraRule> {};

TEST_P(DesktopAndQuickLaunch, LinksAreAddedWhenAskedAndRefreshedWhenPresent) {
  const ExtraRule& rule = GetParam();
  zv::test::ScratchDir root;
  const UserFolders folders(root.path() + "\\");
  CurrentUserFolders redirect(folders);
  if (!rule.desktopFolderKnown) redirect.Remove("Desktop");
  CreateFolders(folders.QuickLaunch());
  if (rule.desktopLinkBefore) WriteBytes(folders.desktop + "\\Kestrix.lnk", "stale");
  if (rule.quickLinkBefore) WriteBytes(folders.QuickLaunch() + "\\Kestrix.lnk", "stale");
  settings_.Set("CurrentLanguage", "zv_de.int");

  const auto outcome = RunJobs({MakeJob(kCreateUserShortcuts, Setup(rule.deskTop, rule.quickLaunch, group_))});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  const Link expected = ExpectedLink(Definitions("de")[0], "de description of Kestrix");
  EXPECT_EQ(ReadLink(folders.desktop + "\\Kestrix.lnk") == expected, rule.desktopLink);
  EXPECT_EQ(ReadLink(folders.QuickLaunch() + "\\Kestrix.lnk") == expected, rule.quickLink);
  EXPECT_FALSE(Exists("\\Kestrix.lnk"));  // where an unknown desktop would have put it

  std::vector<std::string> expectedLog;
  if (rule.desktopLink) expectedLog.push_back(folders.desktop + "\\Kestrix.lnk");
  if (rule.quickLink) expectedLog.push_back(folders.QuickLaunch() + "\\Kestrix.lnk");
  const std::string groupFolder = folders.programs + "\\" + group_ + "\\";
  for (const Definition& d : Definitions("de")) {
    expectedLog.push_back(groupFolder + d.name + ".lnk");
    if (d.name == "Kestrix") expectedLog.push_back(groupFolder);
  }
  EXPECT_EQ(LogLines(Log()), expectedLog);
}

INSTANTIATE_TEST_SUITE_P(Rules, DesktopAndQuickLaunch,
                         testing::Values(ExtraRule{"NeitherAsked", 0, 0, false, false, true, false, false},
                                         ExtraRule{"DesktopAsked", 1, 0, false, false, true, true, false},
                                         ExtraRule{"QuickLaunchAsked", 0, 1, false, false, true, false, true},
                                         ExtraRule{"DesktopLinkRefreshed", 0, 0, true, false, true, true, false},
                                         ExtraRule{"QuickLaunchLinkRefreshed", 0, 0, false, true, true, false, true},
                                         ExtraRule{"BothAsked", 1, 1, true, false, true, true, true},
                                         ExtraRule{"DesktopFolderUnknown", 1, 0, false, false, false, false, false}),
                         [](const testing::TestParamInfo<ExtraRule>& info) { return std::string(info.param.label); });

TEST_F(UserShortcuts, TheOldGroupIsClearedAndItsLogEntriesDropped) {
  zv::test::ScratchDir root;
  const UserFolders folders(root.path() + "\\");
  CurrentUserFolders redirect(folders);
  settings_.Set("CurrentLanguage", "zv_de.int");
  const std::string common = CommonPrograms() + "\\" + group_;
  const std::string own = folders.programs + "\\" + group_;
  CreateFolders(common);
  CreateFolders(own);
  WriteBytes(common + "\\Stale.lnk", "old");
  WriteBytes(own + "\\Old name.lnk", "old");
  // Only links of the group go: a user's notes and subfolders stay.
  WriteBytes(own + "\\notes.txt", "the user's");
  CreateFolders(own + "\\Extras");
  WriteBytes(own + "\\Extras\\Tool.lnk", "the user's");
  // Entries under either group go, whatever their case; the rest stays.
  std::string upperOwn = own;
  std::transform(upperOwn.begin(), upperOwn.end(), upperOwn.begin(),
                 [](char c) { return static_cast<char>(toupper(c)); });
  WriteBytes(Log(), "C:\\Kestrix\\kestrix.exe\r\n" + common + "\\Stale.lnk\r\n" + upperOwn + "\\OLD NAME.LNK\r\n" +
                        upperOwn + "\\\r\nC:\\Kestrix\\DATA\\\r\n");

  const auto outcome = RunJobs({MakeJob(kCreateUserShortcuts, Setup(0, 0, group_))});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_FALSE(Exists(common + "\\Stale.lnk"));
  EXPECT_FALSE(Exists(own + "\\Old name.lnk"));
  EXPECT_EQ(ReadBytes(own + "\\notes.txt"), "the user's");
  EXPECT_EQ(ReadBytes(own + "\\Extras\\Tool.lnk"), "the user's");
  std::vector<std::string> expectedLog = {"C:\\Kestrix\\kestrix.exe", "C:\\Kestrix\\DATA\\"};
  for (const Definition& d : Definitions("de")) {
    expectedLog.push_back(own + "\\" + d.name + ".lnk");
    if (d.name == "Kestrix") expectedLog.push_back(own + "\\");
  }
  EXPECT_EQ(LogLines(Log()), expectedLog);
}

TEST_F(UserShortcuts, WithoutAGroupNameNothingIsClearedAndTheLinksGoIntoThePrograms) {
  zv::test::ScratchDir root;
  const UserFolders folders(root.path() + "\\");
  CurrentUserFolders redirect(folders);
  settings_.Set("CurrentLanguage", "zv_de.int");
  WriteBytes(folders.programs + "\\Other program.lnk", "someone else's");
  CreateFolders(folders.programs + "\\Other group");
  WriteBytes(folders.programs + "\\Other group\\Tool.lnk", "someone else's");
  const std::string commonFile = CommonPrograms() + "\\ZvTest-" + std::to_string(GetCurrentProcessId()) + ".lnk";
  WriteBytes(commonFile, "everybody's");

  const auto outcome = RunJobs({MakeJob(kCreateUserShortcuts, Setup(0, 0, ""))});
  const bool commonKept = Exists(commonFile);
  DeleteFileA(commonFile.c_str());
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_TRUE(commonKept);
  EXPECT_EQ(ReadBytes(folders.programs + "\\Other program.lnk"), "someone else's");
  EXPECT_EQ(ReadBytes(folders.programs + "\\Other group\\Tool.lnk"), "someone else's");
  for (const Definition& d : Definitions("de"))
    EXPECT_TRUE(ReadLink(folders.programs + "\\" + d.name + ".lnk")) << d.name;
}

TEST_F(UserShortcuts, ALanguageFileWithoutStringsGivesEmptyNames) {
  zv::test::ScratchDir root;
  const UserFolders folders(root.path() + "\\");
  CurrentUserFolders redirect(folders);
  settings_.Set("CurrentLanguage", "bare.int");

  const auto outcome = RunJobs({MakeJob(kCreateUserShortcuts, Setup(0, 0, group_))});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  const std::string own = folders.programs + "\\" + group_ + "\\";
  EXPECT_EQ(ReadLink(own + "Kestrix.lnk"), ExpectedLink({"Kestrix", "kestrix.exe", "", 0}, ""));
  EXPECT_TRUE(ReadLink(own + "Quennet .lnk"));
  // The three nameless links share one file; the last is the uninstaller.
  EXPECT_EQ(ReadLink(own + ".lnk"), ExpectedLink({"", "kestrix.exe", "/UnInstall", 2}, ""));
  EXPECT_EQ(LogLines(Log()), (std::vector<std::string>{own + "Kestrix.lnk", own, own + "Quennet .lnk", own + ".lnk",
                                                       own + ".lnk", own + ".lnk"}));
}

// A user's own hive naming places outside the user's profile, or a language
// file whose names would add targets: what a standard user may try on the
// elevated helper. Placeholders: <profile> and <outside>.
struct HostileUserData {
  const char* label;
  std::string programs, desktop, appData;
  std::string language = "zv_de.int";
};
void PrintTo(const HostileUserData& c, std::ostream* out) { *out << c.label; }

// Every file below `root` with its content, for comparing a tree before
// and after.
std::vector<std::string> FilesBelow(const std::string& root) {
  std::vector<std::string> files, folders = {root};
  while (!folders.empty()) {
    const std::string folder = folders.back();
    folders.pop_back();
    for (const WIN32_FIND_DATAA& found : zv::test::EntriesMatching(folder + "\\*")) {
      const std::string name = found.cFileName;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        folders.push_back(folder + "\\" + name);
      else
        files.push_back(folder + "\\" + name + " = " + ReadBytes(folder + "\\" + name).value_or("?"));
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

class HostileShortcutData : public UserShortcuts, public testing::WithParamInterface<HostileUserData> {
 protected:
  void TearDown() override {
    char own[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, own, CSIDL_PROGRAMS, FALSE);
    zv::test::RemoveTree(std::string(own) + "\\" + group_);
    UserShortcuts::TearDown();
  }
};

TEST_P(HostileShortcutData, NothingIsWrittenOrDeletedOutsideTheProfile) {
  const HostileUserData& c = GetParam();
  zv::test::ScratchDir outsideRoot, currentRoot;
  const std::string outside = outsideRoot.path();
  const UserFolders outsideFolders(outside + "\\");
  // Somebody else's group of the same name, and a link of somebody else's.
  CreateFolders(outsideFolders.programs + "\\" + group_);
  WriteBytes(outsideFolders.programs + "\\" + group_ + "\\planted.lnk", "someone else's");
  WriteBytes(outsideFolders.programs + "\\" + group_ + "\\notes.txt", "someone else's");
  // Links a desktop or Quick Launch rule would refresh there.
  WriteBytes(outsideFolders.desktop + "\\Kestrix.lnk", "someone else's");
  CreateFolders(outsideFolders.QuickLaunch());
  WriteBytes(outsideFolders.QuickLaunch() + "\\Kestrix.lnk", "someone else's");
  WriteBytes(intl_.File("evil.int"), LanguageFile("x,..\\..\\Startup\\evil.exe,0,Desktop"));
  WriteBytes(outside + "\\evil.int", LanguageFile("y,cmd.exe /c,0,Desktop"));
  zv::test::WriteSizedFile(intl_.File("huge.int"), 3LL << 30);
  const auto before = FilesBelow(outside);

  TestProfiles profiles;
  const std::string name = profiles.UniqueName();
  const std::string profile = profiles.Folder(name);
  const auto fill = [&](std::string text) {
    for (const auto& [mark, value] :
         {std::pair<std::string, std::string>{"<profile>", profile}, {"<outside>", outside + "\\"}})
      for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark))
        text.replace(at, mark.size(), value);
    return text;
  };
  CreateFolders(profile + "Start Menu\\Programs");
  profiles.Add({{kShellFolders, "Programs", fill(c.programs)},
                {kShellFolders, "Desktop", fill(c.desktop)},
                {kShellFolders, "AppData", fill(c.appData)},
                {kSettingsKey, "CurrentLanguage", fill(c.language)}},
               name);
  zv::test::SetRegText(HKEY_LOCAL_MACHINE, kSettingsKey, "CurrentLanguage", "zv_en.int");
  const UserFolders currentFolders(currentRoot.path() + "\\");
  CurrentUserFolders redirect(currentFolders);
  settings_.Set("CurrentLanguage", "zv_de.int");

  // Wine's shell points the current user's desktop back at its own folder
  // when it saves a link, so desktop links are only refreshed here, never
  // added.
  const auto outcome = RunJobs({MakeJob(kCreateUserShortcuts, Setup(0, 1, group_))});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(FilesBelow(outside), before);
  EXPECT_FALSE(HiveLoaded(name));
  // Every link made anywhere has one of the program's own targets.
  const auto log = LogLines(Log());
  EXPECT_FALSE(log.empty());
  for (const std::string& line : log) {
    EXPECT_EQ(line.find(outside), std::string::npos) << line;
    if (line.back() == '\\') continue;
    const auto link = ReadLink(line);
    ASSERT_TRUE(link) << line;
    ASSERT_EQ(link->path.rfind(kInstallSpaced, 0), 0u) << line << " -> " << link->path;
    const std::string target = link->path.substr(std::string(kInstallSpaced).size());
    EXPECT_TRUE(target == "kestrix.exe" || target == "WebSite.url" || target == "BuyNow.url" || target == "Support.url")
        << line << " -> " << link->path;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Attempts, HostileShortcutData,
    testing::Values(HostileUserData{"FoldersOfAnotherPlace", "<outside>Start Menu\\Programs", "<outside>Desktop",
                                    "<outside>AppData"},
                    HostileUserData{"RelativeNames", "Start Menu\\Programs", "Desktop", "AppData"},
                    HostileUserData{"DriveRelativeAndRooted", "C:Start Menu", "\\Desktop", "C:AppData"},
                    HostileUserData{"NetworkAndDeviceNames", "\\\\zvnohost\\share\\Programs", "\\\\?\\<outside>Desktop",
                                    "\\\\.\\<outside>AppData"},
                    HostileUserData{"ClimbingOutOfTheProfile", "<profile>..\\..\\..\\Programs",
                                    "<profile>Desktop\\..\\..\\..", "<profile>x\\..\\..\\AppData"},
                    HostileUserData{"LanguageFileOutsideTheLanguageFolder", "<profile>Start Menu\\Programs",
                                    "<profile>Desktop", "<profile>AppData",
                                    "..\\..\\..\\..\\..\\..\\<outside>evil.int"},
                    HostileUserData{"LanguageFileByFullPath", "<profile>Start Menu\\Programs", "<profile>Desktop",
                                    "<profile>AppData", "<outside>evil.int"},
                    HostileUserData{"LanguageNamesWithTargets", "<profile>Start Menu\\Programs", "<profile>Desktop",
                                    "<profile>AppData", "evil.int"},
                    HostileUserData{"LanguageFileOfThreeGigabytes", "<profile>Start Menu\\Programs",
                                    "<profile>Desktop", "<profile>AppData", "huge.int"},
                    HostileUserData{"DesktopFortyThousandLevelsDeep", "<profile>Start Menu\\Programs",
                                    "<profile>" +
                                        [] {
                                          std::string deep;
                                          for (int i = 0; i < 40000; ++i) deep += "a\\";
                                          return deep;
                                        }(),
                                    "<profile>AppData"}),
    [](const testing::TestParamInfo<HostileUserData>& info) { return std::string(info.param.label); });

}  // namespace
