// Kinds 6, 7 and 22 run by zvadm.exe over profiles that the tests make:
// which users the walk reaches and in which order (seen in the install log
// that kind 6 merges), and what each job leaves in the hives and folders.
// Wine does not write a hive back to its file when it is unloaded, so
// registry effects are checked in hives the test loads beforehand (users
// who are logged on) and file effects for the hives the helper loads.
#include <gtest/gtest.h>

#include <algorithm>

#include "UserHives.h"
#include "user_profiles.h"

using namespace zv::test::adm;

namespace {

constexpr uint8_t kRemoveUserIntegration = 6;
constexpr uint8_t kRemoveUserData = 7;
constexpr uint8_t kWriteUserValue = 22;

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

class UserHiveJobs : public testing::Test {
 protected:
  // The portable edition's install folder, holding the main install log.
  zv::test::ScratchDir install_;
  InstallFolderEntry entry_{install_.path() + "\\"};
  zv::test::ManagerRegistry currentUser_;  // the current user is walked too
  TestProfiles profiles_;

  std::string MainLog() const { return install_.File("Install.alg"); }
  std::string DataFolder(const std::string& name) const { return profiles_.Folder(name) + "Data\\"; }
  // A user's own log names places in the user's own profile.
  std::vector<std::string> LogOf(const std::string& name) const {
    return {profiles_.Folder(name) + "Desktop\\shortcut.lnk", profiles_.Folder(name) + "group\\"};
  }

