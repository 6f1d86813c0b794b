// regsvr32 and regsvr32 /u on copies of the module: the class entries, the
// machine's "DownloadUI" value, the short path for a path with a space, the
// ProgID after the module's file name, and what unregistration leaves.
#include "watch_support.h"  // first: its winsock2.h goes before windows.h

#include <windows.h>

#include <gtest/gtest.h>

#include "registration.h"
#include "win/registry.h"

using namespace zv::test;

namespace {

constexpr char kClsid[] = "{4B2AFC7F-7D72-4025-8192-4DCFB4A1BEDD}";
constexpr char kClassKey[] = "CLSID\\{4B2AFC7F-7D72-4025-8192-4DCFB4A1BEDD}";
constexpr char kServerKey[] = "CLSID\\{4B2AFC7F-7D72-4025-8192-4DCFB4A1BEDD}\\InprocServer32";
constexpr char kProgIdKey[] = "CLSID\\{4B2AFC7F-7D72-4025-8192-4DCFB4A1BEDD}\\ProgID";
constexpr char kDescription[] = "Zorvane download monitor for IE 6.0";
constexpr char kIeKey[] = "Software\\Microsoft\\Internet Explorer";
constexpr char kOtherManager[] = "{0A1B2C3D-0000-4000-8000-00AA00BB00CC}";

bool KeyExists(const std::string& key) { return zv::test::KeyExists(HKEY_CLASSES_ROOT, key); }

std::optional<std::string> ClassValue(const std::string& key, const char* name = "") {
  return GetRegText(HKEY_CLASSES_ROOT, key, name);
}

std::optional<std::string> DownloadUI() { return GetRegText(HKEY_LOCAL_MACHINE, kIeKey, "DownloadUI"); }

// The value as the other build's Internet Explorer reads it on 64-bit
// Windows; on 32-bit Windows the one view there is.
std::optional<std::string> DownloadUIOfTheOtherBuild() {
  return GetRegText(HKEY_LOCAL_MACHINE, kIeKey, "DownloadUI", sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
}

// The other build's registry view on 64-bit Windows; 0 where there is one.
REGSAM OtherView() { return zv::win::OtherBuildView(); }

CLSID ClassId(const std::string& text = kClsid) {
  CLSID id = CLSID_NULL;
  CLSIDFromString(std::wstring(text.begin(), text.end()).c_str(), &id);
  return id;
}

// Each test registers copies of the module of its own.
class RegistrationTest : public zv::test::RegistrationTest {
 protected:
  RegistrationTest() : downloadUI_(HKEY_LOCAL_MACHINE, kIeKey, "DownloadUI", std::nullopt) {}

  void Clean() override {
    for (const char* progId : {"zvwatch.ZVWATCH", "zvmonitor.ZVWATCH"}) DeleteKeyTree(HKEY_CLASSES_ROOT, progId);
    DeleteKeyTree(HKEY_CLASSES_ROOT, kClassKey);
    if (OtherView()) DeleteKeyTree(HKEY_CLASSES_ROOT, kClassKey, OtherView());
  }

  // A copy of the module that is not loaded by the test.
  std::string Copy(const std::string& folder, const std::string& name = "zvwatch.dll") {
    CreateFolders(folder);
    const std::string path = folder + "\\" + name;
    CopyFileA(BuiltModule().c_str(), path.c_str(), FALSE);
    copies_.push_back(path);
    return path;
  }
  ~RegistrationTest() override {
    for (const std::string& copy : copies_) RemoveFile(copy);
  }

  ScratchDir dir_;
  RegistryValueOverride downloadUI_;  // no download manager named before the test
  std::vector<std::string> copies_;
};

TEST_F(RegistrationTest, RegistersTheClassAndNamesItInternetExplorersDownloadManager) {
  const std::string module = Copy(dir_.path());
  ASSERT_EQ(RunRegsvr32(module), 0u);

  EXPECT_EQ(ClassValue(kClassKey), kDescription);
  EXPECT_EQ(ClassValue(kServerKey), module);
  EXPECT_EQ(ClassValue(kServerKey, "ThreadingModel"), "Apartment");
  EXPECT_EQ(ClassValue("zvwatch.ZVWATCH"), kDescription);
  EXPECT_EQ(ClassValue("zvwatch.ZVWATCH\\Clsid"), kClsid);
  EXPECT_EQ(ClassValue(kProgIdKey), "zvwatch.ZVWATCH");
  EXPECT_EQ(DownloadUI(), kClsid);
  EXPECT_EQ(DownloadUIOfTheOtherBuild(), kClsid);
  // The type library is carried, not registered.
  EXPECT_FALSE(KeyExists("TypeLib\\{3B5D8F58-F10C-4283-998E-D54C9146AA2A}"));

  // The browser finds the class the value names.
  ComPtr<IDownloadManager> manager;
  EXPECT_EQ(CoCreateInstance(ClassId(DownloadUI().value_or("")), nullptr, CLSCTX_INPROC_SERVER,
                             __uuidof(IDownloadManager), manager.put_void()),
            S_OK);
  manager.reset();
  CoFreeUnusedLibraries();

  ASSERT_EQ(RunRegsvr32(module, true), 0u);
  for (const char* key : {kProgIdKey, "zvwatch.ZVWATCH\\Clsid", "zvwatch.ZVWATCH", kServerKey, kClassKey})
    EXPECT_FALSE(KeyExists(key)) << key;
  EXPECT_FALSE(DownloadUI());
  EXPECT_FALSE(DownloadUIOfTheOtherBuild());
  EXPECT_TRUE(KeyExists("CLSID")) << "shared parents stay";
}

TEST_F(RegistrationTest, APathWithASpaceIsRegisteredInItsShortForm) {
  const std::string module = Copy(dir_.File("with space"));
  ASSERT_EQ(RunRegsvr32(module), 0u);
  char shortPath[MAX_PATH] = {};
  ASSERT_GT(GetShortPathNameA(module.c_str(), shortPath, MAX_PATH), 0u);
  const auto registered = ClassValue(kServerKey);
  ASSERT_TRUE(registered);
  EXPECT_EQ(*registered, shortPath);
  EXPECT_EQ(registered->find(' '), std::string::npos) << *registered;
  ComPtr<IDownloadManager> manager;
  EXPECT_EQ(CoCreateInstance(ClassId(), nullptr, CLSCTX_INPROC_SERVER, __uuidof(IDownloadManager), manager.put_void()),
            S_OK)
      << "loadable through the short path";
  manager.reset();
  CoFreeUnusedLibraries();
  EXPECT_EQ(RunRegsvr32(module, true), 0u);
}

TEST_F(RegistrationTest, TheProgIdFollowsTheModulesFileName) {
  const std::string module = Copy(dir_.path(), "zvmonitor.dll");
  ASSERT_EQ(RunRegsvr32(module), 0u);
  EXPECT_EQ(ClassValue("zvmonitor.ZVWATCH\\Clsid"), kClsid);
  EXPECT_EQ(ClassValue(kProgIdKey), "zvmonitor.ZVWATCH");
  EXPECT_FALSE(KeyExists("zvwatch.ZVWATCH"));
  ASSERT_EQ(RunRegsvr32(module, true), 0u);
  EXPECT_FALSE(KeyExists("zvmonitor.ZVWATCH"));
  EXPECT_FALSE(KeyExists(kClassKey));
}

TEST_F(RegistrationTest, UnregisteringWhatIsNotRegisteredSucceeds) {
  const std::string module = Copy(dir_.path());
  EXPECT_EQ(RunRegsvr32(module, true), 0u);
  WatchModule loaded(dir_.File("direct"));
  auto unregister =
      reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(loaded.Export("DllUnregisterServer")));
  ASSERT_TRUE(unregister);
  EXPECT_EQ(unregister(), S_OK);
  EXPECT_FALSE(KeyExists(kClassKey));
}

// Registration names this class; unregistration leaves another program's
// download manager in place.
TEST_F(RegistrationTest, UnregistrationLeavesAnotherDownloadManagerInPlace) {
  const std::string module = Copy(dir_.path());
  SetRegText(HKEY_LOCAL_MACHINE, kIeKey, "DownloadUI", kOtherManager);
  ASSERT_EQ(RunRegsvr32(module), 0u);
  EXPECT_EQ(DownloadUI(), kClsid);
  SetRegText(HKEY_LOCAL_MACHINE, kIeKey, "DownloadUI", kOtherManager);
  ASSERT_EQ(RunRegsvr32(module, true), 0u);
  EXPECT_EQ(DownloadUI(), kOtherManager);
  EXPECT_FALSE(KeyExists(kClassKey));
}

// The two builds of 64-bit Windows share the ProgID: unregistering one
// leaves it while the other's class is registered in its own view, and
// takes it once that one is gone too.
TEST_F(RegistrationTest, UnregistrationLeavesTheSharedKeysWhileTheOtherBuildIsRegistered) {
  if (!OtherView()) GTEST_SKIP() << "one registry view only";
  const std::string module = Copy(dir_.path());
  const std::string otherBuild = "C:\\Program Files (x86)\\Zorvane\\zvwatch.dll";
  ASSERT_EQ(RunRegsvr32(module), 0u);
  SetRegText(HKEY_CLASSES_ROOT, kServerKey, "", otherBuild, OtherView());

  ASSERT_EQ(RunRegsvr32(module, true), 0u);
  EXPECT_FALSE(KeyExists(kServerKey));
  EXPECT_FALSE(KeyExists(kProgIdKey));
  EXPECT_EQ(ClassValue("zvwatch.ZVWATCH"), kDescription);
  EXPECT_EQ(ClassValue("zvwatch.ZVWATCH\\Clsid"), kClsid);
  EXPECT_EQ(GetRegText(HKEY_CLASSES_ROOT, kServerKey, "", OtherView()), otherBuild);
  // The other build's Internet Explorer keeps its download manager.
  EXPECT_EQ(DownloadUI(), std::nullopt);
  EXPECT_EQ(DownloadUIOfTheOtherBuild(), kClsid);

  DeleteKeyTree(HKEY_CLASSES_ROOT, kClassKey, OtherView());
  ASSERT_EQ(RunRegsvr32(module, true), 0u);
  EXPECT_FALSE(KeyExists("zvwatch.ZVWATCH"));
  EXPECT_EQ(DownloadUIOfTheOtherBuild(), std::nullopt);
}

}  // namespace
