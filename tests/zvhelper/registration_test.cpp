// Registration through Wine's own regsvr32: the registry holds exactly what
// the module's script says, the type library loads by its LIBID, and
// unregistration takes away what the module owns and nothing else.
#include <windows.h>
#include <oleauto.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ZVHelper.h"
#include "registry_dump.h"
#include "zvtest.h"

using namespace zvtest;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

constexpr char kClsid[] = "{B930BA63-9E5A-11D3-A288-0000E80E2EDE}";
constexpr char kHelperObjects[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";
constexpr char kInterface[] = "Interface\\{B930BA62-9E5A-11D3-A288-0000E80E2EDE}";
constexpr char kForeignClass[] = "CLSID\\{5A3C1E01-2222-4C2B-9A10-2F6E3B7C0101}";

std::vector<std::string> ClassRegistration() {
  std::vector<std::string> lines;
  for (const char* key : {"ZVHelper.IECatcher.1", "ZVHelper.IECatcher"}) {
    const auto part = DumpRegistry(HKEY_CLASSES_ROOT, "HKCR", key);
    lines.insert(lines.end(), part.begin(), part.end());
  }
  const auto part = DumpRegistry(HKEY_CLASSES_ROOT, "HKCR", std::string("CLSID\\") + kClsid);
  lines.insert(lines.end(), part.begin(), part.end());
  return lines;
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

HRESULT LoadLibraryById(ITypeLib** library) {
  return LoadRegTypeLib(LIBID_ZVHELPERLib, 1, 0, 0x409, library);
}

class HelperRegistration : public testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RunRegsvr32(module_, true);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kHelperObjects);
    DeleteKeyTree(HKEY_CLASSES_ROOT, kForeignClass);
  }
  void TearDown() override {
    RunRegsvr32(module_, true);
    DeleteKeyTree(HKEY_CLASSES_ROOT, kForeignClass);
    CoUninitialize();
  }
  std::string module_ = WinPath(ZV_HELPER_MODULE);
};

TEST_F(HelperRegistration, WritesTheScriptAndTheTypeLibrary) {
  ASSERT_EQ(RunRegsvr32(module_), 0u);
  EXPECT_EQ(ClassRegistration(), ExpectedClassRegistration(module_));
  // The helper-object key exists, without an entry for the class.
  EXPECT_THAT(DumpRegistry(HKEY_LOCAL_MACHINE, "HKLM", kHelperObjects),
              ElementsAre(std::string("HKLM\\") + kHelperObjects));

  ITypeLib* library = nullptr;
  ASSERT_EQ(LoadLibraryById(&library), S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr->lcid, 0x409u);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  library->ReleaseTLibAttr(attr);
  BSTR name = nullptr, doc = nullptr;
  ASSERT_EQ(library->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name, L"ZVHELPERLib");
  EXPECT_STREQ(doc, L"ZVHelper 1.0 Type Library");
  SysFreeString(name);
  SysFreeString(doc);
  library->Release();
  // The dual interface is registered with the library, for marshalling.
  EXPECT_EQ(GetRegText(HKEY_CLASSES_ROOT, kInterface, ""), "IIECatcher");

  // Created as Internet Explorer creates it; its IDispatch describes IIECatcher.
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_IECatcher, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(&dispatch)),
            S_OK);
  UINT count = 0;
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ITypeInfo* info = nullptr;
  ASSERT_EQ(dispatch->GetTypeInfo(0, 0, &info), S_OK);
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name, L"IIECatcher");
  EXPECT_STREQ(doc, L"IIECatcher Interface");
  SysFreeString(name);
  SysFreeString(doc);
  info->Release();
  LPOLESTR unknown = const_cast<LPOLESTR>(L"Download");
  DISPID id = 0;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(dispatch->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
  dispatch->Release();
}

TEST_F(HelperRegistration, UnregistrationRemovesWhatTheModuleOwnsOnly) {
  ASSERT_EQ(RunRegsvr32(module_), 0u);
  // What others keep beside the module's keys.
  SetRegText(HKEY_CLASSES_ROOT, kForeignClass, "", "Another Class");
  SetRegText(HKEY_LOCAL_MACHINE, (std::string(kHelperObjects) + "\\" + kClsid).c_str(), "", "");

  ASSERT_EQ(RunRegsvr32(module_, true), 0u);
  EXPECT_THAT(ClassRegistration(), IsEmpty());
  EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, "CLSID"));
  EXPECT_EQ(GetRegText(HKEY_CLASSES_ROOT, kForeignClass, ""), "Another Class");
  // The helper-object entry belongs to the administrative helper.
  EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, std::string(kHelperObjects) + "\\" + kClsid));

  ITypeLib* library = nullptr;
  EXPECT_EQ(LoadLibraryById(&library), TYPE_E_LIBNOTREGISTERED);
  EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, "TypeLib\\{3F9A5301-9E5A-11D3-A288-0000E80E2EDE}"));
  EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kInterface));
  IUnknown* object = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_IECatcher, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            REGDB_E_CLASSNOTREG);

  // Unregistering again finds nothing to do and succeeds.
  EXPECT_EQ(RunRegsvr32(module_, true), 0u);
}

TEST_F(HelperRegistration, ModuleInAFolderWithAQuoteRegistersItsPath) {
  ScratchDir dir;
  const std::string folder = dir.File("it's {here} 100%");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  const std::string copy = folder + "\\ZVHelper.dll";
  ASSERT_TRUE(CopyFileA(module_.c_str(), copy.c_str(), FALSE));

  ASSERT_EQ(RunRegsvr32(copy), 0u);
  EXPECT_EQ(GetRegText(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + kClsid + "\\InprocServer32").c_str(), ""),
            copy);
  ASSERT_EQ(RunRegsvr32(copy, true), 0u);
  EXPECT_THAT(ClassRegistration(), IsEmpty());
}

TEST(HelperModule, CarriesItsScriptTypeLibraryAndStrings) {
  HMODULE module = LoadLibraryExA(WinPath(ZV_HELPER_MODULE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(102), "REGISTRY"), nullptr);
  EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(1), "TYPELIB"), nullptr);
  char text[64] = {};
  EXPECT_EQ(LoadStringA(module, 100, text, sizeof(text)), 8);
  EXPECT_STREQ(text, "ZVHelper");
  EXPECT_EQ(LoadStringA(module, 101, text, sizeof(text)), 15);
  EXPECT_STREQ(text, "IECatcher Class");
  FreeLibrary(module);
}

}  // namespace
