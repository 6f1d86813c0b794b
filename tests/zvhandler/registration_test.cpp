// Registration through Wine's own regsvr32: exactly the script's keys and
// values, the type library by its LIBID, and an unregistration that keeps
// the system's own protocol entries.
#include <windows.h>
#include <oleauto.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "registry_dump.h"
#include "zvhandler.h"
#include "zvtest.h"

using namespace zvtest;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

constexpr char kClsid[] = "{E131C96E-4DDB-11D4-84B8-008048B33DEA}";
const char* const kSchemes[] = {"http", "https", "ftp"};
constexpr char kForeignNameSpace[] = "PROTOCOLS\\Name-Space Handler\\http\\OtherCatcher";

std::vector<std::string> Dump(const std::string& path) { return DumpRegistry(HKEY_CLASSES_ROOT, "HKCR", path); }

std::vector<std::string> ClassKeys() {
  std::vector<std::string> lines;
  for (const std::string& key :
       {std::string("zvhandler.HTTPPlugProt.1"), std::string("zvhandler.HTTPPlugProt"), std::string("CLSID\\") + kClsid}) {
    const auto part = Dump(key);
    lines.insert(lines.end(), part.begin(), part.end());
  }
  return lines;
}

std::vector<std::string> NameSpaceEntries() {
  std::vector<std::string> lines;
  for (const char* scheme : kSchemes) {
    const auto part = Dump(std::string("PROTOCOLS\\Name-Space Handler\\") + scheme + "\\HIEClickCatcher");
    lines.insert(lines.end(), part.begin(), part.end());
  }
  return lines;
}

std::vector<std::string> HandlerEntries() {
  std::vector<std::string> lines;
  for (const char* scheme : kSchemes) {
    const auto part = Dump(std::string("PROTOCOLS\\Handler\\") + scheme);
    lines.insert(lines.end(), part.begin(), part.end());
  }
  return lines;
}

// The classes Windows registers for its schemes, each its own.
constexpr const char* kSystemClasses[][2] = {{"https", "{79eac9e5-baf9-11ce-8c82-00aa004ba90b}"},
                                              {"ftp", "{79eac9e3-baf9-11ce-8c82-00aa004ba90b}"}};

class HandlerRegistration : public testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RunRegsvr32(module_, true);
    DeleteKeyTree(HKEY_CLASSES_ROOT, kForeignNameSpace);
    for (const auto& entry : kSystemClasses)
      SetRegText(HKEY_CLASSES_ROOT, (std::string("PROTOCOLS\\Handler\\") + entry[0]).c_str(), "CLSID", entry[1]);
    systemHandlers_ = HandlerEntries();
    ASSERT_THAT(systemHandlers_, testing::Contains(std::string("HKCR\\PROTOCOLS\\Handler\\https CLSID = '") +
                                                   kSystemClasses[0][1] + "'"));
  }
  void TearDown() override {
    RunRegsvr32(module_, true);
    DeleteKeyTree(HKEY_CLASSES_ROOT, kForeignNameSpace);
    CoUninitialize();
  }
  std::string module_ = WinPath(ZV_HANDLER_MODULE);
  std::vector<std::string> systemHandlers_;  // before registration
};

TEST_F(HandlerRegistration, WritesTheScriptAndTheTypeLibrary) {
  ASSERT_EQ(RunRegsvr32(module_), 0u);
  const std::string clsid = std::string("HKCR\\CLSID\\") + kClsid;
  EXPECT_EQ(ClassKeys(),
            std::vector<std::string>({
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
    nameSpace.insert(nameSpace.end(), {key, key + " @ = 'TLClickCatcher'", key + " CLSID = '" + kClsid + "'",
                                       key + " Pattern1 = ''"});
  }
  EXPECT_EQ(NameSpaceEntries(), nameSpace);
  EXPECT_EQ(HandlerEntries(), systemHandlers_);  // neither rewritten nor removed

  ITypeLib* library = nullptr;
  ASSERT_EQ(LoadRegTypeLib(LIBID_ZVHANDLERLib, 1, 0, 0x409, &library), S_OK);
  BSTR name = nullptr, doc = nullptr;
  ASSERT_EQ(library->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name, L"ZVHANDLERLib");
  EXPECT_STREQ(doc, L"zvhandler 1.0 Type Library");
  SysFreeString(name);
  SysFreeString(doc);
  library->Release();

  // Created by its ProgID, as a script would; IDispatch answers from the library.
  CLSID byProgId{};
  ASSERT_EQ(CLSIDFromProgID(L"zvhandler.HTTPPlugProt", &byProgId), S_OK);
  EXPECT_TRUE(IsEqualCLSID(byProgId, CLSID_HTTPPlugProt));
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(CoCreateInstance(byProgId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(&dispatch)),
            S_OK);
  ITypeInfo* info = nullptr;
  ASSERT_EQ(dispatch->GetTypeInfo(0, 0, &info), S_OK);
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name, L"IHTTPPlugProt");
  EXPECT_STREQ(doc, L"IHTTPPlugProt Interface");
  SysFreeString(name);
  SysFreeString(doc);
  info->Release();
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  dispatch->Release();
}

TEST_F(HandlerRegistration, UnregistrationKeepsTheSystemHandlerEntries) {
  ASSERT_EQ(RunRegsvr32(module_), 0u);
  SetRegText(HKEY_CLASSES_ROOT, kForeignNameSpace, "CLSID", "{5A3C1E01-3333-4C2B-9A10-2F6E3B7C0101}");

  ASSERT_EQ(RunRegsvr32(module_, true), 0u);
  EXPECT_THAT(ClassKeys(), IsEmpty());
  EXPECT_THAT(NameSpaceEntries(), IsEmpty());
  // The schemes' name-space keys stay, with whatever else lives there.
  EXPECT_EQ(GetRegText(HKEY_CLASSES_ROOT, kForeignNameSpace, "CLSID"), "{5A3C1E01-3333-4C2B-9A10-2F6E3B7C0101}");
  for (const char* scheme : kSchemes)
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, std::string("PROTOCOLS\\Name-Space Handler\\") + scheme));
  // The system's own handlers are registered for the three schemes as before.
  EXPECT_EQ(HandlerEntries(), systemHandlers_);
  EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, "CLSID"));

  ITypeLib* library = nullptr;
  EXPECT_EQ(LoadRegTypeLib(LIBID_ZVHANDLERLib, 1, 0, 0x409, &library), TYPE_E_LIBNOTREGISTERED);
  EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, "Interface\\{E131C96D-4DDB-11D4-84B8-008048B33DEA}"));
  EXPECT_EQ(RunRegsvr32(module_, true), 0u);
}

}  // namespace
