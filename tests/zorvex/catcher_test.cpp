// The Navigator catcher as Navigator drives it: created by ProgID and called
// by name through IDispatch, against the stand-in download manager. Also
// the module's lifetime and the context-menu object's IObjectSafety.
#include <windows.h>
#include <objsafe.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "message_box.h"
#include "standin_navigator.h"
#include "zorvex_fixture.h"

using namespace zv::test;
using testing::ElementsAre;
using zv::com::ComPtr;
using zv::com::UniqueBstr;
using testing::IsEmpty;

namespace {

constexpr char kSettingsKey[] = "Software\\Quennet\\Zorvane";

NavigatorCall Offer(const std::wstring& url) {
  return OfferUrl(L"Zorvex.NNCatcher.1", url.substr(0, url.find(L':')), url);
}

struct Offered {
  const char* name;
  const wchar_t* url;
  std::vector<int> keys;
  std::vector<std::pair<const char*, const char*>> settings;
  long reply;        // the stand-in's answer to the text
  short value;       // what Navigator gets back
  const char* text;  // what the stand-in receives; null: nothing
};

void PrintTo(const Offered& o, std::ostream* os) { *os << o.name; }

class NavigatorOffers : public ZorvexTest, public testing::WithParamInterface<Offered> {};

TEST_P(NavigatorOffers, AnswerWithTheDownloadManagersReplyOrZero) {
  const Offered& o = GetParam();
  StandInOptions options;
  options.reply = o.reply;
  StandIn standIn(options);
  standIn.Launch();
  for (const auto& [name, value] : o.settings) registry_.Set(name, value);

  BYTE state[256] = {};
  for (int key : o.keys) state[key] = 0x80;
  SetKeyboardState(state);
  const NavigatorCall call = Offer(o.url);
  ReleaseAllKeys();
  ASSERT_EQ(call.created, S_OK);
  ASSERT_EQ(call.named, S_OK);
  EXPECT_EQ(call.id, 1);
  EXPECT_EQ(call.invoked, S_OK);
  EXPECT_EQ(call.resultType, VT_I2);
  EXPECT_EQ(call.value, o.value);
  if (o.text) {
    const auto texts = standIn.WaitForTexts(1);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].bytes, o.text);
    EXPECT_EQ(texts[0].cbData, texts[0].bytes.size());
    EXPECT_EQ(texts[0].dwData, 0u);
    EXPECT_EQ(standIn.ForegroundQueries().size(), 1u);
  } else {
    EXPECT_THAT(BytesOf(standIn.TextsThroughMarker()), ElementsAre(kMarkerText));
    EXPECT_THAT(standIn.ForegroundQueries(), IsEmpty());
  }
}

const std::vector<int> kCtrlAlt = {VK_CONTROL, VK_MENU};

INSTANTIATE_TEST_SUITE_P(
    Cases, NavigatorOffers,
    testing::Values(
        Offered{"AcceptedFile16BitReply",
                L"http://example.org/files/setup.zip",
                {},
                {},
                0x12345,
                0x2345,
                "URL=http://example.org/files/setup.zip"},
        Offered{"NegativeReply", L"http://example.org/a.exe", {}, {}, 0xFFFF, -1, "URL=http://example.org/a.exe"},
        Offered{"ZeroReplyPassedOn", L"http://example.org/a.zip", {}, {}, 0, 0, "URL=http://example.org/a.zip"},
        Offered{"UpperCaseScheme", L"HTTP://EXAMPLE.ORG/A.ZIP", {}, {}, 1, 1, "URL=HTTP://EXAMPLE.ORG/A.ZIP"},
        Offered{"MixedCaseFtp", L"FtP://example.org/pub/a.exe", {}, {}, 1, 1, "URL=FtP://example.org/pub/a.exe"},
        Offered{"Https", L"https://example.org/a.zip", {}, {}, 3, 3, "URL=https://example.org/a.zip"},
        Offered{"SwitchTrue",
                L"http://example.org/a.zip",
                {},
                {{"NNUrlCatch", "TRUE"}},
                1,
                1,
                "URL=http://example.org/a.zip"},
        Offered{
            "QueryWithCtrlAlt", L"http://example.org/get?id=7", kCtrlAlt, {}, 1, 1, "URL=http://example.org/get?id=7"},
        Offered{"NoExtensionWithCtrlAlt", L"http://example.org/", kCtrlAlt, {}, 1, 1, "URL=http://example.org/"},
        Offered{"IntegrationOffWithCtrlAlt",
                L"http://example.org/a.html",
                kCtrlAlt,
                {{"IntegrationTemporaryOff", "FALSE"}},
                1,
                1,
                "URL=http://example.org/a.html"},
        Offered{"Shift", L"http://example.org/a.zip", {VK_SHIFT}, {}, 1, 0, nullptr},
        Offered{"ShiftWithCtrlAlt", L"http://example.org/a.zip", {VK_SHIFT, VK_CONTROL, VK_MENU}, {}, 1, 0, nullptr},
        Offered{"SwitchOffEvenWithCtrlAlt",
                L"http://example.org/a.zip",
                kCtrlAlt,
                {{"NNUrlCatch", "FALSE"}},
                1,
                0,
                nullptr},
        Offered{"SwitchLowerCaseTrue", L"http://example.org/a.zip", {}, {{"NNUrlCatch", "true"}}, 1, 0, nullptr},
        Offered{
            "IntegrationOff", L"http://example.org/a.zip", {}, {{"IntegrationTemporaryOff", "FALSE"}}, 1, 0, nullptr},
        Offered{"Query", L"http://example.org/a.zip?x=1", {}, {}, 1, 0, nullptr},
        Offered{"ExtensionNotAccepted", L"http://example.org/index.html", {}, {}, 1, 0, nullptr},
        Offered{"NewsScheme", L"news://example.org/a.zip", kCtrlAlt, {}, 1, 0, nullptr},
        Offered{"FileScheme", L"file:///c:/a.zip", {}, {}, 1, 0, nullptr},
        Offered{"MailtoScheme", L"mailto:someone@example.org", kCtrlAlt, {}, 1, 0, nullptr},
        Offered{"EmptyUrl", L"", kCtrlAlt, {}, 1, 0, nullptr}),
    [](const testing::TestParamInfo<Offered>& info) { return std::string(info.param.name); });