  // A profile whose data folder holds its own install log; `seed` is added
  // to the hive.
  std::string AddUser(HiveSeed seed = {}, std::string name = {}) {
    if (name.empty()) name = profiles_.UniqueName();
    CreateFolders(DataFolder(name));
    WriteBytes(DataFolder(name) + "Install.alg", Lines(LogOf(name)));
    seed.push_back({kSettingsKey, "AppDataPath", DataFolder(name)});
    return profiles_.Add(seed, name);
  }
};

TEST_F(UserHiveJobs, TheWalkVisitsProfilesInReverseListOrderThenTheDefaultUser) {
  const std::string first = AddUser(), second = AddUser(), third = AddUser();
  const std::string loggedOn = AddUser();
  profiles_.LogOn(loggedOn);
  const std::string service = AddUser({}, "S-1-5-97");  // 8 characters: a built-in account
  const std::string noHive = profiles_.Add({}, "", "");
  const std::string defaultData = profiles_.PlannedDefaultUserFolder() + "Data";
  CreateFolders(defaultData);
  WriteBytes(defaultData + "\\Install.alg", defaultData + "\\default user.lnk\r\n");
  profiles_.AddDefaultUser({{kSettingsKey, "AppDataPath", defaultData}});
  WriteBytes(MainLog(), "main 1\r\nmain 2");

  const auto outcome = RunJobs({MakeJob(kRemoveUserIntegration)});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  EXPECT_EQ(outcome.jobs[0].result, 0);
  EXPECT_EQ(outcome.exitCode, 0u);

  std::vector<std::string> expected = {"main 1", "main 2"};
  std::vector<std::string> order = profiles_.EnumerationOrder();
  std::reverse(order.begin(), order.end());
  for (const std::string& name : order) {
    if (name == service || name == noHive) continue;
    const auto lines = LogOf(name);
    expected.insert(expected.end(), lines.begin(), lines.end());
    EXPECT_FALSE(Exists(DataFolder(name) + "Install.alg")) << name;
  }
  expected.push_back(defaultData + "\\default user.lnk");
  EXPECT_EQ(ReadBytes(MainLog()), Lines(expected));
  EXPECT_TRUE(Exists(DataFolder(service) + "Install.alg"));

  // Loaded for the walk and unloaded after it; the logged-on user's stays.
  for (const std::string& name : {first, second, third, service, noHive}) EXPECT_FALSE(HiveLoaded(name)) << name;
  EXPECT_FALSE(HiveLoaded(kDefaultUserHive));
  EXPECT_TRUE(HiveLoaded(loggedOn));
}

struct IntegrationEntry {
  std::string key;
  std::string name;
  std::string text;  // "<X>" stands for the install folder followed by "Add_"
  bool kept;
};

TEST_F(UserHiveJobs, RemoveUserIntegrationTakesOnlyTheCatchersEntries) {
  const std::string protocols = "Software\\Netscape\\Netscape Navigator\\Automation Protocols";
  const std::string menuExt = "Software\\Microsoft\\Internet Explorer\\MenuExt\\";
  const std::string netCaptor = "SOFTWARE\\Stilesoft\\NetCaptor\\CurrentVersion\\Browser Helper Objects\\";
  const std::string menuOrder =
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\";
  const std::vector<IntegrationEntry> entries = {
      {protocols, "http", "Zorvex.NNCatcher.1", false},
      {protocols, "https", "zorvex.nncatcher.1", true},  // compared with case
      {protocols, "ftp", "Zorvex.NNCatcher.1", false},
      {protocols, "gopher", "Zorvex.NNCatcher.1", true},
      {protocols, "news", "Other.Catcher", true},
      // Two neighbours go: the enumeration must not skip the second.
      {menuExt + "&Download all with Zorvane", "", "<X>all.htm", false},
      {menuExt + "&Download with Zorvane", "", "<X>url.htm", false},
      {menuExt + "Longer name", "", "<X>urls.htm", true},
      {menuExt + "Other program", "", "C:\\Other\\Add_url.htm", true},
      {menuExt + "Upper case", "", "<UPPER X>url.htm", true},
      {netCaptor + "{B930BA63-9E5A-11D3-A288-0000E80E2EDE}\\Settings", "Flag", "1", false},
      {netCaptor + "{00000000-1111-2222-3333-444444444444}", "", "another helper", true},
      {menuOrder + "Quennet Zorvane\\Sub", "Order", "x", false},
      {menuOrder + "Other Group", "Order", "y", true},
  };
  const std::string ours = install_.path() + "\\Add_";
  std::string upper = ours;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return static_cast<char>(toupper(c)); });
  ASSERT_NE(upper, ours);
  const auto text = [&](std::string value) {
    if (value.rfind("<X>", 0) == 0) return ours + value.substr(3);
    if (value.rfind("<UPPER X>", 0) == 0) return upper + value.substr(9);
    return value;
  };
  HiveSeed seed;
  for (const IntegrationEntry& entry : entries) seed.push_back({entry.key, entry.name, text(entry.text)});
  const std::string user = AddUser(seed);
  profiles_.LogOn(user);
  WriteBytes(MainLog(), "");

  const auto outcome = RunJobs({MakeJob(kRemoveUserIntegration)});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  for (const IntegrationEntry& entry : entries) {
    const auto value = QueryValue(HKEY_USERS, user + "\\" + entry.key, entry.name);
    EXPECT_EQ(value.has_value(), entry.kept) << entry.key << " " << entry.name;
  }
  EXPECT_FALSE(KeyExists(HKEY_USERS, user + "\\" + menuOrder + "Quennet Zorvane"));
  EXPECT_TRUE(KeyExists(HKEY_USERS, user + "\\" + netCaptor));
  EXPECT_EQ(ReadBytes(MainLog()), Lines(LogOf(user)));
}

TEST_F(UserHiveJobs, WithoutAReadableMainLogNothingChanges) {
  const std::string protocols = "Software\\Netscape\\Netscape Navigator\\Automation Protocols";
  const std::string user = AddUser({{protocols, "http", "Zorvex.NNCatcher.1"}});
  profiles_.LogOn(user);

  auto outcome = RunJobs({MakeJob(kRemoveUserIntegration)});  // no main log
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_FALSE(Exists(MainLog()));

  WriteBytes(MainLog(), "main\r\n");
  HeldFile locked(MainLog(), 0);
  ASSERT_TRUE(locked.held());
  outcome = RunJobs({MakeJob(kRemoveUserIntegration)});
  locked.Release();
  EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  EXPECT_TRUE(QueryValue(HKEY_USERS, user + "\\" + protocols, "http"));
  EXPECT_TRUE(Exists(DataFolder(user) + "Install.alg"));
  EXPECT_EQ(ReadBytes(MainLog()), "main\r\n");
}

