// The browser helper object as Internet Explorer drives it: created with
// CoCreateInstance after registration, sited by a stand-in browser, and
// fed BeforeNavigate2 through the sink it advised, with real variants.
#include <windows.h>
#include <exdispid.h>

#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ZVHelper.h"
#include "message_box.h"
#include "registration.h"
#include "standin_browser.h"
#include "zvtest.h"

using namespace zv::test;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

const std::string kModule = WinPath(ZV_HELPER_MODULE);
constexpr char kPage[] = "http://example.org/downloads.html";

class IECatcherTest : public InProcessModuleTest {
 protected:
  IECatcherTest() : InProcessModuleTest(kModule) {}
  void TearDown() override {
    catcher_.reset();
    InProcessModuleTest::TearDown();
  }

  // As Internet Explorer loads a helper object into a window.
  void Load(StandInBrowser& browser) {
    ASSERT_EQ(
        CoCreateInstance(CLSID_IECatcher, nullptr, CLSCTX_INPROC_SERVER, IID_IObjectWithSite, catcher_.put_void()),
        S_OK);
    ASSERT_EQ(catcher_->SetSite(browser.site()), S_OK);
  }

  zv::com::ComPtr<IObjectWithSite> catcher_;
};

Navigation Click(const wchar_t* url) {
  Navigation n;
  n.url = url;
  return n;
}

TEST_F(IECatcherTest, AcceptedLinkIsHandedOverAndTheNavigationCancelled) {
  StandIn standIn;
  standIn.Launch();
  StandInBrowser browser;
  Load(browser);
  EXPECT_EQ(browser.Connected(), 1);

  const NavigationResult result = browser.BeforeNavigate2(Click(L"http://example.org/files/setup.zip"));
  ASSERT_TRUE(result.fired);
  EXPECT_EQ(result.hr, S_OK);
  EXPECT_EQ(result.cancel, VARIANT_TRUE);
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  // A plain link still sends its (empty) post data line.
  EXPECT_EQ(texts[0].bytes, std::string("URL=http://example.org/files/setup.zip\nReferer=") + kPage + "\nPostData=");
  EXPECT_EQ(texts[0].cbData, texts[0].bytes.size());
  EXPECT_EQ(standIn.ForegroundQueries().size(), 1u);
}

TEST_F(IECatcherTest, ZeroReplyClearsTheCancelFlag) {
  StandInOptions options;
  options.reply = 0;
  StandIn standIn(options);
  standIn.Launch();
  StandInBrowser browser;
  Load(browser);

  Navigation click = Click(L"http://example.org/files/setup.exe");
  click.cancel = VARIANT_TRUE;
  EXPECT_EQ(browser.BeforeNavigate2(click).cancel, VARIANT_FALSE);
  EXPECT_EQ(standIn.WaitForTexts(1).size(), 1u);
}

TEST_F(IECatcherTest, FormPostToTheFileHostCarriesItsBodyUpToTheFirstNul) {
  StandIn standIn;
  standIn.Launch();
  StandInBrowser browser;
  Load(browser);

  Navigation post = Click(L"http://dl3.filedepot.net/get/archive.zip");
  post.postData = std::string("dl.start=Free&k=\x01\xE9\xFF\0after", 28);
  EXPECT_EQ(browser.BeforeNavigate2(post).cancel, VARIANT_TRUE);
  post.postData = std::string("dl.start=PREMIUM&k=1");
  EXPECT_EQ(browser.BeforeNavigate2(post).cancel, VARIANT_FALSE);  // refused: untouched

  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, std::string("URL=http://dl3.filedepot.net/get/archive.zip\nReferer=") + kPage +
                                "\nPostData=dl.start=Free&k=\x01\xE9\xFF");
}

struct Refused {
  const char* name;
  const wchar_t* url;
  std::optional<std::string> postData;
  std::vector<int> keys;
  std::vector<std::pair<const char*, const char*>> settings;
};

void PrintTo(const Refused& r, std::ostream* os) { *os << r.name; }

class IECatcherRefusals : public IECatcherTest, public testing::WithParamInterface<Refused> {};

