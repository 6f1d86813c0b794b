// User profiles made by the tests: ProfileList entries whose folders hold
// hive files written with RegSaveKeyA, each seeded with the registry data a
// case needs, and the default user's profile. Everything is removed again.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "adm_test_support.h"
#include "zvtest.h"

namespace zv::test::adm {

// Enables privileges of this process while it lives. Programs started
// meanwhile inherit them, so the helper under test must not run inside one
// unless that is the point.
class PrivilegeScope {
 public:
  explicit PrivilegeScope(std::initializer_list<const char*> names);
  ~PrivilegeScope();
  PrivilegeScope(const PrivilegeScope&) = delete;
  PrivilegeScope& operator=(const PrivilegeScope&) = delete;

 private:
  std::vector<std::string> names_;
};

// A REG_SZ value (an empty name is the default value) or, with `keyOnly`,
// just the key.
struct HiveEntry {
  std::string key;
  std::string name;
  std::string text;
  bool keyOnly = false;
};
using HiveSeed = std::vector<HiveEntry>;

enum class Family { Nt, Win9x };

class TestProfiles {
 public:
  explicit TestProfiles(Family family = Family::Nt);
  ~TestProfiles();
  TestProfiles(const TestProfiles&) = delete;
  TestProfiles& operator=(const TestProfiles&) = delete;

  // A ProfileList entry named `name` (a unique one when empty) whose folder
  // holds a hive seeded with `seed` (none with `hiveFile` empty). Returns the
  // entry's name; its folder is Folder(name).
  std::string Add(const HiveSeed& seed, std::string name = {}, const char* hiveFile = nullptr);
  // The default user's profile (NT family): a folder in ProfilesDirectory
  // named by "DefaultUserProfile".
  void AddDefaultUser(const HiveSeed& seed);
  // Where AddDefaultUser puts the profile, for seeds that name folders in it.
  std::string PlannedDefaultUserFolder() const;
  // Loads an entry's hive under HKEY_USERS as if its user were logged on;
  // it stays loaded until the end of the test.
  void LogOn(const std::string& name);

  std::string Folder(const std::string& name) const;  // trailing "\"
  std::string DefaultUserFolder() const { return defaultFolder_; }
  // Names of our entries (with `all`, every entry) in the order the
  // ProfileList enumerates them.
  std::vector<std::string> EnumerationOrder(bool all = false) const;
  const char* ListKey() const;
  const char* HiveFile() const { return family_ == Family::Nt ? "NTUser.dat" : "User.dat"; }
  std::string UniqueName(const std::string& tag = {});

 private:
  Family family_;
  zv::test::ScratchDir dir_;
  std::vector<std::string> names_;
  std::vector<std::string> loggedOn_;
  std::string defaultFolder_;
  bool createdListKey_ = false;
  bool setDefaultUser_ = false;
  int counter_ = 0;
};

// Writes a hive file holding `seed`.
void WriteHiveFile(const std::string& file, const HiveSeed& seed);
bool HiveLoaded(const std::string& name);

constexpr char kDefaultUserHive[] = "{02144A0E-F3A2-42D4-A7D6-1B29CA99B15F}";
constexpr char kSettingsKey[] = "SOFTWARE\\Quennet\\Zorvane";

// The portable edition's App Paths entry naming `folder` as the install
// folder, removed on destruction.
class InstallFolderEntry {
 public:
  explicit InstallFolderEntry(const std::string& folder);
  ~InstallFolderEntry();
};

}  // namespace zv::test::adm
