// The module as an in-process COM server, loaded as COM loads it: its class
// object, objects, aggregation, error-info support, the unload answer and
// the embedded type library.
#include "watch_support.h"  // first: its winsock2.h goes before windows.h

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include "registration.h"

using namespace zv::test;

namespace {

const CLSID kClass = {0x4B2AFC7F, 0x7D72, 0x4025, {0x81, 0x92, 0x4D, 0xCF, 0xB4, 0xA1, 0xBE, 0xDD}};

// An outer object that counts the references its inner object passes on.
class CountingOuter : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    ++queries;
    if (IsEqualIID(riid, IID_IUnknown)) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
  IUnknown* inner = nullptr;
  LONG refs = 1;
  int queries = 0;
};

class ServerTest : public testing::Test {
 protected:
  ServerTest() : module_(dir_.path()) {}
  void SetUp() override {
    ASSERT_TRUE(module_.handle());
    ASSERT_EQ(module_.GetClassObject(kClass, IID_IClassFactory, factory_.put_void()), S_OK);
  }
  HRESULT CanUnloadNow() const {
    auto canUnload =
        reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(module_.Export("DllCanUnloadNow")));
    return canUnload();
  }

  ComApartment apartment_;
  zv::test::ScratchDir dir_;
  WatchModule module_;
  ComPtr<IClassFactory> factory_;
};

TEST_F(ServerTest, TheClassObjectServesOnlyItsClassAndInterfaces) {
  ComPtr<IUnknown> unknown;
  EXPECT_EQ(module_.GetClassObject(kClass, IID_IUnknown, unknown.put_void()), S_OK);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(module_.GetClassObject(kClass, IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(module_.GetClassObject(IID_IDispatch, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
}

TEST_F(ServerTest, EachCreationMakesANewObjectWithItsInterfaces) {
  ComPtr<IDownloadManager> first, second;
  ASSERT_EQ(factory_->CreateInstance(nullptr, __uuidof(IDownloadManager), first.put_void()), S_OK);
  ASSERT_EQ(factory_->CreateInstance(nullptr, __uuidof(IDownloadManager), second.put_void()), S_OK);
  EXPECT_NE(first.get(), second.get());

  ComPtr<IUnknown> identity1, identity2;
  first->QueryInterface(IID_IUnknown, identity1.put_void());
  ComPtr<ISupportErrorInfo> errorInfo;
  ASSERT_EQ(first->QueryInterface(IID_ISupportErrorInfo, errorInfo.put_void()), S_OK);
  errorInfo->QueryInterface(IID_IUnknown, identity2.put_void());
  EXPECT_EQ(identity1.get(), identity2.get());
  EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(__uuidof(IDownloadManager)), S_OK);
  EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);

  ComPtr<IDispatch> dispatch;
  EXPECT_EQ(first->QueryInterface(IID_IDispatch, dispatch.put_void()), E_NOINTERFACE);
  EXPECT_FALSE(dispatch);
}

TEST_F(ServerTest, AnAggregatedObjectPassesItsIdentityAndReferencesToTheOuter) {
  CountingOuter outer;
  ComPtr<IUnknown> inner;
  EXPECT_EQ(factory_->CreateInstance(&outer, __uuidof(IDownloadManager), inner.put_void()), CLASS_E_NOAGGREGATION);
  ASSERT_EQ(factory_->CreateInstance(&outer, IID_IUnknown, inner.put_void()), S_OK);
  outer.inner = inner.get();

  {
    ComPtr<IDownloadManager> manager;
    ASSERT_EQ(inner->QueryInterface(__uuidof(IDownloadManager), manager.put_void()), S_OK);
    EXPECT_EQ(outer.refs, 2) << "the interface counts on the outer object";
    ComPtr<IUnknown> identity;
    manager->QueryInterface(IID_IUnknown, identity.put_void());
    EXPECT_EQ(identity.get(), &outer);
  }
  EXPECT_EQ(outer.refs, 1);
  outer.inner = nullptr;
}

TEST_F(ServerTest, TheModuleStaysWhileAnObjectLivesOrTheServerIsLocked) {
  EXPECT_EQ(CanUnloadNow(), S_OK);
  {
    ComPtr<IDownloadManager> manager;
    ASSERT_EQ(factory_->CreateInstance(nullptr, __uuidof(IDownloadManager), manager.put_void()), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
  }
  EXPECT_EQ(CanUnloadNow(), S_OK);
  factory_->LockServer(TRUE);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  factory_->LockServer(FALSE);
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

// After Download the bind context still holds the component's callback: the
// module must not be unloaded under it.
TEST_F(ServerTest, TheModuleStaysWhileABindContextHoldsItsCallback) {
  ComPtr<IBindCtx> context = NewBindContext();
  {
    ComPtr<IDownloadManager> manager;
    ASSERT_EQ(factory_->CreateInstance(nullptr, __uuidof(IDownloadManager), manager.put_void()), S_OK);
    // No settings file: the download goes back to the browser after the binding.
    EXPECT_EQ(CallDownload(manager.get(), UnreachableUrl("kept.zip"), context.get()), E_NOTIMPL);
  }
  ASSERT_TRUE(HeldCallback(context.get()));
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  context.reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(ServerTest, CarriesTheDownloadManagerTypeLibraryWithoutTypes) {
  const std::wstring path(module_.path().begin(), module_.path().end());
  ComPtr<ITypeLib> library;
  ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()), S_OK);
  EXPECT_EQ(
      FactsOf(library.get()),
      (LibraryFacts{
          "{3B5D8F58-F10C-4283-998E-D54C9146AA2A}", 0x0409, 1, 0, {L"DownloadManager", L"DownloadManager Library"}}));
  EXPECT_EQ(library->GetTypeInfoCount(), 0u);
}

}  // namespace