TEST_P(IECatcherRefusals, LeaveTheCancelFlagAndSendNothing) {
  const Refused& r = GetParam();
  StandInOptions options;
  options.fgReply = 1;
  StandIn standIn(options);
  standIn.Launch();
  for (const auto& [name, value] : r.settings) registry_.Set(name, value);
  StandInBrowser browser;
  Load(browser);

  Navigation click = Click(r.url);
  click.postData = r.postData;
  click.cancel = VARIANT_TRUE;  // whatever the browser set stays
  BYTE state[256] = {};
  for (int key : r.keys) state[key] = 0x80;
  SetKeyboardState(state);
  const NavigationResult result = browser.BeforeNavigate2(click);
  ReleaseAllKeys();
  EXPECT_EQ(result.hr, S_OK);
  EXPECT_EQ(result.cancel, VARIANT_TRUE);
  EXPECT_THAT(BytesOf(standIn.TextsThroughMarker()), ElementsAre(kMarkerText));
  EXPECT_THAT(standIn.ForegroundQueries(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IECatcherRefusals,
    testing::Values(
        Refused{"PageNotAccepted", L"http://example.org/index.html", std::nullopt, {}, {}},
        Refused{"MailLink", L"mailto:someone@example.org", std::nullopt, {VK_CONTROL, VK_MENU}, {}},
        Refused{"ScriptLink", L"javascript:download('a.zip')", std::nullopt, {}, {}},
        Refused{"ShiftHeld", L"http://example.org/a.zip", std::nullopt, {VK_SHIFT}, {}},
        Refused{"ShiftWithCtrlAlt", L"http://example.org/a.zip", std::nullopt, {VK_SHIFT, VK_CONTROL, VK_MENU}, {}},
        Refused{
            "IntegrationOff", L"http://example.org/a.zip", std::nullopt, {}, {{"IntegrationTemporaryOff", "FALSE"}}},
        Refused{"QueryInUrl", L"http://example.org/a.zip?x=1", std::nullopt, {}, {}},
        Refused{"FileHostPrefix", L"http://www.filedepot.net/a.zip", std::nullopt, {}, {}},
        Refused{"PostToAnotherSite", L"http://example.org/upload/a.zip", std::string("f=1"), {}, {}},
        Refused{"EmptyUrl", L"", std::nullopt, {VK_CONTROL, VK_MENU}, {}}),
    [](const testing::TestParamInfo<Refused>& info) { return std::string(info.param.name); });

TEST_F(IECatcherTest, CtrlAltForcesAnyWebUrl) {
  StandIn standIn;
  standIn.Launch();
  StandInBrowser browser;
  Load(browser);
  HoldKeys({VK_CONTROL, VK_MENU});
  const NavigationResult result = browser.BeforeNavigate2(Click(L"HTTPS://example.org/get?id=42"));
  ReleaseAllKeys();
  EXPECT_EQ(result.cancel, VARIANT_TRUE);
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, std::string("URL=HTTPS://example.org/get?id=42\nReferer=") + kPage + "\nPostData=");
}

TEST_F(IECatcherTest, CancelThatIsNoBooleanReferenceGetsTheQueryButNoText) {
  StandInOptions options;
  options.fgReply = 1;
  StandIn standIn(options);
  standIn.Launch();
  StandInBrowser browser;
  Load(browser);

  ForegroundWindow other;
  Navigation click = Click(L"http://example.org/files/setup.zip");
  click.cancelByRef = false;
  const NavigationResult result = browser.BeforeNavigate2(click);
  EXPECT_EQ(result.hr, S_OK);
  // The query was sent, and its reply of 1 brought the window to the front
  // (once the stand-in's thread handled the activation: on a busy machine,
  // a while).
  EXPECT_EQ(standIn.ForegroundQueries().size(), 1u);
  HWND window = standIn.WaitForWindow();
  for (int i = 0; i < 500 && GetForegroundWindow() != window; ++i) Sleep(20);
  EXPECT_EQ(GetForegroundWindow(), window);
  EXPECT_THAT(standIn.Texts(), IsEmpty());
  EXPECT_EQ(browser.LocationQueries(), 0);
}

TEST_F(IECatcherTest, MalformedEventsAreIgnored) {
  StandIn standIn;
  standIn.Launch();
  StandInBrowser browser;
  Load(browser);

  EXPECT_EQ(browser.InvokeRaw(DISPID_BEFORENAVIGATE2, nullptr), E_INVALIDARG);
  Navigation few = Click(L"http://example.org/files/setup.zip");
  few.argCount = 5;
  EXPECT_EQ(browser.BeforeNavigate2(few).hr, S_OK);
  Navigation plainUrl = Click(L"http://example.org/files/setup.zip");
  plainUrl.urlByRef = false;
  EXPECT_EQ(browser.BeforeNavigate2(plainUrl).hr, S_OK);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(browser.InvokeRaw(DISPID_DOCUMENTCOMPLETE, &none), S_OK);
  EXPECT_THAT(BytesOf(standIn.TextsThroughMarker()), ElementsAre(kMarkerText));
}

// BeforeNavigate2's seven arguments as a browser with other ideas of their
// types might pass them (in DISPPARAMS order: Cancel first, the browser
// last). Each variant a by-reference argument points to lives here.
struct RawNavigation {
  VARIANT url, flags, frame, post, headers;
  VARIANT_BOOL cancel = VARIANT_FALSE;
  VARIANT args[7];
  DISPPARAMS params{args, nullptr, 7, 0};

  RawNavigation() {
    for (VARIANT* v : {&url, &flags, &frame, &post, &headers}) VariantInit(v);
    V_VT(&url) = VT_BSTR;
    V_BSTR(&url) = SysAllocString(L"http://example.org/files/setup.zip");
    VARIANT* referenced[] = {nullptr, &headers, &post, &frame, &flags, &url};
    for (int i = 1; i < 6; ++i) {
      VariantInit(&args[i]);
      V_VT(&args[i]) = VT_BYREF | VT_VARIANT;
      V_VARIANTREF(&args[i]) = referenced[i];
    }
    VariantInit(&args[0]);
    V_VT(&args[0]) = VT_BYREF | VT_BOOL;
    V_BOOLREF(&args[0]) = &cancel;
    VariantInit(&args[6]);  // no browser object: the catcher does not use it
  }
  ~RawNavigation() { VariantClear(&url); }
  RawNavigation(const RawNavigation&) = delete;
  RawNavigation& operator=(const RawNavigation&) = delete;
};

struct OddNavigation {
  const char* name;
  void (*shape)(RawNavigation&);
  const char* tail;  // the text's lines after the URL and referer; null: nothing is sent
};

void PrintTo(const OddNavigation& o, std::ostream* os) { *os << o.name; }

class IECatcherOddNavigations : public IECatcherTest, public testing::WithParamInterface<OddNavigation> {};

TEST_P(IECatcherOddNavigations, AreIgnoredUnlessTheyCarryALink) {
  const OddNavigation& o = GetParam();
  StandIn standIn;
  standIn.Launch();
  StandInBrowser browser;
  Load(browser);
  RawNavigation navigation;
  o.shape(navigation);
  EXPECT_EQ(browser.InvokeRaw(DISPID_BEFORENAVIGATE2, &navigation.params), S_OK);
  if (o.tail) {
    const auto texts = standIn.WaitForTexts(1);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].bytes, std::string("URL=http://example.org/files/setup.zip\nReferer=") + kPage + o.tail);
    EXPECT_EQ(navigation.cancel, VARIANT_TRUE);
  } else {
    EXPECT_THAT(BytesOf(standIn.TextsThroughMarker()), ElementsAre(kMarkerText));
    EXPECT_EQ(navigation.cancel, VARIANT_FALSE);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IECatcherOddNavigations,
    testing::Values(
        OddNavigation{"AsExpected", [](RawNavigation&) {}, "\nPostData="},
        OddNavigation{"PostDataOfNoType", [](RawNavigation& n) { V_VT(&n.post) = VT_NULL; }, ""},
        OddNavigation{"UrlReferenceNull", [](RawNavigation& n) { V_VARIANTREF(&n.args[5]) = nullptr; }, nullptr},
        OddNavigation{"UrlANumber",
                      [](RawNavigation& n) {
                        VariantClear(&n.url);
                        V_VT(&n.url) = VT_I4;
                        V_I4(&n.url) = 42;
                      },
                      nullptr},
        OddNavigation{"UrlANullObject",
                      [](RawNavigation& n) {
                        VariantClear(&n.url);
                        V_VT(&n.url) = VT_DISPATCH;
                        V_DISPATCH(&n.url) = nullptr;
                      },
                      nullptr},
        OddNavigation{"UrlNull",
                      [](RawNavigation& n) {
                        VariantClear(&n.url);
                        V_VT(&n.url) = VT_NULL;
                      },
                      nullptr},
        OddNavigation{"UrlByteArrayTag", [](RawNavigation& n) { V_VT(&n.args[5]) = VT_BYREF | VT_UI1; }, nullptr},
        OddNavigation{"CancelReferenceNull", [](RawNavigation& n) { V_BOOLREF(&n.args[0]) = nullptr; }, nullptr},
        OddNavigation{"CancelANumber",
                      [](RawNavigation& n) {
                        V_VT(&n.args[0]) = VT_I4;
                        V_I4(&n.args[0]) = 0;
                      },
                      nullptr},
        OddNavigation{"NoArgumentArray", [](RawNavigation& n) { n.params.rgvarg = nullptr; }, nullptr}),
    [](const testing::TestParamInfo<OddNavigation>& info) { return std::string(info.param.name); });

