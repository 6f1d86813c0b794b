// Registration through Wine's regsvr32: both scripts' keys with the short
// module path, the type library as clients read it, what unregistration
// leaves, and the module's resources.
#include <windows.h>
#include <oleauto.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "registration.h"
#include "zorvex_rig.h"

using namespace zv::test;
using testing::IsEmpty;
using zv::com::ComPtr;
using zv::com::UniqueBstr;

namespace {

struct ClassScript {
  const char* clsid;
  const char* description;
  const char* progId;       // the keys the script creates
  const char* namedProgId;  // what the class key names
  bool safeForScripting;
};

const ClassScript kScripts[] = {
    {kCatcherClsid, "Catcher Class", "Zorvex.NNCatcher", "Zorvex.NNCatcher", false},
    {kContextMenuClsid, "ContextMenu Class", "Zorvex.AddUrl", "Zorvex.AddUrlWithReferer", true},
};

std::string ShortPath(const std::string& path) {
  char buffer[MAX_PATH] = {};
  const DWORD got = GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
  return got > 0 && got < MAX_PATH ? std::string(buffer, got) : std::string();
}

std::vector<std::string> Registration(const ClassScript& c) {
  return DumpKeys(HKEY_CLASSES_ROOT, "HKCR",
                  {std::string(c.progId) + ".1", std::string(c.progId), "CLSID\\" + std::string(c.clsid)});
}

std::vector<std::string> Expected(const ClassScript& c, const std::string& module) {
  const std::string versioned = std::string("HKCR\\") + c.progId + ".1";
  const std::string plain = std::string("HKCR\\") + c.progId;
  const std::string key = std::string("HKCR\\CLSID\\") + c.clsid;
  const std::string description = std::string(" @ = '") + c.description + "'";
  const std::string clsid = std::string(" @ = '") + c.clsid + "'";
  std::vector<std::string> lines = {versioned,
                                    versioned + description,
                                    versioned + "\\CLSID",
                                    versioned + "\\CLSID" + clsid,
                                    plain,
                                    plain + description,
                                    plain + "\\CLSID",
                                    plain + "\\CLSID" + clsid,
                                    plain + "\\CurVer",
                                    plain + "\\CurVer @ = '" + c.progId + ".1'",
                                    key,
                                    key + description};
  if (c.safeForScripting) {
    const std::string categories = key + "\\Implemented Categories";
    lines.insert(lines.end(), {categories, categories + "\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}",
                               categories + "\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}"});
  }
  lines.insert(lines.end(),
               {key + "\\InprocServer32", key + "\\InprocServer32 @ = '" + module + "'",
                key + "\\InprocServer32 ThreadingModel = 'Apartment'", key + "\\ProgID",
                key + "\\ProgID @ = '" + c.namedProgId + ".1'", key + "\\Programmable",
                key + "\\VersionIndependentProgID", key + "\\VersionIndependentProgID @ = '" + c.namedProgId + "'"});
  return lines;
}

std::string ClassIdOf(const wchar_t* progId) {
  CLSID clsid{};
  if (FAILED(CLSIDFromProgID(progId, &clsid))) return "(none)";
  return GuidText(clsid);
}

class ZorvexRegistration : public RegistrationTest {
 protected:
  ZorvexRegistration() : RegistrationTest(kZorvexModule) {}
};

TEST_F(ZorvexRegistration, WritesBothScriptsWithTheShortModulePath) {
  ASSERT_EQ(Register(), 0u);
  const std::string module = ShortPath(kZorvexModule);
  ASSERT_FALSE(module.empty());
  for (const ClassScript& c : kScripts) EXPECT_EQ(Registration(c), Expected(c, module)) << c.progId;

  // Creation by ProgID works through the keys the scripts create, not
  // through the names the class keys give.
  const std::pair<const wchar_t*, const char*> resolved[] = {
      {L"Zorvex.NNCatcher.1", kCatcherClsid},  {L"Zorvex.NNCatcher", kCatcherClsid},
      {L"Zorvex.AddUrl.1", kContextMenuClsid}, {L"Zorvex.AddUrl", kContextMenuClsid},
      {L"Zorvex.AddUrlWithReferer", "(none)"}, {L"Zorvex.AddUrlWithReferer.1", "(none)"}};
  for (const auto& [progId, clsid] : resolved) EXPECT_EQ(ClassIdOf(progId), clsid);
}

TEST_F(ZorvexRegistration, UnregistrationKeepsTheTypeLibraryAndRegistrationRewrites) {
  ASSERT_EQ(Register(), 0u);
  ASSERT_EQ(Unregister(), 0u);
  for (const ClassScript& c : kScripts) EXPECT_THAT(Registration(c), IsEmpty()) << c.progId;
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
  HRESULT loaded = E_FAIL;
  EXPECT_TRUE(RegisteredLibrary(LIBID_ZORVEXLib, &loaded));
  ASSERT_EQ(loaded, S_OK);
  // Unregistering twice is still a success.
  EXPECT_EQ(Unregister(), 0u);

  ASSERT_EQ(Register(), 0u);
  for (const ClassScript& c : kScripts) EXPECT_EQ(Registration(c), Expected(c, ShortPath(kZorvexModule)));
}

class ZorvexInAnOddFolder : public ZorvexRegistration, public testing::WithParamInterface<const char*> {};

TEST_P(ZorvexInAnOddFolder, RegistersAShortPathThatLoads) {
  ScratchDir dir;
  const std::string folder = dir.File(GetParam());
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  const std::string copy = folder + "\\Zorvex.dll";
  ASSERT_TRUE(CopyFileA(kZorvexModule.c_str(), copy.c_str(), FALSE));

  ASSERT_EQ(RunRegsvr32(copy), 0u);
  for (const ClassScript& c : kScripts) {
    const auto server = GetRegText(HKEY_CLASSES_ROOT, std::string("CLSID\\") + c.clsid + "\\InprocServer32", "");
    ASSERT_TRUE(server);
    EXPECT_EQ(*server, ShortPath(copy));
    EXPECT_EQ(server->find(' '), std::string::npos);
    // The path names the copy: it loads.
    const zv::win::UniqueLibrary loaded(LoadLibraryExA(server->c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    EXPECT_TRUE(loaded) << *server;
  }
  ASSERT_EQ(RunRegsvr32(copy, true), 0u);
}

INSTANTIATE_TEST_SUITE_P(Folders, ZorvexInAnOddFolder, testing::Values("it's mine", "two words", "o''clock"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.index == 0 ? "Quote" : info.index == 1 ? "Space" : "TwoQuotes");
                         });

std::wstring Text(const UniqueBstr& text) { return text.get() ? std::wstring(text.get(), text.Length()) : L""; }

struct Method {
  const wchar_t* name;
  MEMBERID id;
  const wchar_t* help;
  std::vector<std::pair<const wchar_t*, USHORT>> params;  // name, PARAMFLAG_*
};

struct LibraryType {
  TYPEKIND kind;
  const wchar_t* name;
  const char* guid;
  const wchar_t* help;
  std::vector<Method> methods;
};

TEST_F(ZorvexRegistration, TypeLibraryDescribesBothDualInterfaces) {
  ASSERT_EQ(Register(), 0u);
  HRESULT loaded = E_FAIL;
  const ComPtr<ITypeLib> library = RegisteredLibrary(LIBID_ZORVEXLib, &loaded);
  ASSERT_EQ(loaded, S_OK);
  EXPECT_EQ(FactsOf(library.get()),
            (LibraryFacts{
                "{B4B3E981-B797-11D2-A832-006052058FA5}", 0x409, 1, 0, {L"ZORVEXLib", L"Zorvex 1.0 Type Library"}}));

  const USHORT in = PARAMFLAG_FIN, none = PARAMFLAG_NONE, outRet = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
  const std::vector<LibraryType> types = {
      {TKIND_COCLASS, L"Catcher", kCatcherClsid, L"Catcher Class", {}},
      {TKIND_DISPATCH,
       L"ICatcher",
       "{B4B3E98E-B797-11D2-A832-006052058FA5}",
       L"ICatcher Interface",
       {{L"Initialize", 1, L"method Initialize", {{L"pProtocol", in}, {L"pUrl", none}, {L"pVal", outRet}}},
        {L"Open", 2, L"method Open", {{L"pUrl", in}}}}},
      {TKIND_COCLASS, L"ContextMenu", kContextMenuClsid, L"ContextMenu Class", {}},
      {TKIND_DISPATCH,
       L"IContextMenu",
       "{B4B3E990-B797-11D2-A832-006052058FA5}",
       L"IContextMenu Interface",
       {{L"AddUrlWithReferer", 1, L"method AddUrlWithReferer", {{L"pUrl", in}, {L"pComm", none}, {L"pReferer", none}}},
        {L"AddUrl", 2, L"method AddUrl", {{L"pUrl", none}, {L"pComment", none}}}}},
  };
  ASSERT_EQ(library->GetTypeInfoCount(), types.size());
  for (UINT index = 0; index < types.size(); ++index) {
    const LibraryType& expected = types[index];
    SCOPED_TRACE(testing::Message() << "type " << index);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(library->GetTypeInfo(index, info.put()), S_OK);
    TYPEATTR* typeAttr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&typeAttr), S_OK);
    EXPECT_EQ(typeAttr->typekind, expected.kind);
    EXPECT_EQ(GuidText(typeAttr->guid), expected.guid);
    const WORD dualFlags = TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE;
    if (expected.kind == TKIND_DISPATCH) {
      EXPECT_EQ(typeAttr->wTypeFlags & dualFlags, dualFlags);
    }
    info->ReleaseTypeAttr(typeAttr);
    EXPECT_EQ(DocumentationOf(info.get()), (Documentation{expected.name, expected.help}));
    if (expected.kind == TKIND_COCLASS) {
      // The default interface is the next type.
      HREFTYPE ref = 0;
      ComPtr<ITypeInfo> dual;
      ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
      ASSERT_EQ(info->GetRefTypeInfo(ref, dual.put()), S_OK);
      EXPECT_EQ(DocumentationOf(dual.get()).name, types[index + 1].name);
      continue;
    }

    // The interface half of the dual interface: its vtable slots after IDispatch's seven.
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> vtable;
    ASSERT_EQ(info->GetRefTypeOfImplType(-1, &ref), S_OK);
    ASSERT_EQ(info->GetRefTypeInfo(ref, vtable.put()), S_OK);
    ASSERT_EQ(vtable->GetTypeAttr(&typeAttr), S_OK);
    EXPECT_EQ(typeAttr->typekind, TKIND_INTERFACE);
    EXPECT_EQ(typeAttr->wTypeFlags & (dualFlags | TYPEFLAG_FOLEAUTOMATION), dualFlags | TYPEFLAG_FOLEAUTOMATION);
    vtable->ReleaseTypeAttr(typeAttr);
    for (UINT f = 0; f < expected.methods.size(); ++f) {
      const Method& method = expected.methods[f];
      FUNCDESC* func = nullptr;
      ASSERT_EQ(vtable->GetFuncDesc(f, &func), S_OK);
      EXPECT_EQ(func->memid, method.id);
      EXPECT_EQ(func->callconv, CC_STDCALL);
      EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_HRESULT);
      EXPECT_EQ(func->oVft, static_cast<SHORT>((7 + f) * sizeof(void*)));
      ASSERT_EQ(func->cParams, static_cast<SHORT>(method.params.size()));
      UniqueBstr names[4];
      BSTR raw[4] = {};
      UINT got = 0;
      ASSERT_EQ(vtable->GetNames(func->memid, raw, 4, &got), S_OK);
      for (UINT n = 0; n < got; ++n) names[n].reset(raw[n]);
      ASSERT_EQ(got, method.params.size() + 1);
      EXPECT_EQ(Text(names[0]), method.name);
      for (UINT p = 0; p < method.params.size(); ++p) {
        EXPECT_EQ(Text(names[p + 1]), method.params[p].first);
        EXPECT_EQ(func->lprgelemdescParam[p].paramdesc.wParamFlags, method.params[p].second) << p;
        const VARTYPE type = func->lprgelemdescParam[p].tdesc.vt;
        if (method.params[p].second == outRet) {
          EXPECT_EQ(type, VT_PTR);
          EXPECT_EQ(func->lprgelemdescParam[p].tdesc.lptdesc->vt, VT_I2);
        } else {
          EXPECT_EQ(type, VT_BSTR);
        }
      }
      vtable->ReleaseFuncDesc(func);
      EXPECT_EQ(DocumentationOf(info.get(), method.id).help, method.help);
    }
  }
}

