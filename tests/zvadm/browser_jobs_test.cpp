// Kinds 18, 19 and 21 run by zvadm.exe: Internet Explorer's helper-object
// list, the Low Rights policies with the broker process, and the choice of
// the integration module (the build's own modules, registered for real).
#include <gtest/gtest.h>

#include "adm_test_support.h"
#include "message_box.h"
#include "registry.h"
#include "win/registry.h"
#include "zvtest.h"

#include <sddl.h>

#include <algorithm>
#include <cstring>

using namespace zv::test::adm;
using zv::win::UniqueHkey;

namespace {

constexpr uint8_t kPutHelperObjectFirst = 18;
constexpr uint8_t kAllowLowRightsLaunch = 19;
constexpr uint8_t kSetIntegrationMethod = 21;

constexpr char kHelperObjects[] = "Software\\Microsoft\\Windows\\CurrentVersion\\explorer\\Browser Helper Objects";
constexpr char kFirst[] = "{0A000000-0000-4000-8000-000000000001}";
constexpr char kSecond[] = "{0B000000-0000-4000-8000-000000000002}";
constexpr char kThird[] = "{0C000000-0000-4000-8000-000000000003}";
// An object whose key has no default value, a large binary value, names
// outside the code page and permissions of its own.
constexpr char kBare[] = "{0D000000-0000-4000-8000-000000000004}";
const std::wstring kWideName = L"Einstellung \u4E2D\uFF0F";
// An object one of whose subkeys is a registry link into another machine
// key: a copy would make a plain key of it, so the object is left alone.
constexpr char kLinked[] = "{0E000000-0000-4000-8000-000000000005}";
constexpr char kLinkTarget[] = "Software\\ZvTestHelperObjectLinkTarget";
// An object deeper than the helper copies: it could be deleted, but not
// made again, so it is left alone.
constexpr char kDeep[] = "{0F000000-0000-4000-8000-000000000006}";
constexpr char kBareSecurity[] = "D:P(A;;KA;;;BA)(A;;KR;;;WD)";

// The other registry view of 64-bit Windows (the 32-bit one for the 64-bit
// build); 0 where there is only one.
REGSAM OtherView() { return zv::win::OtherBuildView(); }

std::optional<std::string> TextInView(REGSAM view, const std::string& key, const char* name) {
  return zv::test::GetRegText(HKEY_LOCAL_MACHINE, key, name, view);
}

uint64_t LastWrittenInView(REGSAM view, const std::string& key) {
  zv::win::UniqueHkey opened;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, opened.put()) != ERROR_SUCCESS) return 0;
  FILETIME written{};
  RegQueryInfoKeyA(opened.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr, &written);
  return (uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime;
}

std::string BareKeySecurity() {
  UniqueHkey key;
  std::string text;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kHelperObjects) + "\\" + kBare).c_str(), 0, READ_CONTROL,
                    key.put()) != ERROR_SUCCESS) {
    key.release();
    return text;
  }
  DWORD size = 0;
  RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
  std::string descriptor(size, '\0');
  if (RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor.data(), &size) == ERROR_SUCCESS) {
    char* sddl = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor.data(), SDDL_REVISION_1,
                                                             DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
      text = sddl;
      LocalFree(sddl);
    }
  }
  return text;
}