TEST_F(IECatcherTest, RefererFollowsTheBrowserLocation) {
  StandIn standIn;
  standIn.Launch();
  StandInBrowser browser;
  Load(browser);

  browser.SetLocation(std::wstring(L"http://example.org/p\u00e9ge.html"));
  browser.BeforeNavigate2(Click(L"http://example.org/a.zip"));
  browser.SetLocation(std::nullopt);  // a null location string
  browser.BeforeNavigate2(Click(L"http://example.org/b.zip"));
  browser.SetLocation(std::nullopt, E_FAIL);
  browser.BeforeNavigate2(Click(L"http://example.org/c.zip"));

  const auto texts = standIn.WaitForTexts(3);
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0].bytes, "URL=http://example.org/a.zip\nReferer=http://example.org/p\xE9ge.html\nPostData=");
  EXPECT_EQ(texts[1].bytes, "URL=http://example.org/b.zip\nReferer=\nPostData=");
  EXPECT_EQ(texts[2].bytes, "URL=http://example.org/c.zip\nPostData=");
}

TEST_F(IECatcherTest, NoDownloadManagerAndNoAppPathLetsTheNavigationProceed) {
  StandInBrowser browser;
  Load(browser);
  EXPECT_EQ(browser.BeforeNavigate2(Click(L"http://example.org/files/setup.zip")).cancel, VARIANT_FALSE);
}

