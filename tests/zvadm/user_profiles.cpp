#include "user_profiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace zv::test::adm {
namespace {

constexpr char kProfileListNt[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr char kProfileList9x[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ProfileList";
constexpr char kPortableAppPaths[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\kestrix.exe";

void SetPrivilege(const std::string& name, bool enabled) {
  zv::win::UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  if (LookupPrivilegeValueA(nullptr, name.c_str(), &privileges.Privileges[0].Luid)) {
    privileges.Privileges[0].Attributes = enabled ? SE_PRIVILEGE_ENABLED : 0;
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
  }
}

std::string Expanded(const std::string& text) {
  char buffer[4096];
  const DWORD n = ExpandEnvironmentStringsA(text.c_str(), buffer, sizeof(buffer));
  return n > 0 && n <= sizeof(buffer) ? std::string(buffer) : text;
}

void SetExpandText(HKEY root, const std::string& key, const char* name, const std::string& text) {
  zv::win::UniqueHkey opened;
  if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, opened.put(), nullptr) != ERROR_SUCCESS) {
    opened.release();
    return;
  }
  RegSetValueExA(opened.get(), name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
}

}  // namespace

PrivilegeScope::PrivilegeScope(std::initializer_list<const char*> names) : names_(names.begin(), names.end()) {
  for (const std::string& name : names_) SetPrivilege(name, true);
}

// Wine's tokens hold these privileges disabled.
PrivilegeScope::~PrivilegeScope() {
  for (const std::string& name : names_) SetPrivilege(name, false);
}

void WriteHiveFile(const std::string& file, const HiveSeed& seed) {
  TestKey scratch(HKEY_CURRENT_USER);
  PutKey(HKEY_CURRENT_USER, scratch.path());
  for (const HiveEntry& entry : seed) {
    const std::string key = scratch.path() + "\\" + entry.key;
    if (entry.keyOnly)
      PutKey(HKEY_CURRENT_USER, key);
    else
      SetRegText(HKEY_CURRENT_USER, key, entry.name, entry.text);
  }
  zv::win::UniqueHkey opened;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, scratch.path().c_str(), 0, KEY_READ, opened.put()), ERROR_SUCCESS);
  DeleteFileA(file.c_str());
  PrivilegeScope backup({"SeBackupPrivilege"});
  EXPECT_EQ(RegSaveKeyA(opened.get(), file.c_str(), nullptr), ERROR_SUCCESS) << file;
}

bool HiveLoaded(const std::string& name) { return KeyExists(HKEY_USERS, name); }

TestProfiles::TestProfiles(Family family) : family_(family) {
  createdListKey_ = !KeyExists(HKEY_LOCAL_MACHINE, ListKey());
}

TestProfiles::~TestProfiles() {
  {
    PrivilegeScope restore({"SeRestorePrivilege"});
    for (const std::string& name : loggedOn_) RegUnLoadKeyA(HKEY_USERS, name.c_str());
    // Left by a helper that did not unload what it loaded: the test has
    // failed already; the prefix stays clean.
    for (const std::string& name : names_)
      if (HiveLoaded(name)) RegUnLoadKeyA(HKEY_USERS, name.c_str());
    if (HiveLoaded(kDefaultUserHive)) RegUnLoadKeyA(HKEY_USERS, kDefaultUserHive);
  }
  if (createdListKey_) {
    zv::test::DeleteKeyTree(HKEY_LOCAL_MACHINE, ListKey());
  } else {
    for (const std::string& name : names_)
      zv::test::DeleteKeyTree(HKEY_LOCAL_MACHINE, (std::string(ListKey()) + "\\" + name).c_str());
  }
  if (setDefaultUser_) {
    RemoveRegValue(HKEY_LOCAL_MACHINE, kProfileListNt, "DefaultUserProfile");
    zv::test::RemoveTree(defaultFolder_.substr(0, defaultFolder_.size() - 1));
  }
}

std::string TestProfiles::UniqueName(const std::string& tag) {
  const std::string number = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(1000 + ++counter_);
  return family_ == Family::Nt ? "S-1-5-21-" + number + tag : "User" + number + tag;
}

const char* TestProfiles::ListKey() const { return family_ == Family::Nt ? kProfileListNt : kProfileList9x; }

std::string TestProfiles::Folder(const std::string& name) const { return dir_.File(name) + "\\"; }

std::string TestProfiles::Add(const HiveSeed& seed, std::string name, const char* hiveFile) {
  if (name.empty()) name = UniqueName();
  names_.push_back(name);
  const std::string folder = Folder(name);
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string file = hiveFile ? hiveFile : HiveFile();
  if (!file.empty()) WriteHiveFile(folder + file, seed);
  // Stored as the system does, with a variable to expand.
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string image = folder.substr(0, folder.size() - 1);
  if (image.compare(0, strlen(temp), temp) == 0) image = "%TEMP%\\" + image.substr(strlen(temp));
  SetExpandText(HKEY_LOCAL_MACHINE, std::string(ListKey()) + "\\" + name, "ProfileImagePath", image);
  return name;
}

std::string TestProfiles::PlannedDefaultUserFolder() const {
  const auto directory = zv::test::GetRegText(HKEY_LOCAL_MACHINE, kProfileListNt, "ProfilesDirectory");
  return Expanded(directory.value_or("")) + "\\ZvTestDefault-" + std::to_string(GetCurrentProcessId()) + "\\";
}

void TestProfiles::AddDefaultUser(const HiveSeed& seed) {
  const auto directory = zv::test::GetRegText(HKEY_LOCAL_MACHINE, kProfileListNt, "ProfilesDirectory");
  ASSERT_TRUE(directory);
  ASSERT_FALSE(zv::test::GetRegText(HKEY_LOCAL_MACHINE, kProfileListNt, "DefaultUserProfile"))
      << "this prefix has a default user already";
  const std::string name = "ZvTestDefault-" + std::to_string(GetCurrentProcessId());
  defaultFolder_ = PlannedDefaultUserFolder();
  setDefaultUser_ = true;
  CreateDirectoryA(defaultFolder_.c_str(), nullptr);
  WriteHiveFile(defaultFolder_ + "NTUser.dat", seed);
  zv::test::SetRegText(HKEY_LOCAL_MACHINE, kProfileListNt, "DefaultUserProfile", name);
}

void TestProfiles::LogOn(const std::string& name) {
  PrivilegeScope restore({"SeRestorePrivilege"});
  ASSERT_EQ(RegLoadKeyA(HKEY_USERS, name.c_str(), (Folder(name) + HiveFile()).c_str()), ERROR_SUCCESS) << name;
  loggedOn_.push_back(name);
}

std::vector<std::string> TestProfiles::EnumerationOrder(bool all) const {
  std::vector<std::string> order;
  zv::win::UniqueHkey list;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ListKey(), 0, KEY_READ, list.put()) != ERROR_SUCCESS) {
    list.release();
    return order;
  }
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof(name);
    if (RegEnumKeyExA(list.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (all || std::find(names_.begin(), names_.end(), name) != names_.end()) order.push_back(name);
  }
  return order;
}

InstallFolderEntry::InstallFolderEntry(const std::string& folder) {
  zv::test::DeleteKeyTree(HKEY_LOCAL_MACHINE, kPortableAppPaths);
  zv::test::SetRegText(HKEY_LOCAL_MACHINE, kPortableAppPaths, "Path", folder);
}

InstallFolderEntry::~InstallFolderEntry() { zv::test::DeleteKeyTree(HKEY_LOCAL_MACHINE, kPortableAppPaths); }

}  // namespace zv::test::adm