void PutBareHelperObject() {
  const std::wstring key = L"Software\\Microsoft\\Windows\\CurrentVersion\\explorer\\Browser Helper Objects\\" +
                           std::wstring(kBare, kBare + strlen(kBare));
  UniqueHkey opened, sub;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, opened.put(), nullptr),
      ERROR_SUCCESS);
  const std::string large(70000, '\x5A');
  RegSetValueExW(opened.get(), L"Blob", 0, REG_BINARY, reinterpret_cast<const BYTE*>(large.data()),
                 static_cast<DWORD>(large.size()));
  RegSetValueExW(opened.get(), kWideName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
  ASSERT_EQ(
      RegCreateKeyExW(opened.get(), kWideName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, sub.put(), nullptr),
      ERROR_SUCCESS);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(
      ConvertStringSecurityDescriptorToSecurityDescriptorA(kBareSecurity, SDDL_REVISION_1, &descriptor, nullptr));
  EXPECT_EQ(RegSetKeySecurity(opened.get(), DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
  LocalFree(descriptor);
}

std::string HelperObject(const std::string& id) { return std::string(kHelperObjects) + "\\" + id; }

// A helper object's key with a default value, a number and a subtree.
void PutHelperObject(const std::string& id) {
  if (id == kBare) return PutBareHelperObject();
  const std::string key = HelperObject(id);
  if (id == kDeep) {
    SetRegText(HKEY_LOCAL_MACHINE, key, "", "object " + id);
    UniqueHkey level;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, level.put()), ERROR_SUCCESS);
    for (int depth = 0; depth < 600; ++depth) {
      UniqueHkey next;
      ASSERT_EQ(RegCreateKeyExA(level.get(), "d", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, next.put(), nullptr),
                ERROR_SUCCESS)
          << depth;
      level = std::move(next);
    }
    return;
  }
  if (id == kLinked) {
    SetRegText(HKEY_LOCAL_MACHINE, key, "", "object " + id);
    SetRegText(HKEY_LOCAL_MACHINE, kLinkTarget, "Mode", "target");
    return PutLink(HKEY_LOCAL_MACHINE, key + "\\Settings", kLinkTarget);
  }
  SetRegText(HKEY_LOCAL_MACHINE, key, "", "object " + id);
  SetRegText(HKEY_LOCAL_MACHINE, key + "\\Settings\\Deep", "Mode", "deep " + id);
  UniqueHkey opened;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, opened.put()), ERROR_SUCCESS);
  const DWORD one = 1;
  RegSetValueExA(opened.get(), "NoExplorer", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
}

std::vector<std::string> Dump(const std::string& id) {
  return zv::test::DumpRegistry(HKEY_LOCAL_MACHINE, "HKLM", HelperObject(id));
}

uint64_t LastWritten(const std::string& id) {
  UniqueHkey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, HelperObject(id).c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    key.release();
    return 0;
  }
  FILETIME written{};
  RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   &written);
  return (uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime;
}

struct OrderCase {
  const char* label;
  std::vector<std::string> existing;
  std::string first;
  std::vector<std::string> expectedOrder;  // of creation
};
void PrintTo(const OrderCase& test, std::ostream* out) { *out << test.label; }

class HelperObjectOrder : public testing::TestWithParam<OrderCase> {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    RemoveLink(HKEY_LOCAL_MACHINE, HelperObject(kLinked) + "\\Settings");
    zv::test::DeleteKeyTree(HKEY_LOCAL_MACHINE, kHelperObjects);
    zv::test::DeleteKeyTree(HKEY_LOCAL_MACHINE, kLinkTarget);
    if (OtherView()) zv::test::DeleteKeyTree(HKEY_LOCAL_MACHINE, kHelperObjects, OtherView());
  }
};

