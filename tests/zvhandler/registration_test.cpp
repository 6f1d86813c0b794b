// Registration through Wine's own regsvr32: exactly the script's keys and
// values, the type library by its LIBID, and an unregistration that keeps
// the system's own protocol entries.
#include <windows.h>
#include <oleauto.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "registration.h"
#include "zvhandler.h"
#include "win/registry.h"
#include "zvtest.h"

using namespace zv::test;
using testing::ElementsAre;
using testing::IsEmpty;
using zv::com::ComPtr;

namespace {

constexpr char kClsid[] = "{E131C96E-4DDB-11D4-84B8-008048B33DEA}";
const char* const kSchemes[] = {"http", "https", "ftp"};
constexpr char kForeignNameSpace[] = "PROTOCOLS\\Name-Space Handler\\http\\OtherCatcher";

std::vector<std::string> ClassKeys() {
  return DumpKeys(HKEY_CLASSES_ROOT, "HKCR",
                  {"zvhandler.HTTPPlugProt.1", "zvhandler.HTTPPlugProt", std::string("CLSID\\") + kClsid});
}

// One key per scheme under `parent`, `leaf` below it when given.
std::vector<std::string> SchemeKeys(const std::string& parent, const std::string& leaf = {}) {
  std::vector<std::string> keys;
  for (const char* scheme : kSchemes) keys.push_back(parent + scheme + (leaf.empty() ? "" : "\\" + leaf));
  return DumpKeys(HKEY_CLASSES_ROOT, "HKCR", keys);
}

std::vector<std::string> NameSpaceEntries() { return SchemeKeys("PROTOCOLS\\Name-Space Handler\\", "HIEClickCatcher"); }

std::vector<std::string> HandlerEntries() { return SchemeKeys("PROTOCOLS\\Handler\\"); }

// The classes Windows registers for its schemes, each its own.
constexpr const char* kSystemClasses[][2] = {{"https", "{79eac9e5-baf9-11ce-8c82-00aa004ba90b}"},
                                             {"ftp", "{79eac9e3-baf9-11ce-8c82-00aa004ba90b}"}};

class HandlerRegistration : public RegistrationTest {
 protected:
  HandlerRegistration() : RegistrationTest(WinPath(ZV_HANDLER_MODULE)) {}
  void SetUp() override {
    RegistrationTest::SetUp();
    for (const auto& entry : kSystemClasses)
      SetRegText(HKEY_CLASSES_ROOT, std::string("PROTOCOLS\\Handler\\") + entry[0], "CLSID", entry[1]);
    systemHandlers_ = HandlerEntries();
    ASSERT_THAT(systemHandlers_, testing::Contains(std::string("HKCR\\PROTOCOLS\\Handler\\https CLSID = '") +
                                                   kSystemClasses[0][1] + "'"));
  }
  void Clean() override {
    RegistrationTest::Clean();
    DeleteKeyTree(HKEY_CLASSES_ROOT, kForeignNameSpace);
  }
  std::vector<std::string> systemHandlers_;  // before registration
};

TEST_F(HandlerRegistration, WritesTheScriptAndTheTypeLibrary) {
  ASSERT_EQ(Register(), 0u);
  const std::string clsid = std::string("HKCR\\CLSID\\") + kClsid;
  EXPECT_EQ(ClassKeys(), std::vector<std::string>({
                             "HKCR\\zvhandler.HTTPPlugProt.1",
                             "HKCR\\zvhandler.HTTPPlugProt.1 @ = 'HTTPPlugProt Class'",
                             "HKCR\\zvhandler.HTTPPlugProt.1\\CLSID",
                             std::string("HKCR\\zvhandler.HTTPPlugProt.1\\CLSID @ = '") + kClsid + "'",
                             "HKCR\\zvhandler.HTTPPlugProt",
                             "HKCR\\zvhandler.HTTPPlugProt @ = 'HTTPPlugProt Class'",
                             "HKCR\\zvhandler.HTTPPlugProt\\CLSID",
                             std::string("HKCR\\zvhandler.HTTPPlugProt\\CLSID @ = '") + kClsid + "'",
                             "HKCR\\zvhandler.HTTPPlugProt\\CurVer",
                             "HKCR\\zvhandler.HTTPPlugProt\\CurVer @ = 'zvhandler.HTTPPlugProt.1'",
                             clsid,
                             clsid + " @ = 'HTTPPlugProt Class'",
                             clsid + "\\InprocServer32",
                             clsid + "\\InprocServer32 @ = '" + module_ + "'",
                             clsid + "\\InprocServer32 ThreadingModel = 'Apartment'",
                             clsid + "\\ProgID",
                             clsid + "\\ProgID @ = 'zvhandler.HTTPPlugProt.1'",
                             clsid + "\\Programmable",
                             clsid + "\\TypeLib",
                             clsid + "\\TypeLib @ = '{E131C961-4DDB-11D4-84B8-008048B33DEA}'",
                             clsid + "\\VersionIndependentProgID",
                             clsid + "\\VersionIndependentProgID @ = 'zvhandler.HTTPPlugProt'",
                         }));
  std::vector<std::string> nameSpace;
  for (const std::string scheme : kSchemes) {
    const std::string key = "HKCR\\PROTOCOLS\\Name-Space Handler\\" + scheme + "\\HIEClickCatcher";
    nameSpace.insert(nameSpace.end(),
                     {key, key + " @ = 'TLClickCatcher'", key + " CLSID = '" + kClsid + "'", key + " Pattern1 = ''"});
  }
  EXPECT_EQ(NameSpaceEntries(), nameSpace);
  EXPECT_EQ(HandlerEntries(), systemHandlers_);  // neither rewritten nor removed

  ASSERT_EQ(
      RegisteredLibraryFacts(LIBID_ZVHANDLERLib),
      (LibraryFacts{
          "{E131C961-4DDB-11D4-84B8-008048B33DEA}", 0x409, 1, 0, {L"ZVHANDLERLib", L"zvhandler 1.0 Type Library"}}));

  // Created by its ProgID, as a script would; IDispatch answers from the library.
  CLSID byProgId{};
  ASSERT_EQ(CLSIDFromProgID(L"zvhandler.HTTPPlugProt", &byProgId), S_OK);
  EXPECT_TRUE(IsEqualCLSID(byProgId, CLSID_HTTPPlugProt));
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(CoCreateInstance(byProgId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, dispatch.put_void()), S_OK);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(dispatch->GetTypeInfo(0, 0, info.put()), S_OK);
  EXPECT_EQ(DocumentationOf(info.get()), (Documentation{L"IHTTPPlugProt", L"IHTTPPlugProt Interface"}));
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
}

TEST_F(HandlerRegistration, UnregistrationKeepsTheSystemHandlerEntries) {
  ASSERT_EQ(Register(), 0u);
  SetRegText(HKEY_CLASSES_ROOT, kForeignNameSpace, "CLSID", "{5A3C1E01-3333-4C2B-9A10-2F6E3B7C0101}");

  ASSERT_EQ(Unregister(), 0u);
  EXPECT_THAT(ClassKeys(), IsEmpty());
  EXPECT_THAT(NameSpaceEntries(), IsEmpty());
  // The schemes' name-space keys stay, with whatever else lives there.
  EXPECT_EQ(GetRegText(HKEY_CLASSES_ROOT, kForeignNameSpace, "CLSID"), "{5A3C1E01-3333-4C2B-9A10-2F6E3B7C0101}");
  for (const char* scheme : kSchemes)
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::string("PROTOCOLS\\Name-Space Handler\\") + scheme));
  // The system's own handlers are registered for the three schemes as before.
  EXPECT_EQ(HandlerEntries(), systemHandlers_);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));

  HRESULT loaded = S_OK;
  EXPECT_FALSE(RegisteredLibrary(LIBID_ZVHANDLERLib, &loaded));
  EXPECT_EQ(loaded, TYPE_E_LIBNOTREGISTERED);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Interface\\{E131C96D-4DDB-11D4-84B8-008048B33DEA}"));
  EXPECT_EQ(Unregister(), 0u);
}