ComPtr<ICatcher> NewCatcher() {
  ComPtr<ICatcher> catcher;
  EXPECT_EQ(CoCreateInstance(CLSID_Catcher, nullptr, CLSCTX_INPROC_SERVER, IID_ICatcher, catcher.put_void()), S_OK);
  return catcher;
}

TEST_F(ZorvexTest, NullAnswerPointerAndOpenSendNothing) {
  StandIn standIn;
  standIn.Launch();
  ComPtr<ICatcher> catcher = NewCatcher();
  ASSERT_TRUE(catcher);
  const UniqueBstr protocol(L"http"), url(L"http://example.org/a.zip");
  EXPECT_EQ(catcher->Initialize(protocol.get(), url.get(), nullptr), E_POINTER);
  EXPECT_EQ(catcher->Open(url.get()), S_OK);
  EXPECT_EQ(catcher->Open(nullptr), S_OK);
  short value = 77;
  EXPECT_EQ(catcher->Initialize(protocol.get(), nullptr, &value), S_OK);  // no URL
  EXPECT_EQ(value, 0);
  catcher.reset();
  EXPECT_THAT(BytesOf(standIn.TextsThroughMarker()), ElementsAre(kMarkerText));
}

TEST_F(ZorvexTest, StartsTheDownloadManagerAndBringsItToTheFront) {
  StandIn standIn;
  registry_.SetAppPath(standIn.Install());
  ForegroundWindow other;
  const NavigatorCall call = Offer(L"http://example.org/setup.exe");
  EXPECT_EQ(call.value, 1);
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, "URL=http://example.org/setup.exe");
  EXPECT_TRUE(texts[0].foreground);
  EXPECT_EQ(standIn.Starts(), 1);
}

TEST_F(ZorvexTest, FailedStartIsReportedAndClearsTheProgramPath) {
  StandInOptions options;
  options.window = false;
  StandIn standIn(options);
  registry_.SetAppPath(standIn.Install());
  registry_.Set("ProgramPath", "C:\\Program Files\\Zorvane\\zorvex.exe");
  MessageBoxAnswerer answerer("Zorvane");

  const NavigatorCall call = Offer(L"http://example.org/setup.exe");
  EXPECT_EQ(call.invoked, S_OK);
  EXPECT_EQ(call.value, 0);
  EXPECT_THAT(answerer.Texts(), ElementsAre("Can not start Zorvane"));
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, "ProgramPath", RRF_RT_ANY, &type, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(standIn.Starts(), 1);
}

TEST_F(ZorvexTest, NoDownloadManagerAndNoProgramAnswersZeroSilently) {
  MessageBoxAnswerer answerer("Zorvane");
  EXPECT_EQ(Offer(L"http://example.org/setup.exe").value, 0);
  EXPECT_THAT(answerer.TextsThroughMarker(), ElementsAre(kDialogMarker));
}

using Export = HRESULT(STDAPICALLTYPE*)();