// The registry lists subkeys by name here, so the order of creation is read
// from each key's time of last change.
TEST_P(HelperObjectOrder, TheNamedObjectIsMadeFirstAndTheOthersKeepEverything) {
  const OrderCase& test = GetParam();
  std::map<std::string, std::vector<std::string>> before;
  for (const std::string& id : test.existing) {
    PutHelperObject(id);
    before[id] = Dump(id);
  }
  const std::string bareSecurity = BareKeySecurity();
  const auto outcome = RunJobs({MakeJob(kPutHelperObjectFirst, test.first)});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);

  for (const std::string& id : test.expectedOrder) {
    const std::string key = "HKLM\\" + HelperObject(id);
    const auto expected = before.count(id) ? before[id] : std::vector<std::string>{key, key + " @ = ''"};
    EXPECT_EQ(Dump(id), expected) << id;
  }
  // An object that is not rebuilt stays exactly as it was.
  for (const std::string& id : test.existing) {
    if (std::find(test.expectedOrder.begin(), test.expectedOrder.end(), id) == test.expectedOrder.end()) {
      EXPECT_EQ(Dump(id), before[id]) << id;
    }
  }
  if (before.count(kLinked)) {
    EXPECT_EQ(zv::test::GetRegText(HKEY_LOCAL_MACHINE, kLinkTarget, "Mode"), std::optional<std::string>("target"));
  }
  for (size_t i = 1; i < test.expectedOrder.size(); ++i)
    EXPECT_LE(LastWritten(test.expectedOrder[i - 1]), LastWritten(test.expectedOrder[i]))
        << test.expectedOrder[i - 1] << " before " << test.expectedOrder[i];
  if (std::find(test.existing.begin(), test.existing.end(), kBare) != test.existing.end()) {
    // What an ANSI copy would lose: names outside the code page, and the
    // key's own permissions; and no default value where it had none.
    const std::wstring key = L"Software\\Microsoft\\Windows\\CurrentVersion\\explorer\\Browser Helper Objects\\" +
                             std::wstring(kBare, kBare + strlen(kBare));
    UniqueHkey opened, sub;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, opened.put()), ERROR_SUCCESS);
    wchar_t text[8] = {};
    DWORD size = sizeof(text);
    EXPECT_EQ(RegQueryValueExW(opened.get(), kWideName.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(text, L"x");
    EXPECT_EQ(RegOpenKeyExW(opened.get(), kWideName.c_str(), 0, KEY_READ, sub.put()), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(opened.get(), L"", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(bareSecurity.empty());
    EXPECT_EQ(BareKeySecurity(), bareSecurity);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, HelperObjectOrder,
    testing::Values(OrderCase{"NamedObjectAmongOthers", {kThird, kFirst, kSecond}, kSecond, {kSecond, kFirst, kThird}},
                    OrderCase{"NamedObjectLast", {kFirst, kSecond, kThird}, kThird, {kThird, kFirst, kSecond}},
                    OrderCase{"NamedObjectNew", {kFirst, kThird}, kSecond, {kSecond, kFirst, kThird}},
                    OrderCase{"OnlyTheNamedObject", {kFirst}, kFirst, {kFirst}},
                    OrderCase{"AnObjectWithoutDefaultValueComesBackExactly", {kBare, kFirst}, kFirst, {kFirst, kBare}},
                    OrderCase{"AnObjectWithALinkStaysAsItWas", {kLinked, kFirst}, kFirst, {kFirst}},
                    OrderCase{"AnObjectTooDeepToCopyStaysAsItWas", {kDeep, kFirst}, kFirst, {kFirst}}),
    [](const testing::TestParamInfo<OrderCase>& info) { return std::string(info.param.label); });

// On 64-bit Windows the 32-bit and the 64-bit browser each read the list
// of their own registry view: the named object comes first in both, and
// each view keeps its own objects as they were.
TEST_F(HelperObjectOrder, TheNamedObjectComesFirstInBothRegistryViews) {
  if (!OtherView()) GTEST_SKIP() << "one registry view only";
  const std::string first = std::string(kHelperObjects) + "\\" + kFirst;
  const std::string second = std::string(kHelperObjects) + "\\" + kSecond;
  PutHelperObject(kFirst);
  zv::test::SetRegText(HKEY_LOCAL_MACHINE, first, "Build", "other", OtherView());
  const auto outcome = RunJobs({MakeJob(kPutHelperObjectFirst, kSecond)});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  EXPECT_EQ(outcome.jobs[0].result, 0);
  for (const REGSAM view : {REGSAM{0}, OtherView()}) {
    EXPECT_EQ(TextInView(view, second, ""), std::optional<std::string>("")) << view;
    EXPECT_LE(LastWrittenInView(view, second), LastWrittenInView(view, first)) << view;
  }
  EXPECT_EQ(TextInView(OtherView(), first, "Build"), std::optional<std::string>("other"));
  EXPECT_EQ(TextInView(0, first, "Build"), std::nullopt);
}

TEST(HelperObjectOrderWithoutList, NothingIsCreated) {
  zv::test::DeleteKeyTree(HKEY_LOCAL_MACHINE, kHelperObjects);
  const auto outcome = RunJobs({MakeJob(kPutHelperObjectFirst, kFirst, "", 5)});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  EXPECT_EQ(outcome.jobs[0].result, 0);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kHelperObjects));
}

constexpr char kLowRights[] = "SOFTWARE\\Microsoft\\Internet Explorer\\Low Rights\\";
constexpr const char* kPolicies[] = {"ElevationPolicy\\{8799EC95-32D9-4584-9832-9F3DD5D9B3C8}",
                                     "DragDrop\\{1139B902-8993-494F-83DB-681D9519C2DC}"};
constexpr char kAppPaths[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

struct PolicyCase {
  const char* label;
  std::string program;     // Param1
  std::string registered;  // its App Paths entry; empty: none
  std::string appName, appPath;
};
void PrintTo(const PolicyCase& test, std::ostream* out) { *out << test.label; }

class LowRightsPolicy : public testing::TestWithParam<PolicyCase> {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  void Clean() {
    for (const char* policy : kPolicies) {
      zv::test::DeleteKeyTree(HKEY_LOCAL_MACHINE, (std::string(kLowRights) + policy).c_str());
      if (OtherView()) zv::test::DeleteKeyTree(HKEY_LOCAL_MACHINE, std::string(kLowRights) + policy, OtherView());
    }
    zv::test::DeleteKeyTree(HKEY_LOCAL_MACHINE, (kAppPaths + GetParam().program).c_str());
  }
};

TEST_P(LowRightsPolicy, BothPoliciesNameTheProgram) {
  const PolicyCase& test = GetParam();
  if (!test.registered.empty()) SetRegText(HKEY_LOCAL_MACHINE, kAppPaths + test.program, "", test.registered);
  const auto outcome = RunJobs({MakeJob(kAllowLowRightsLaunch, test.program)});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  for (const char* policy : kPolicies) {
    const std::string key = std::string(kLowRights) + policy;
    EXPECT_EQ(QueryValue(HKEY_LOCAL_MACHINE, key, "AppName"), (RegValue{REG_SZ, test.appName})) << policy;
    EXPECT_EQ(QueryValue(HKEY_LOCAL_MACHINE, key, "AppPath"), (RegValue{REG_SZ, test.appPath})) << policy;
    EXPECT_EQ(QueryValue(HKEY_LOCAL_MACHINE, key, "Policy"), (RegValue{REG_DWORD, std::string("\3\0\0\0", 4)}));
    // The other build of the browser reads the other registry view.
    if (OtherView()) {
      EXPECT_EQ(TextInView(OtherView(), key, "AppName"), std::optional<std::string>(test.appName)) << policy;
      EXPECT_EQ(TextInView(OtherView(), key, "AppPath"), std::optional<std::string>(test.appPath)) << policy;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Programs, LowRightsPolicy,
    testing::Values(PolicyCase{"InAFolder", "zvtest-zorvex.exe", "C:\\Program Files\\Zorvane\\zorvex.exe", "zorvex.exe",
                               "C:\\Program Files\\Zorvane"},
                    PolicyCase{"InADrivesRoot", "zvtest-root.exe", "C:\\zorvex.exe", "zorvex.exe", "C:"},
                    PolicyCase{"NotRegistered", "zvtest-unregistered.exe", "", "zvtest-unregistered.exe", ""}),
    [](const testing::TestParamInfo<PolicyCase>& info) { return std::string(info.param.label); });

TEST(LowRightsBroker, TheBrokerProcessIsEnded) {
  // A stand-in process under the broker's name that would run for minutes.
  zv::test::ScratchDir dir;
  const std::string broker = dir.File("IEUser.exe");
  ASSERT_TRUE(CopyFileA(zv::test::StandInExe().c_str(), broker.c_str(), FALSE));
  const zv::win::UniqueHandle process =
      zv::test::StartProgram("\"" + broker + "\" --no-window --log=- --lifetime=300000");
  ASSERT_TRUE(process);
  EXPECT_EQ(WaitForSingleObject(process.get(), 1000), static_cast<DWORD>(WAIT_TIMEOUT));

  const auto outcome = RunJobs({MakeJob(kAllowLowRightsLaunch, "zvtest-broker.exe")});
  EXPECT_EQ(WaitForSingleObject(process.get(), 30000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD exitCode = STILL_ACTIVE;
  GetExitCodeProcess(process.get(), &exitCode);
  if (exitCode == STILL_ACTIVE) TerminateProcess(process.get(), 1);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(outcome.exitCode, 0u);
  for (const char* policy : kPolicies) {
    zv::test::DeleteKeyTree(HKEY_LOCAL_MACHINE, (std::string(kLowRights) + policy).c_str());
    if (OtherView()) zv::test::DeleteKeyTree(HKEY_LOCAL_MACHINE, std::string(kLowRights) + policy, OtherView());
  }
}

// The three integration modules of this build, copied into one folder.
struct Module {
  const char* built;  // path of the build's module
  const char* progId;
};
const Module kModules[] = {
    {ZV_WATCH_MODULE, "zvwatch.ZVWATCH"},
    {ZV_HANDLER_MODULE, "zvhandler.HTTPPlugProt"},
    {ZV_HELPER_MODULE, "ZVHelper.IECatcher"},
};
constexpr const char* kHandlerKeys[] = {"PROTOCOLS\\Name-Space Handler\\http", "PROTOCOLS\\Name-Space Handler\\https",
                                        "PROTOCOLS\\Name-Space Handler\\ftp"};
constexpr char kForeignObject[] = "{0D000000-0000-4000-8000-00000000000D}";
constexpr char kHandlerClass[] = "{E131C96E-4DDB-11D4-84B8-008048B33DEA}";  // zvhandler's
constexpr char kElsewhere[] = "C:\\Elsewhere\\zvhandler.dll";

enum Others { kNoOthers, kHttpHandler, kHelperObject };

struct MethodCase {
  const char* label;
  std::string method;  // "IntegrationMethod" of the setup text
  Others others;
  int answer;
  bool progIdPresent;    // the chosen module's ProgID (both builds share it) names its class
  bool classInThisView;  // and the class has a server in this build's view
  bool samePath = true;  // "Path" names the modules' folder
  int registered;        // index into kModules, or -1
  int32_t result;
};
void PrintTo(const MethodCase& test, std::ostream* out) { *out << test.label; }

// In this process: regsvr32 may start Wine's services, which would keep
// its output pipe open.
void Unregister(const std::string& module) {
  const zv::win::UniqueLibrary loaded(LoadLibraryA(module.c_str()));
  if (!loaded) return;
  using Export = HRESULT(WINAPI*)();
  if (auto unregister =
          reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(loaded.get(), "DllUnregisterServer"))))
    unregister();
}

class IntegrationMethod : public testing::TestWithParam<MethodCase> {
 protected:
  void SetUp() override {
    for (const Module& module : kModules) {
      const std::string built = zv::test::WinPath(module.built);
      copies_.push_back(modules_.File(built.substr(built.rfind('\\') + 1)));
      ASSERT_TRUE(CopyFileA(built.c_str(), copies_.back().c_str(), FALSE)) << built;
    }
    Clean();
  }
  void TearDown() override { Clean(); }
  void Clean() {
    for (const std::string& copy : copies_) Unregister(copy);
    for (const Module& module : kModules) zv::test::DeleteKeyTree(HKEY_CLASSES_ROOT, module.progId);
    for (const char* key : kHandlerKeys) zv::test::DeleteKeyTree(HKEY_CLASSES_ROOT, key);
    zv::test::DeleteKeyTree(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + kHandlerClass).c_str());
    zv::test::DeleteKeyTree(HKEY_LOCAL_MACHINE, kHelperObjects);
  }
  zv::test::ScratchDir modules_;
  std::vector<std::string> copies_;
};

TEST_P(IntegrationMethod, AsksOnlyWhenOthersExistAndRegistersTheMissingModule) {
  const MethodCase& test = GetParam();
  if (test.others == kHttpHandler)
    for (const char* key : kHandlerKeys)
      SetRegText(HKEY_CLASSES_ROOT, std::string(key) + "\\other", "CLSID", kForeignObject);
  if (test.others == kHelperObject) SetRegText(HKEY_LOCAL_MACHINE, HelperObject(kForeignObject), "", "");
  const int method = test.method == "1" || test.method == "2" ? std::stoi(test.method) : 0;
  if (test.progIdPresent) {
    SetRegText(HKEY_CLASSES_ROOT, kModules[method].progId, "", "registered elsewhere");
    SetRegText(HKEY_CLASSES_ROOT, std::string(kModules[method].progId) + "\\CLSID", "", kHandlerClass);
  }
  if (test.classInThisView)
    SetRegText(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kHandlerClass + "\\InprocServer32", "", kElsewhere);

  const std::string caption = "Zorvane setup " + std::to_string(GetCurrentProcessId());
  const std::string setup = "Owner=0\r\nCaption=" + caption + "\r\nPath=" + (test.samePath ? modules_.path() : "") +
                            "\r\nIntegrationMethod=" + test.method + "\r\n";
  zv::test::MessageBoxAnswerer answerer(caption, test.answer);
  const auto outcome = RunJobs({MakeJob(kSetIntegrationMethod, setup, "Remove the other download catchers?")});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  EXPECT_EQ(outcome.jobs[0].result, test.result);

  const std::vector<std::string> expectedQuestions =
      test.others == kNoOthers ? std::vector<std::string>{}
                               : std::vector<std::string>{"Remove the other download catchers?"};
  EXPECT_EQ(answerer.Texts(), expectedQuestions);
  const bool removed = test.others != kNoOthers && test.answer == IDYES;
  for (const char* key : kHandlerKeys)
    EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, std::string(key) + "\\other"), test.others == kHttpHandler && !removed)
        << key;
  EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, HelperObject(kForeignObject)), test.others == kHelperObject && !removed);

  for (int i = 0; i < 3; ++i) {
    const bool expected = i == test.registered || (test.progIdPresent && i == method);
    EXPECT_EQ(zv::test::GetRegText(HKEY_CLASSES_ROOT, kModules[i].progId, "").has_value(), expected)
        << kModules[i].progId;
  }
  if (test.progIdPresent) {
    // Registered in this view already: left as it was. Only the other
    // build's: this build's module is registered.
    const auto server = zv::test::GetRegText(HKEY_CLASSES_ROOT,
                                             (std::string("CLSID\\") + kHandlerClass + "\\InprocServer32").c_str(), "");
    if (test.classInThisView)
      EXPECT_EQ(server, std::optional<std::string>(kElsewhere));
    else
      EXPECT_TRUE(server && *server != kElsewhere) << server.value_or("(none)");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Methods, IntegrationMethod,
    testing::Values(MethodCase{"HandlerWithoutOthers", "1", kNoOthers, IDYES, false, false, true, 1, 0},
                    MethodCase{"HelperObjectAfterYes", "2", kHttpHandler, IDYES, false, false, true, 2, 0},
                    MethodCase{"WatcherAfterNo", "0", kHelperObject, IDNO, false, false, true, 0, 0},
                    MethodCase{"ForeignHelperObjectRemoved", "1", kHelperObject, IDYES, false, false, true, 1, 0},
                    MethodCase{"NotANumberIsTheWatcher", "two", kNoOthers, IDYES, false, false, true, 0, 0},
                    MethodCase{"AlreadyRegistered", "1", kHttpHandler, IDNO, true, true, true, -1, 0},
                    MethodCase{"OnlyTheOtherBuildsProgId", "1", kNoOthers, IDYES, true, false, true, 1, 0},
                    MethodCase{"OutOfRange", "3", kHttpHandler, IDYES, false, false, true, -1, 0},
                    MethodCase{"Negative", "-1", kNoOthers, IDYES, false, false, true, -1, 0},
                    // Without "Path" the helper's own folder, which holds no module.
                    MethodCase{"ModuleNotBesideTheHelper", "1", kNoOthers, IDYES, false, false, false, -1,
                               ERROR_MOD_NOT_FOUND}),
    [](const testing::TestParamInfo<MethodCase>& info) { return std::string(info.param.label); });

}  // namespace