constexpr const char* kDataFiles[] = {"zorvex.$$$", "history.bak", "zorvex.dat", "category.dat", "history.dat"};

TEST_F(UserHiveJobs, RemoveUserDataTakesTheSettingsAndTheDataFiles) {
  // Another product of the vendor keeps the vendor's key.
  const std::string sharing = AddUser({{std::string(kSettingsKey) + "\\Options", "Last", "x"},
                                       {kSettingsKey, "CurrentLanguage", "zv_de.int"},
                                       {"SOFTWARE\\Quennet\\Other", "V", "y"}});
  const std::string alone = profiles_.UniqueName();
  const std::string aloneData = profiles_.Folder(alone) + "Kestrix\\Data\\";
  profiles_.Add({{kSettingsKey, "AppDataPath", aloneData}, {"SOFTWARE\\Else", "V", "z"}}, alone);
  const std::string notLoggedOn = AddUser();
  DeleteFileA((DataFolder(notLoggedOn) + "Install.alg").c_str());
  profiles_.LogOn(sharing);
  profiles_.LogOn(alone);
  CreateFolders(aloneData);
  for (const std::string& folder : {DataFolder(sharing), aloneData, DataFolder(notLoggedOn)})
    for (const char* file : kDataFiles) WriteBytes(folder + file, "data");
  WriteBytes(DataFolder(sharing) + "keep.txt", "not ours");

  const auto outcome = RunJobs({MakeJob(kRemoveUserData, "", "", 0)});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);

  EXPECT_FALSE(KeyExists(HKEY_USERS, sharing + "\\" + kSettingsKey));
  EXPECT_TRUE(QueryValue(HKEY_USERS, sharing + "\\SOFTWARE\\Quennet\\Other", "V"));
  EXPECT_FALSE(KeyExists(HKEY_USERS, alone + "\\SOFTWARE\\Quennet"));
  EXPECT_TRUE(QueryValue(HKEY_USERS, alone + "\\SOFTWARE\\Else", "V"));
  for (const std::string& folder : {DataFolder(sharing), aloneData, DataFolder(notLoggedOn)})
    for (const char* file : kDataFiles) EXPECT_FALSE(Exists(folder + file)) << folder << file;
  // Folders go when empty: the data folder and its parent.
  EXPECT_TRUE(Exists(DataFolder(sharing) + "keep.txt"));
  EXPECT_FALSE(Exists(aloneData));
  EXPECT_FALSE(Exists(profiles_.Folder(alone) + "Kestrix"));
  EXPECT_FALSE(Exists(DataFolder(notLoggedOn)));
  EXPECT_TRUE(Exists(profiles_.Folder(notLoggedOn)));
}

TEST_F(UserHiveJobs, WriteUserValueWritesInEveryHive) {
  const std::string withKey = AddUser({{kSettingsKey, "ZVCaption", "kept"}});
  const std::string withoutKey = profiles_.Add({{"SOFTWARE\\Else", "V", "z"}});
  profiles_.LogOn(withKey);
  profiles_.LogOn(withoutKey);

  const auto outcome =
      RunJobs({MakeJob(kWriteUserValue, "Options\\Last", "C:\\Downloads"), MakeJob(kWriteUserValue, "Plain", "value")});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  for (const auto& job : outcome.jobs) EXPECT_EQ(job.result, 0);
  EXPECT_EQ(outcome.exitCode, 0u);
  for (const std::string& root : {"HKU\\" + withKey, "HKU\\" + withoutKey, std::string("HKCU")}) {
    const HKEY base = root == "HKCU" ? HKEY_CURRENT_USER : HKEY_USERS;
    const std::string key = root == "HKCU" ? std::string(kSettingsKey) : root.substr(4) + "\\" + kSettingsKey;
    EXPECT_EQ(QueryValue(base, key + "\\Options", "Last"), (RegValue{REG_SZ, "C:\\Downloads"})) << root;
    EXPECT_EQ(QueryValue(base, key, "Plain"), (RegValue{REG_SZ, "value"})) << root;
  }
  EXPECT_TRUE(QueryValue(HKEY_USERS, withKey + "\\" + kSettingsKey, "ZVCaption"));
}

