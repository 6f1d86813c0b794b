// The type library compiled by widl and embedded by windres loads from the
// module with the interface it declares.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include "probe.h"
#include "zvtest.h"

namespace {

struct ComRelease {
  template <typename T>
  void operator()(T* p) const {
    if (p) p->Release();
  }
};

TEST(TypeLibrary, LoadsFromTheModuleResource) {
  const std::string module = zv::test::WinPath(ZV_TYPELIB_PROBE_MODULE);
  std::wstring path(module.begin(), module.end());
  ITypeLib* lib = nullptr;
  ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib), S_OK);
  std::unique_ptr<ITypeLib, ComRelease> libOwner(lib);

  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_PROBELib));
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  lib->ReleaseTLibAttr(attr);

  ITypeInfo* info = nullptr;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IProbe, &info), S_OK);
  std::unique_ptr<ITypeInfo, ComRelease> infoOwner(info);
  BSTR name = nullptr;
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name, L"IProbe");
  SysFreeString(name);
  MEMBERID id = 0;
  LPOLESTR echo = const_cast<LPOLESTR>(L"Echo");
  ASSERT_EQ(info->GetIDsOfNames(&echo, 1, &id), S_OK);
  EXPECT_EQ(id, 1);
}

}  // namespace
