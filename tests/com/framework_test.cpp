// The COM mechanics under Wine: class factories and aggregation, the module
// lock count, the owning pointers, and registry scripts applied to the real
// registry.
#include <windows.h>
#include <ocidl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "com/class_factory.h"
#include "com/com_ptr.h"
#include "com/object.h"
#include "com/registrar.h"
#include "registry.h"

using namespace zv::com;
using testing::ElementsAre;

namespace {

const CLSID kJoinable = {0x5a3c1e01, 0x1111, 0x4c2b, {0x9a, 0x10, 0x2f, 0x6e, 0x3b, 0x7c, 0x01, 0x01}};
const CLSID kSolitary = {0x5a3c1e01, 0x1111, 0x4c2b, {0x9a, 0x10, 0x2f, 0x6e, 0x3b, 0x7c, 0x01, 0x02}};
const CLSID kUnknownClass = {0x5a3c1e01, 0x1111, 0x4c2b, {0x9a, 0x10, 0x2f, 0x6e, 0x3b, 0x7c, 0x01, 0x03}};

LONG g_liveProbes = 0;

// A class of two interfaces, answered in the order IPersist, IOleWindow.
class Probe final : public Object<IPersist, IOleWindow> {
 public:
  explicit Probe(IUnknown* outer) : Object(outer) { InterlockedIncrement(&g_liveProbes); }
  ~Probe() override { InterlockedDecrement(&g_liveProbes); }
  STDMETHODIMP GetClassID(CLSID* clsid) override {
    *clsid = kJoinable;
    return S_OK;
  }
  STDMETHODIMP GetWindow(HWND* window) override {
    *window = nullptr;
    return E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

 protected:
  IUnknown* FindInterface(REFIID iid) override {
    if (IsEqualIID(iid, IID_IPersist)) return static_cast<IPersist*>(this);
    if (IsEqualIID(iid, IID_IOleWindow)) return static_cast<IOleWindow*>(this);
    return nullptr;
  }
};

const ClassEntry kTable[] = {
    {&kJoinable, &CreateObject<Probe>, true},
    {&kSolitary, &CreateObject<Probe>, false},
};

// An outer object that counts what the aggregate delegates to it.
class CountingOuter final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    ++queries;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    return inner ? inner->QueryInterface(iid, out) : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  IUnknown* inner = nullptr;
  int queries = 0;
  ULONG refs = 1;
};

ComPtr<IClassFactory> Factory(REFCLSID clsid) {
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(GetClassObject(kTable, clsid, IID_IClassFactory, factory.put_void()), S_OK);
  return factory;
}

class ComFramework : public testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(g_liveProbes, 0);
    EXPECT_EQ(CanUnloadNow(), S_OK);
  }
};

TEST_F(ComFramework, UnknownClassesAndRefusedAggregationCreateNothing) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(GetClassObject(kTable, kUnknownClass, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);

  CountingOuter outer;
  IUnknown* object = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(Factory(kSolitary)->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&object)),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  // An aggregate must be asked for IUnknown.
  EXPECT_EQ(Factory(kJoinable)->CreateInstance(&outer, IID_IPersist, reinterpret_cast<void**>(&object)),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(g_liveProbes, 0);
  EXPECT_EQ(outer.refs, 1u);
}

TEST_F(ComFramework, StandaloneObjectKeepsTheIdentityAndCountRules) {
  ComPtr<IPersist> persist;
  ASSERT_EQ(Factory(kSolitary)->CreateInstance(nullptr, IID_IPersist, persist.put_void()), S_OK);
  ComPtr<IOleWindow> window;
  ASSERT_EQ(persist.As(IID_IOleWindow, window), S_OK);
  ComPtr<IUnknown> one, two;
  ASSERT_EQ(persist.As(IID_IUnknown, one), S_OK);
  ASSERT_EQ(window.As(IID_IUnknown, two), S_OK);
  EXPECT_EQ(one.get(), two.get());

  ComPtr<IDispatch> none;
  EXPECT_EQ(persist.As(IID_IDispatch, none), E_NOINTERFACE);
  EXPECT_FALSE(none);
  EXPECT_EQ(persist->AddRef(), 5u);  // persist, window, one, two, this call
  EXPECT_EQ(persist->Release(), 4u);
}