// Files a user's hive names outside the user's profile, or that lead
// there: a user's "AppDataPath" pointing at another place, a log naming
// other users' files, a log that is a second name of another file, and one
// too large to read. What lies outside stays, and only the user's own lines
// reach the main log that a later elevated uninstall trusts.
TEST_F(UserHiveJobs, OnlyWhatAUsersOwnProfileHoldsIsReadOrRemoved) {
  zv::test::ScratchDir outside;
  WriteBytes(outside.File("Install.alg"), "C:\\Windows\\System32\\\r\n");
  for (const char* file : kDataFiles) WriteBytes(outside.File(file), "another user's data");
  const std::string elsewhere = profiles_.Add({{kSettingsKey, "AppDataPath", outside.path()}});

  const std::string mixed = AddUser();
  const std::string other = profiles_.Folder(elsewhere) + "Desktop\\shortcut.lnk";
  WriteBytes(DataFolder(mixed) + "Install.alg", profiles_.Folder(mixed) + "own.lnk\r\n" + other +
                                                    "\r\nC:\\Windows\\System32\\\r\n" + profiles_.Folder(mixed) +
                                                    "..\\..\\escape.lnk\r\nHKCU\\Software\\Quennet\r\n");

  const std::string linked = AddUser();
  DeleteFileA((DataFolder(linked) + "Install.alg").c_str());
  ASSERT_TRUE(
      CreateHardLinkA((DataFolder(linked) + "Install.alg").c_str(), outside.File("Install.alg").c_str(), nullptr));

  const std::string huge = AddUser();
  zv::test::WriteSizedFile(DataFolder(huge) + "Install.alg", 3LL << 30);
  WriteBytes(MainLog(), "main\r\n");

  const auto outcome = RunJobs({MakeJob(kRemoveUserIntegration), MakeJob(kRemoveUserData)});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(ReadBytes(MainLog()), "main\r\n" + profiles_.Folder(mixed) + "own.lnk\r\nHKCU\\Software\\Quennet\r\n");
  EXPECT_EQ(ReadBytes(outside.File("Install.alg")), "C:\\Windows\\System32\\\r\n");
  for (const char* file : kDataFiles) EXPECT_TRUE(Exists(outside.File(file))) << file;
  EXPECT_TRUE(Exists(DataFolder(huge) + "Install.alg"));
  for (const std::string& name : {elsewhere, mixed, linked, huge}) EXPECT_FALSE(HiveLoaded(name)) << name;
}

// Vista and later record the default user's profile as "Default" in the
// list, with no "DefaultUserProfile": the walk finds it there.
TEST_F(UserHiveJobs, TheDefaultUserIsFoundWhereTheListRecordsIt) {
  constexpr char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
  ASSERT_FALSE(zv::test::GetRegText(HKEY_LOCAL_MACHINE, kProfileList, "DefaultUserProfile"));
  ASSERT_FALSE(zv::test::GetRegText(HKEY_LOCAL_MACHINE, kProfileList, "Default"));
  zv::test::ScratchDir folder;
  const std::string data = folder.File("Data");
  CreateFolders(data);
  WriteBytes(data + "\\Install.alg", data + "\\default.lnk\r\n");
  WriteHiveFile(folder.File("NTUser.dat"), {{kSettingsKey, "AppDataPath", data}});
  zv::test::SetRegText(HKEY_LOCAL_MACHINE, kProfileList, "Default", folder.path());
  WriteBytes(MainLog(), "main\r\n");
  const auto outcome = RunJobs({MakeJob(kRemoveUserIntegration)});
  zv::test::RemoveRegValue(HKEY_LOCAL_MACHINE, kProfileList, "Default");
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(ReadBytes(MainLog()), "main\r\n" + data + "\\default.lnk\r\n");
  EXPECT_FALSE(HiveLoaded(kDefaultUserHive));
}