TEST_F(ZorvexTest, ModuleStaysWhileObjectsOrServerLocksLive) {
  HMODULE module = GetModuleHandleA("Zorvex.dll");
  ASSERT_NE(module, nullptr);
  auto canUnloadNow = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  ASSERT_NE(canUnloadNow, nullptr);
  EXPECT_EQ(canUnloadNow(), S_OK);

  for (const CLSID* clsid : {&CLSID_Catcher, &CLSID_ContextMenu}) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(*clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.put_void()), S_OK);
    ComPtr<IDispatch> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.put_void()), S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    object.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "locked";
    ASSERT_EQ(CoGetClassObject(*clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.put_void()), S_OK);
    factory->LockServer(FALSE);
    factory.reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
  }
}

// An outer object that only answers IUnknown itself.
class Outer final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = IsEqualIID(iid, IID_IUnknown) ? this : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
};

TEST_F(ZorvexTest, ClassesAnswerTheirInterfacesAndCanBeAggregated) {
  struct Shape {
    const CLSID* clsid;
    std::vector<const IID*> answered;
    std::vector<const IID*> refused;
  };
  const Shape shapes[] = {
      {&CLSID_Catcher, {&IID_ICatcher, &IID_IDispatch, &IID_IUnknown}, {&IID_IObjectSafety, &IID_IContextMenu}},
      {&CLSID_ContextMenu,
       {&IID_IContextMenu, &IID_IObjectSafety, &IID_IDispatch, &IID_IUnknown},
       {&IID_ICatcher, &IID_IClassFactory}},
  };
  for (const Shape& shape : shapes) {
    ComPtr<IUnknown> object;
    ASSERT_EQ(CoCreateInstance(*shape.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.put_void()), S_OK);
    for (const IID* iid : shape.answered) {
      ComPtr<IUnknown> answer;
      EXPECT_EQ(object->QueryInterface(*iid, answer.put_void()), S_OK);
    }
    for (const IID* iid : shape.refused) {
      IUnknown* answer = reinterpret_cast<IUnknown*>(1);
      EXPECT_EQ(object->QueryInterface(*iid, reinterpret_cast<void**>(&answer)), E_NOINTERFACE);
      EXPECT_EQ(answer, nullptr);
    }
    object.reset();

    Outer outer;
    ComPtr<IUnknown> inner;
    ASSERT_EQ(CoCreateInstance(*shape.clsid, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, inner.put_void()), S_OK);
  }
}

struct SafetyStep {
  enum Kind { kGet, kSet } kind;
  const IID* iid;
  DWORD mask;     // kSet
  DWORD options;  // kSet
  HRESULT result;
  DWORD supported;  // kGet
  DWORD enabled;    // kGet
};

TEST_F(ZorvexTest, ContextMenuObjectIsSafeForUntrustedDataOnly) {
  ComPtr<IObjectSafety> safety;
  ASSERT_EQ(CoCreateInstance(CLSID_ContextMenu, nullptr, CLSCTX_INPROC_SERVER, IID_IObjectSafety, safety.put_void()),
            S_OK);
  DWORD supported = 9, enabled = 9;
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled), E_POINTER);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, nullptr), E_POINTER);

  constexpr DWORD kData = INTERFACESAFE_FOR_UNTRUSTED_DATA, kCaller = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
  const SafetyStep steps[] = {
      {SafetyStep::kGet, &IID_IDispatch, 0, 0, S_OK, kData, 0},
      {SafetyStep::kGet, &IID_IPersist, 0, 0, E_NOINTERFACE, 0, 0},
      {SafetyStep::kSet, &IID_IContextMenu, kData, kData, S_OK, 0, 0},
      {SafetyStep::kGet, &IID_IContextMenu, 0, 0, S_OK, kData, kData},
      {SafetyStep::kSet, &IID_IDispatch, kCaller, kCaller, E_FAIL, 0, 0},
      {SafetyStep::kSet, &IID_IDispatch, kCaller | kData, kData, E_FAIL, 0, 0},
      {SafetyStep::kSet, &IID_IPersist, kData, 0, E_NOINTERFACE, 0, 0},
      {SafetyStep::kSet, &IID_IDispatch, 0, kData | kCaller, S_OK, 0, 0},  // nothing named: nothing changes
      {SafetyStep::kGet, &IID_IDispatch, 0, 0, S_OK, kData, kData},
      {SafetyStep::kSet, &IID_IObjectSafety, kData, kCaller, S_OK, 0, 0},
      {SafetyStep::kGet, &IID_IUnknown, 0, 0, S_OK, kData, 0},
  };
  int index = 0;
  for (const SafetyStep& step : steps) {
    SCOPED_TRACE(testing::Message() << "step " << index++);
    if (step.kind == SafetyStep::kSet) {
      EXPECT_EQ(safety->SetInterfaceSafetyOptions(*step.iid, step.mask, step.options), step.result);
      continue;
    }
    supported = enabled = 9;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(*step.iid, &supported, &enabled), step.result);
    EXPECT_EQ(supported, step.supported);
    EXPECT_EQ(enabled, step.enabled);
  }
}

}  // namespace