// The two builds of 64-bit Windows share the ProgIDs and the name-space
// handler entries: unregistering one leaves them while the other build's
// class is registered in its own view, and takes them once it is gone.
TEST_F(HandlerRegistration, UnregistrationLeavesTheSharedKeysWhileTheOtherBuildIsRegistered) {
  const REGSAM other = zv::win::OtherBuildView();
  if (!other) GTEST_SKIP() << "one registry view only";
  const std::string otherServer = std::string("CLSID\\") + kClsid + "\\InprocServer32";
  ASSERT_EQ(Register(), 0u);
  const std::vector<std::string> nameSpaces = NameSpaceEntries();
  SetRegText(HKEY_CLASSES_ROOT, otherServer, "", "C:\\Program Files (x86)\\Zorvane\\zvhandler.dll", other);

  ASSERT_EQ(Unregister(), 0u);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kClsid));
  EXPECT_EQ(GetRegText(HKEY_CLASSES_ROOT, "zvhandler.HTTPPlugProt.1\\CLSID", ""), kClsid);
  EXPECT_EQ(GetRegText(HKEY_CLASSES_ROOT, "zvhandler.HTTPPlugProt\\CurVer", ""), "zvhandler.HTTPPlugProt.1");
  EXPECT_EQ(NameSpaceEntries(), nameSpaces);
  EXPECT_EQ(HandlerEntries(), systemHandlers_);

  DeleteKeyTree(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kClsid, other);
  ASSERT_EQ(Unregister(), 0u);
  EXPECT_THAT(ClassKeys(), IsEmpty());
  EXPECT_THAT(NameSpaceEntries(), IsEmpty());
}

}  // namespace