// A user can make any key of the hive a link into the machine's keys (or
// another user's): the per-user jobs neither write through one nor delete
// what it leads to.
TEST_F(UserHiveJobs, KeysThatLinkElsewhereAreNeitherFollowedNorDeletedThrough) {
  TestKey settingsTarget(HKEY_LOCAL_MACHINE), optionsTarget(HKEY_LOCAL_MACHINE), menuTarget(HKEY_LOCAL_MACHINE);
  // What the clean-up would take from a menu list of the user's own.
  const std::string ourMenuEntry = menuTarget.path() + "\\&Download with Zorvane";
  SetRegText(HKEY_LOCAL_MACHINE, ourMenuEntry, "", install_.path() + "\\Add_url.htm");
  for (const TestKey* target : {&settingsTarget, &optionsTarget}) {
    SetRegText(HKEY_LOCAL_MACHINE, target->path(), "Kept", "machine");
    SetRegText(HKEY_LOCAL_MACHINE, target->path() + "\\Sub", "Kept", "machine");
  }
  const std::string settingsLinked = profiles_.Add({{"SOFTWARE\\Quennet", "", "", true}});
  const std::string optionsLinked = profiles_.Add({{kSettingsKey, "ZVCaption", "x"}});
  const std::string menuLinked = profiles_.Add({{kSettingsKey, "ZVCaption", "y"}});
  profiles_.LogOn(settingsLinked);
  profiles_.LogOn(optionsLinked);
  profiles_.LogOn(menuLinked);
  PutLink(HKEY_USERS, menuLinked + "\\Software\\Microsoft\\Internet Explorer\\MenuExt", menuTarget.path());
  WriteBytes(MainLog(), "");  // without it the integration clean-up has nothing to do
  PutLink(HKEY_USERS, settingsLinked + "\\" + kSettingsKey, settingsTarget.path());
  PutLink(HKEY_USERS, optionsLinked + "\\" + kSettingsKey + "\\Options", optionsTarget.path());
  // The links lead where they say.
  ASSERT_TRUE(QueryValue(HKEY_USERS, settingsLinked + "\\" + kSettingsKey, "Kept"));
  ASSERT_TRUE(QueryValue(HKEY_USERS, optionsLinked + "\\" + kSettingsKey + "\\Options", "Kept"));

  const auto outcome =
      RunJobs({MakeJob(kWriteUserValue, "Options\\Last", "written"), MakeJob(kWriteUserValue, "Plain", "written"),
               MakeJob(kRemoveUserIntegration), MakeJob(kRemoveUserData)});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  for (const TestKey* target : {&settingsTarget, &optionsTarget}) {
    EXPECT_TRUE(QueryValue(HKEY_LOCAL_MACHINE, target->path(), "Kept")) << target->path();
    EXPECT_TRUE(QueryValue(HKEY_LOCAL_MACHINE, target->path() + "\\Sub", "Kept")) << target->path();
    EXPECT_FALSE(QueryValue(HKEY_LOCAL_MACHINE, target->path(), "Plain")) << target->path();
    EXPECT_FALSE(QueryValue(HKEY_LOCAL_MACHINE, target->path(), "Last")) << target->path();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, target->path() + "\\Options")) << target->path();
  }
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, ourMenuEntry));
}