std::string VersionText(const std::vector<char>& info, const char* name) {
  void* value = nullptr;
  UINT size = 0;
  if (!VerQueryValueA(info.data(), (std::string("\\StringFileInfo\\040904b0\\") + name).c_str(), &value, &size))
    return "(absent)";
  return std::string(static_cast<const char*>(value), size ? size - 1 : 0);
}

TEST(ZorvexModule, CarriesItsStringsVersionAndResources) {
  const zv::win::UniqueLibrary library(LoadLibraryExA(kZorvexModule.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(library);
  const HMODULE module = library.get();
  for (int id : {101, 102}) EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(id), "REGISTRY"), nullptr) << id;
  EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(1), "TYPELIB"), nullptr);
  char text[64] = {};
  EXPECT_EQ(LoadStringA(module, 100, text, sizeof(text)), 6);
  EXPECT_STREQ(text, "Zorvex");

  const DWORD size = GetFileVersionInfoSizeA(kZorvexModule.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(kZorvexModule.c_str(), 0, size, info.data()));
  const std::pair<const char*, const char*> strings[] = {{"FileDescription", "Zorvex Module"},
                                                         {"ProductName", "Zorvex Module"},
                                                         {"InternalName", "ZORVEX"},
                                                         {"OriginalFilename", "ZORVEX.DLL"},
                                                         {"FileVersion", "1, 0, 0, 2"},
                                                         {"ProductVersion", "1, 0, 0, 2"},
                                                         {"OLESelfRegister", ""}};
  for (const auto& [name, value] : strings) EXPECT_EQ(VersionText(info, name), value) << name;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000002u);
}

}  // namespace
