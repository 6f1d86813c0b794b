// Registration through Wine's own regsvr32: the registry holds exactly what
// the module's script says, the type library loads by its LIBID, and
// unregistration takes away what the module owns and nothing else.
#include <windows.h>
#include <oleauto.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ZVHelper.h"
#include "registration.h"
#include "zvtest.h"

using namespace zv::test;
using testing::ElementsAre;
using testing::IsEmpty;
using zv::com::ComPtr;

namespace {

constexpr char kClsid[] = "{B930BA63-9E5A-11D3-A288-0000E80E2EDE}";
constexpr char kHelperObjects[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
constexpr char kInterface[] = "Interface\\{B930BA62-9E5A-11D3-A288-0000E80E2EDE}";
constexpr char kForeignClass[] = "CLSID\\{5A3C1E01-2222-4C2B-9A10-2F6E3B7C0101}";

std::vector<std::string> ClassRegistration() {
  return DumpKeys(HKEY_CLASSES_ROOT, "HKCR",
                  {"ZVHelper.IECatcher.1", "ZVHelper.IECatcher", std::string("CLSID\\") + kClsid});
}

std::vector<std::string> ExpectedClassRegistration(const std::string& module) {
  const std::string clsid = std::string("HKCR\\CLSID\\") + kClsid;
  return {
      "HKCR\\ZVHelper.IECatcher.1",
      "HKCR\\ZVHelper.IECatcher.1 @ = 'IECatcher Class'",
      "HKCR\\ZVHelper.IECatcher.1\\CLSID",
      std::string("HKCR\\ZVHelper.IECatcher.1\\CLSID @ = '") + kClsid + "'",
      "HKCR\\ZVHelper.IECatcher",
      "HKCR\\ZVHelper.IECatcher @ = 'IECatcher Class'",
      "HKCR\\ZVHelper.IECatcher\\CLSID",
      std::string("HKCR\\ZVHelper.IECatcher\\CLSID @ = '") + kClsid + "'",
      clsid,
      clsid + " @ = 'IECatcher Class'",
      clsid + "\\InprocServer32",
      clsid + "\\InprocServer32 @ = '" + module + "'",
      clsid + "\\InprocServer32 ThreadingModel = 'both'",
      clsid + "\\ProgID",
      clsid + "\\ProgID @ = 'ZVHelper.IECatcher.1'",
      clsid + "\\VersionIndependentProgID",
      clsid + "\\VersionIndependentProgID @ = 'ZVHelper.IECatcher'",
  };
}

class HelperRegistration : public RegistrationTest {
 protected:
  HelperRegistration() : RegistrationTest(WinPath(ZV_HELPER_MODULE)) {}
  void SetUp() override {
    RegistrationTest::SetUp();
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kHelperObjects);
  }
  void Clean() override {
    RegistrationTest::Clean();
    DeleteKeyTree(HKEY_CLASSES_ROOT, kForeignClass);
  }
};

TEST_F(HelperRegistration, WritesTheScriptAndTheTypeLibrary) {
  ASSERT_EQ(Register(), 0u);
  EXPECT_EQ(ClassRegistration(), ExpectedClassRegistration(module_));
  // The helper-object key exists, without an entry for the class.
  EXPECT_THAT(DumpRegistry(HKEY_LOCAL_MACHINE, "HKLM", kHelperObjects),
              ElementsAre(std::string("HKLM\\") + kHelperObjects));

  ASSERT_EQ(
      RegisteredLibraryFacts(LIBID_ZVHELPERLib),
      (LibraryFacts{
          "{3F9A5301-9E5A-11D3-A288-0000E80E2EDE}", 0x409, 1, 0, {L"ZVHELPERLib", L"ZVHelper 1.0 Type Library"}}));
  // The dual interface is registered with the library, for marshalling.
  EXPECT_EQ(GetRegText(HKEY_CLASSES_ROOT, kInterface, ""), "IIECatcher");

  // Created as Internet Explorer creates it; its IDispatch describes IIECatcher.
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(CoCreateInstance(CLSID_IECatcher, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, dispatch.put_void()), S_OK);
  UINT count = 0;
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(dispatch->GetTypeInfo(0, 0, info.put()), S_OK);
  EXPECT_EQ(DocumentationOf(info.get()), (Documentation{L"IIECatcher", L"IIECatcher Interface"}));
  LPOLESTR unknown = const_cast<LPOLESTR>(L"Download");
  DISPID id = 0;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(dispatch->GetTypeInfo(1, 0, info.put()), DISP_E_BADINDEX);
}

TEST_F(HelperRegistration, UnregistrationRemovesWhatTheModuleOwnsOnly) {
  ASSERT_EQ(Register(), 0u);
  // What others keep beside the module's keys.
  SetRegText(HKEY_CLASSES_ROOT, kForeignClass, "", "Another Class");
  SetRegText(HKEY_LOCAL_MACHINE, std::string(kHelperObjects) + "\\" + kClsid, "", "");

  ASSERT_EQ(Unregister(), 0u);
  EXPECT_THAT(ClassRegistration(), IsEmpty());
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
  EXPECT_EQ(GetRegText(HKEY_CLASSES_ROOT, kForeignClass, ""), "Another Class");
  // The helper-object entry belongs to the administrative helper.
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string(kHelperObjects) + "\\" + kClsid));

  HRESULT loaded = S_OK;
  EXPECT_FALSE(RegisteredLibrary(LIBID_ZVHELPERLib, &loaded));
  EXPECT_EQ(loaded, TYPE_E_LIBNOTREGISTERED);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib\\{3F9A5301-9E5A-11D3-A288-0000E80E2EDE}"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kInterface));
  ComPtr<IUnknown> object;
  EXPECT_EQ(CoCreateInstance(CLSID_IECatcher, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.put_void()),
            REGDB_E_CLASSNOTREG);

  // Unregistering again finds nothing to do and succeeds.
  EXPECT_EQ(Unregister(), 0u);
}

TEST_F(HelperRegistration, ModuleInAFolderWithAQuoteRegistersItsPath) {
  ScratchDir dir;
  const std::string folder = dir.File("it's {here} 100%");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  const std::string copy = folder + "\\ZVHelper.dll";
  ASSERT_TRUE(CopyFileA(module_.c_str(), copy.c_str(), FALSE));

  ASSERT_EQ(RunRegsvr32(copy), 0u);
  EXPECT_EQ(GetRegText(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kClsid + "\\InprocServer32", ""), copy);
  ASSERT_EQ(RunRegsvr32(copy, true), 0u);
  EXPECT_THAT(ClassRegistration(), IsEmpty());
}

TEST(HelperModule, CarriesItsScriptTypeLibraryAndStrings) {
  const zv::win::UniqueLibrary library(
      LoadLibraryExA(WinPath(ZV_HELPER_MODULE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(library);
  const HMODULE module = library.get();
  EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(102), "REGISTRY"), nullptr);
  EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(1), "TYPELIB"), nullptr);
  char text[64] = {};
  EXPECT_EQ(LoadStringA(module, 100, text, sizeof(text)), 8);
  EXPECT_STREQ(text, "ZVHelper");
  EXPECT_EQ(LoadStringA(module, 101, text, sizeof(text)), 15);
  EXPECT_STREQ(text, "IECatcher Class");
}

}  // namespace