TEST_F(ComFramework, AggregateDelegatesItsInterfacesToTheOuterObject) {
  CountingOuter outer;
  ASSERT_EQ(Factory(kJoinable)->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
  EXPECT_EQ(g_liveProbes, 1);
  EXPECT_EQ(outer.refs, 1u);  // creation does not count the outer object

  // The inner unknown answers the interfaces; each interface counts the outer one.
  IPersist* persist = nullptr;
  ASSERT_EQ(outer.inner->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)), S_OK);
  EXPECT_EQ(outer.refs, 2u);
  CLSID clsid{};
  EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
  // QueryInterface through an interface goes to the outer object.
  IUnknown* identity = nullptr;
  ASSERT_EQ(persist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, &outer);
  EXPECT_EQ(outer.queries, 1);
  identity->Release();
  persist->Release();
  EXPECT_EQ(outer.refs, 1u);

  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  EXPECT_EQ(outer.inner->Release(), 0u);
  EXPECT_EQ(g_liveProbes, 0);
}

TEST_F(ComFramework, ModuleStaysWhileAFactoryObjectOrServerLockLives) {
  EXPECT_EQ(CanUnloadNow(), S_OK);
  ComPtr<IClassFactory> factory = Factory(kJoinable);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory.reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  factory = Factory(kJoinable);
  ComPtr<IPersist> persist;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPersist, persist.put_void()), S_OK);
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  factory.reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  persist.reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(ComFramework, CountsStayExactAcrossThreads) {
  ComPtr<IClassFactory> factory = Factory(kJoinable);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&factory] {
      for (int i = 0; i < 2000; ++i) {
        IPersist* persist = nullptr;
        if (SUCCEEDED(factory->CreateInstance(nullptr, IID_IPersist, reinterpret_cast<void**>(&persist)))) {
          persist->AddRef();
          persist->Release();
          persist->Release();
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(ModuleLockCount(), 1);  // the factory
  EXPECT_EQ(g_liveProbes, 0);
}

// A fake that counts AddRef and Release.
class Counted final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** out) override {
    *out = this;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++addRefs - releases; }
  STDMETHODIMP_(ULONG) Release() override { return addRefs - ++releases; }
  int addRefs = 0;
  int releases = 0;
};

TEST(ComPtr, AddsAndReleasesExactlyOnce) {
  Counted counted;
  {
    ComPtr<IUnknown> a = ComPtr<IUnknown>::Share(&counted);  // +1
    ComPtr<IUnknown> b = a;                                  // +1
    ComPtr<IUnknown> c = std::move(b);                       // no change
    EXPECT_FALSE(b);
    ComPtr<IUnknown> d;
    EXPECT_EQ(a.As(IID_IUnknown, d), S_OK);  // +1
    d.put();                                 // -1
    EXPECT_FALSE(d);
    c = a;  // +1 for the copy, -1 for the old value
    EXPECT_EQ(counted.addRefs, 4);
    EXPECT_EQ(counted.releases, 2);
  }
  EXPECT_EQ(counted.addRefs, counted.releases);
}

constexpr char kTestKey[] = "Software\\ZvComFrameworkTest";

class ScriptOnRealRegistry : public testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, kTestKey); }
  void TearDown() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, kTestKey);
    RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
  }
  WindowsRegistry registry_;
};