// Windows 98: profiles hold "User.dat" and the list has its own key; with
// no profiles at all the current user is the only one. Windows 98 has no
// privileges, but Wine wants the restore privilege for a load in any
// version: the test lends it to the helper.
class Win9xUserHiveJobs : public testing::Test {
 protected:
  zv::test::ScratchDir install_;
  InstallFolderEntry entry_{install_.path()};
  zv::test::ManagerRegistry currentUser_;
  HelperCopy helper_{"win98"};
};

TEST_F(Win9xUserHiveJobs, ProfilesAreReadFromUserDat) {
  TestProfiles profiles(Family::Win9x);
  const auto addUser = [&](const std::string& name, const char* hiveFile) {
    const std::string data = profiles.Folder(name) + "Data\\";
    profiles.Add({{kSettingsKey, "AppDataPath", data}}, name, hiveFile);
    CreateFolders(data);
    WriteBytes(data + "Install.alg", data + name + ".lnk\r\n");
    return data;
  };
  const std::string anna = addUser("Anna", "User.dat");  // a short name: no service accounts here
  const std::string ntOnly = addUser("Bert" + std::to_string(GetCurrentProcessId()), "NTUser.dat");
  WriteBytes(install_.File("Install.alg"), "main\r\n");

  zv::jobs::JobsOutcome outcome;
  {
    PrivilegeScope lent({"SeRestorePrivilege"});
    outcome = helper_.Run({MakeJob(kRemoveUserIntegration)});
  }
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(ReadBytes(install_.File("Install.alg")), "main\r\n" + anna + "Anna.lnk\r\n");
  EXPECT_TRUE(Exists(ntOnly + "Install.alg"));
  EXPECT_FALSE(HiveLoaded("Anna"));
}

TEST_F(Win9xUserHiveJobs, WithoutProfilesTheCurrentUserIsTheOnlyOne) {
  ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, TestProfiles(Family::Win9x).ListKey()));
  zv::test::ScratchDir data;
  currentUser_.Set("AppDataPath", data.path());
  WriteBytes(data.File("Install.alg"), data.File("current user.lnk") + "\r\n");
  WriteBytes(install_.File("Install.alg"), "main\r\n");

  const auto outcome =
      helper_.Run({MakeJob(kWriteUserValue, "Options\\Last", "nine"), MakeJob(kRemoveUserIntegration)});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  // The 9x family stores a string with its terminator, and nothing after it.
  EXPECT_EQ(QueryValue(HKEY_CURRENT_USER, std::string(kSettingsKey) + "\\Options", "Last"),
            (RegValue{REG_SZ, std::string("nine\0", 5)}));
  EXPECT_EQ(ReadBytes(install_.File("Install.alg")), "main\r\n" + data.File("current user.lnk") + "\r\n");
}

// A user's folder the helper writes into is held while it writes: it
// cannot be renamed away (and a junction put in its place) until the
// helper lets go.
TEST(UserFolderPin, HoldsTheFolderInPlaceAndRefusesOneOutsideTheProfile) {
  zv::test::ScratchDir profile, outside;
  const std::string folder = profile.File("Start Menu\\Programs\\Group");
  zv::test::CreateFolders(folder);
  {
    const zv::win::UniqueFile pin = zv::adm::PinUserFolder(folder, profile.path() + "\\");
    ASSERT_TRUE(pin);
    // Windows refuses to rename the folders above it too; Wine does not.
    EXPECT_FALSE(MoveFileA(folder.c_str(), (folder + " moved").c_str()));
  }
  EXPECT_TRUE(MoveFileA(folder.c_str(), (folder + " moved").c_str())) << GetLastError();
  EXPECT_FALSE(zv::adm::PinUserFolder(outside.path(), profile.path() + "\\"));
  EXPECT_FALSE(zv::adm::PinUserFolder(profile.File("missing"), profile.path() + "\\"));
  EXPECT_FALSE(zv::adm::PinUserFolder(profile.File("Start Menu\\..\\.."), profile.path() + "\\"));
}

}  // namespace