// Each way the browser ends the helper's work: the connection is undone and
// the browser object is released, so a closed window or tab leaks nothing.
struct LetGo {
  const char* name;
  std::function<HRESULT(StandInBrowser&, IObjectWithSite&)> end;
};

void PrintTo(const LetGo& c, std::ostream* os) { *os << c.name; }

class IECatcherLetsGo : public IECatcherTest, public testing::WithParamInterface<LetGo> {};

TEST_P(IECatcherLetsGo, OfTheBrowserAndItsConnection) {
  StandIn standIn;
  standIn.Launch();
  StandInBrowser browser;
  const long before = browser.References();
  Load(browser);
  EXPECT_EQ(browser.BeforeNavigate2(Click(L"http://example.org/a.zip")).cancel, VARIANT_TRUE);

  EXPECT_EQ(GetParam().end(browser, *catcher_.get()), S_OK);
  EXPECT_EQ(browser.Unadvises(), 1);
  EXPECT_EQ(browser.Connected(), 0);
  EXPECT_EQ(browser.References(), before);
  EXPECT_FALSE(browser.BeforeNavigate2(Click(L"http://example.org/b.zip")).fired);
  EXPECT_EQ(standIn.WaitForTexts(1).size(), 1u);
  // A later null site finds nothing left to undo.
  EXPECT_EQ(catcher_->SetSite(nullptr), S_OK);
  EXPECT_EQ(browser.Unadvises(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, IECatcherLetsGo,
    testing::Values(LetGo{"OnQuit", [](StandInBrowser& b, IObjectWithSite&) { return b.OnQuit(); }},
                    LetGo{"OlderQuit", [](StandInBrowser& b, IObjectWithSite&) { return b.Quit(); }},
                    LetGo{"NullSite", [](StandInBrowser&, IObjectWithSite& s) { return s.SetSite(nullptr); }}),
    [](const auto& info) { return std::string(info.param.name); });

class IECatcherSinkFailures : public IECatcherTest, public testing::WithParamInterface<EventSource> {};

TEST_P(IECatcherSinkFailures, ShowTheMessageBoxOnce) {
  MessageBoxAnswerer answerer("ZVHelper");
  StandInBrowser browser(GetParam());
  Load(browser);
  EXPECT_THAT(answerer.TextsThroughMarker(), ElementsAre("Failure sinking events from IWebBrowser2", kDialogMarker));
  EXPECT_EQ(browser.Connected(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, IECatcherSinkFailures,
                         testing::Values(EventSource::kAdviseFails, EventSource::kNotFound));

TEST_F(IECatcherTest, SitesWithoutEventsAreAcceptedSilently) {
  MessageBoxAnswerer answerer("ZVHelper");
  StandInBrowser noContainer(EventSource::kNoContainer);
  Load(noContainer);
  EXPECT_EQ(catcher_->SetSite(NewPlainSite().get()), S_OK);
  EXPECT_THAT(answerer.TextsThroughMarker(), ElementsAre(kDialogMarker));

  void* site = reinterpret_cast<void*>(1);
  EXPECT_EQ(catcher_->GetSite(IID_IUnknown, &site), E_FAIL);
  EXPECT_EQ(site, nullptr);
  EXPECT_EQ(catcher_->GetSite(IID_IUnknown, nullptr), E_FAIL);
}

TEST_F(IECatcherTest, AnswersItsInterfacesAndRefusesAggregation) {
  using Export = HRESULT(STDAPICALLTYPE*)();
  HMODULE module = GetModuleHandleA("ZVHelper.dll");
  ASSERT_NE(module, nullptr);
  auto canUnloadNow = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  ASSERT_NE(canUnloadNow, nullptr);

  zv::com::ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_IECatcher, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.put_void()),
            S_OK);
  IUnknown* inner = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(factory->CreateInstance(NewPlainSite().get(), IID_IUnknown, reinterpret_cast<void**>(&inner)),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(inner, nullptr);

  zv::com::ComPtr<IUnknown> object;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IIECatcher, object.put_void()), S_OK);
  factory.reset();
  for (const IID* iid : {&IID_IDispatch, &IID_ISupportErrorInfo, &IID_IObjectWithSite, &IID_IUnknown}) {
    zv::com::ComPtr<IUnknown> answer;
    EXPECT_EQ(object->QueryInterface(*iid, answer.put_void()), S_OK);
  }
  for (const IID* iid : {&IID_IConnectionPointContainer, &IID_IWebBrowser2, &IID_IClassFactory}) {
    IUnknown* answer = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(object->QueryInterface(*iid, reinterpret_cast<void**>(&answer)), E_NOINTERFACE);
    EXPECT_EQ(answer, nullptr);
  }
  zv::com::ComPtr<ISupportErrorInfo> errorInfo;
  ASSERT_EQ(object.As(IID_ISupportErrorInfo, errorInfo), S_OK);
  EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IIECatcher), S_OK);
  EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
  errorInfo.reset();

  EXPECT_EQ(canUnloadNow(), S_FALSE);
  object.reset();
  EXPECT_EQ(canUnloadNow(), S_OK);
}

}  // namespace