TEST_F(ScriptOnRealRegistry, WritesWideTextNumbersAndRemovesWhatItOwns) {
  // A path that the ANSI code page cannot hold reaches the registry intact.
  const std::wstring module = L"C:\\M\u00fcller \u65e5\u672c\\it's\\m.dll";
  const std::string script =
      "HKCU { NoRemove Software { ForceRemove ZvComFrameworkTest = s 'test' {\n"
      "  InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'both' }\n"
      "  val Count = d 42 } } }";
  ASSERT_EQ(RunScript(script, {{"MODULE", QuoteForScript(Narrow(module))}}, ScriptMode::kRegister, registry_), S_OK);

  wchar_t text[MAX_PATH] = {};
  DWORD size = sizeof(text);
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Software\\ZvComFrameworkTest\\InprocServer32", nullptr, RRF_RT_REG_SZ,
                         nullptr, text, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(text), module);
  EXPECT_THAT(zv::test::DumpRegistry(HKEY_CURRENT_USER, "HKCU", kTestKey),
              ElementsAre("HKCU\\Software\\ZvComFrameworkTest", "HKCU\\Software\\ZvComFrameworkTest @ = 'test'",
                          "HKCU\\Software\\ZvComFrameworkTest Count = d 42",
                          "HKCU\\Software\\ZvComFrameworkTest\\InprocServer32",
                          "HKCU\\Software\\ZvComFrameworkTest\\InprocServer32 @ = '" + Narrow(module) + "'",
                          "HKCU\\Software\\ZvComFrameworkTest\\InprocServer32 ThreadingModel = 'both'"));

  ASSERT_EQ(RunScript(script, {{"MODULE", QuoteForScript(Narrow(module))}}, ScriptMode::kUnregister, registry_), S_OK);
  EXPECT_FALSE(zv::test::KeyExists(HKEY_CURRENT_USER, kTestKey));
  EXPECT_TRUE(zv::test::KeyExists(HKEY_CURRENT_USER, "Software"));
}

TEST_F(ScriptOnRealRegistry, MalformedScriptIsAnErrorAndWritesNothing) {
  const std::string script = "HKCU { Software { ZvComFrameworkTest = s 'unterminated } }";
  EXPECT_EQ(RunScript(script, {}, ScriptMode::kRegister, registry_), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
  EXPECT_FALSE(zv::test::KeyExists(HKEY_CURRENT_USER, kTestKey));
}

// Entries name a key before its subkeys and come back to it later; removal
// must still take each key after its subkeys, and a key another program
// put a subkey into stays with that subkey.
TEST_F(ScriptOnRealRegistry, EntryKeysGoAfterTheirSubkeysAndAForeignSubkeyKeepsItsParent) {
  const std::string key = kTestKey;
  const std::vector<RegistryEntry> entries = {
      {RootKey::kCurrentUser, key + "\\Class", "", "described"},
      {RootKey::kCurrentUser, key + "\\Class\\Server", "", "m.dll"},
      {RootKey::kCurrentUser, key + "\\Class\\Server", "ThreadingModel", "Apartment"},
      {RootKey::kCurrentUser, key + "\\Name", "", "described"},
      {RootKey::kCurrentUser, key + "\\Name\\Clsid", "", "{id}"},
      {RootKey::kCurrentUser, key + "\\Class\\ProgID", "", "Name"},
  };
  ASSERT_EQ(WriteRegistryEntries(entries), ERROR_SUCCESS);
  EXPECT_THAT(zv::test::DumpRegistry(HKEY_CURRENT_USER, "HKCU", key + "\\Class\\Server"),
              ElementsAre("HKCU\\Software\\ZvComFrameworkTest\\Class\\Server",
                          "HKCU\\Software\\ZvComFrameworkTest\\Class\\Server @ = 'm.dll'",
                          "HKCU\\Software\\ZvComFrameworkTest\\Class\\Server ThreadingModel = 'Apartment'"));
  ASSERT_EQ(registry_.CreateKey(RootKey::kCurrentUser, key + "\\Name\\Other"), ERROR_SUCCESS);

  DeleteRegistryEntryKeys(entries);
  EXPECT_FALSE(zv::test::KeyExists(HKEY_CURRENT_USER, key + "\\Class"));
  EXPECT_FALSE(zv::test::KeyExists(HKEY_CURRENT_USER, key + "\\Name\\Clsid"));
  EXPECT_TRUE(zv::test::KeyExists(HKEY_CURRENT_USER, key + "\\Name\\Other"));
  DeleteRegistryEntryKeys(entries);  // what is gone is passed over
  EXPECT_TRUE(zv::test::KeyExists(HKEY_CURRENT_USER, key + "\\Name"));
}

}  // namespace
