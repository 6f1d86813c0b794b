// The bind-status callback under Wine's urlmon, driven as the browser's own
// binding drives it: the request headers the browser negotiates (Referer)
// and the cookie jar's Cookie, the response headers, and standing in for the
// browser's callback, which comes back into the bind context afterwards.
#include "loopback_http.h"

#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "DMMain.h"
#include "watch_support.h"

using namespace zv::test;
using zv::watch::TBindStatusCallBack;

namespace {

constexpr char kDate[] = "Wed, 01 Jan 2003 10:20:30 GMT";
constexpr char kReferer[] = "http://www.example.org/downloads/index.html";

class CallbackTest : public testing::Test {
 protected:
  std::string Serve(const std::string& fileName, std::vector<std::pair<std::string, std::string>> headers,
                    const std::string& body = "twelve bytes") {
    return ServeAtUniquePath(server_, fileName, std::move(headers), body);
  }

  // A binding of `url` whose callback is `callback`, as the browser binds.
  HRESULT Bind(const std::string& url, IBindStatusCallback* callback) {
    ComPtr<IBindCtx> context = NewBindContext();
    RegisterBindStatusCallback(context.get(), callback, nullptr, 0);
    ComPtr<IMoniker> moniker = UrlMoniker(url);
    ComPtr<IUnknown> stream;
    return moniker->BindToStorage(context.get(), nullptr, IID_IStream, stream.put_void());
  }

  ComApartment apartment_;
  zv::test::LoopbackHttpServer server_;
};

TEST_F(CallbackTest, CollectsTheRequestAndResponseHeadersOfTheBinding) {
  const std::string url = Serve("get.cgi", {{"Content-Type", "application/octet-stream"},
                                            {"Content-Disposition", "attachment; FILENAME=\"Data.bin\""},
                                            {"Date", kDate}});
  ASSERT_TRUE(InternetSetCookieA(url.c_str(), nullptr, "pref=dark"));
  ComPtr<TBindStatusCallBack> ours = ComPtr<TBindStatusCallBack>::Share(new TBindStatusCallBack);
  NegotiatingCallback browser(ours.get(), kReferer);
  ASSERT_EQ(Bind(url, &browser), S_OK);

  EXPECT_EQ(ours->Details().fileName, "Data.bin");
  EXPECT_EQ(ours->Details().referer, kReferer);
  EXPECT_EQ(ours->Details().cookie, "pref=dark");
  EXPECT_EQ(ours->Details().mimeType, "application/octet-stream");
  EXPECT_EQ(ours->Details().size, 12);
  EXPECT_EQ(ours->Details().fileDateTime, kDate);
  EXPECT_FALSE(ours->HoldsBinding()) << "the binding is let go when it stops";

  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("Referer").value_or(""), kReferer);
}

TEST_F(CallbackTest, HeadersThatAreAbsentLeaveTheirFieldsEmpty) {
  const std::string stem = UniqueStem("plain");
  const std::string url = Serve(stem + ".txt", {});
  ComPtr<TBindStatusCallBack> ours = ComPtr<TBindStatusCallBack>::Share(new TBindStatusCallBack);
  ASSERT_EQ(Bind(url, ours.get()), S_OK);

  EXPECT_EQ(ours->Details().referer, "");
  EXPECT_EQ(ours->Details().cookie, "");
  EXPECT_EQ(ours->Details().fileDateTime, "");
  EXPECT_EQ(ours->Details().fileName, stem + "[0]");  // Wine's cache file
  EXPECT_EQ(ours->Details().size, 12);
}

TEST_F(CallbackTest, ContentDispositionTheHeadersGaveWinsOverTheCacheFile) {
  const std::string url = Serve("download.php?id=3", {{"Content-Disposition", "attachment;filename = 50%25.pdf"}});
  ComPtr<TBindStatusCallBack> ours = ComPtr<TBindStatusCallBack>::Share(new TBindStatusCallBack);
  ASSERT_EQ(Bind(url, ours.get()), S_OK);
  EXPECT_EQ(ours->Details().fileName, "50%.pdf");
}

// --- Standing in for the browser's callback -----------------------------------------------------

TEST(BindStatusCallBack, DoesNotPassTheContentDispositionStatusOn) {
  BrowserCallback browser;
  ComPtr<TBindStatusCallBack> ours = ComPtr<TBindStatusCallBack>::Share(new TBindStatusCallBack);
  ours->StandInFor(zv::com::ComPtr<IBindStatusCallback>::Share(&browser), nullptr);
  EXPECT_EQ(ours->OnProgress(0, 0, BINDSTATUS_CONTENTDISPOSITIONATTACH, L"attachment"), S_OK);
  EXPECT_EQ(ours->OnProgress(1, 2, BINDSTATUS_REDIRECTING, L"http://h/"), S_OK);
  EXPECT_EQ(browser.Statuses(), std::vector<ULONG>{BINDSTATUS_REDIRECTING});
}

TEST(BindStatusCallBack, WithoutAPreviousCallbackStartAndStopTouchOnlyTheBindingAndTheName) {
  zv::watch::TFileDetails known;
  known.fileName = "old.bin";
  known.referer = "http://r/";
  known.size = 5;
  ComPtr<TBindStatusCallBack> ours = ComPtr<TBindStatusCallBack>::Share(new TBindStatusCallBack(known));
  EXPECT_EQ(ours->OnStartBinding(0, nullptr), S_OK);
  EXPECT_EQ(ours->Details().fileName, "");
  EXPECT_EQ(ours->Details().referer, "http://r/");
  EXPECT_EQ(ours->OnStopBinding(S_OK, nullptr), S_OK);
  EXPECT_EQ(ours->Details().referer, "http://r/");
  EXPECT_EQ(ours->Details().size, 5);
}

// Internet Explorer's urlmon refuses a second callback over the browser's
// own and hands the browser's back; Wine's replaces it (the download tests
// cover that path). This registrar answers as the browser does, and
// otherwise registers through Wine's, with the browser's request headers
// negotiated around the component's callback.
NegotiatingCallback* g_negotiating = nullptr;

HRESULT STDAPICALLTYPE RegisterAsTheBrowserDoes(IBindCtx* context, IBindStatusCallback* callback,
                                                IBindStatusCallback** previous, DWORD reserved) {
  if (ComPtr<IUnknown> held = HeldCallback(context)) {
    held->QueryInterface(IID_IBindStatusCallback, reinterpret_cast<void**>(previous));
    return E_FAIL;
  }
  g_negotiating->SetInner(callback);
  return RegisterBindStatusCallback(context, g_negotiating, previous, reserved);
}

class StandInForTest : public CallbackTest {
 protected:
  StandInForTest() : standIn_(Options()), negotiating_(nullptr, kReferer) {}
  static zv::test::StandInOptions Options() {
    zv::test::StandInOptions options;
    options.caption = "Kestrix host test " + std::to_string(GetCurrentProcessId());
    return options;
  }
  void SetUp() override {
    zv::test::ReleaseAllKeys();
    zv::watch::SettingsFileName = dir_.File("Settings.dat");
    WriteSettings(zv::watch::SettingsFileName, {{"ZVCaption", Options().caption}});
    standIn_.Launch();
    g_negotiating = &negotiating_;
  }
  void TearDown() override { g_negotiating = nullptr; }

  zv::test::ScratchDir dir_;
  zv::test::StandIn standIn_;
  NegotiatingCallback negotiating_;
};

TEST_F(StandInForTest, PassesProgressToTheBrowsersCallbackAndPutsItBack) {
  const std::string url = Serve("setup.msi", {{"Content-Type", "application/x-msi"},
                                              {"Content-Disposition", "attachment; filename=setup.msi"},
                                              {"Date", kDate}});
  ASSERT_TRUE(InternetSetCookieA(url.c_str(), nullptr, "visit=1"));
  BrowserCallback browser;
  ComPtr<IBindCtx> context = NewBindContext();
  HoldCallback(context.get(), &browser);
  ComPtr<IMoniker> moniker = UrlMoniker(url);

  ASSERT_EQ(zv::watch::Download(moniker.get(), context.get(), BINDVERB_GET, nullptr, &RegisterAsTheBrowserDoes), S_OK);

  // Told at the start that its own binding has stopped, then every status.
  ASSERT_FALSE(browser.events.empty());
  EXPECT_EQ(browser.events.front(), "stop 000000C8");
  EXPECT_EQ(std::count(browser.events.begin(), browser.events.end(), "start"), 0);
  const std::vector<ULONG> statuses = browser.Statuses();
  const auto at = [&](ULONG status) { return std::find(statuses.begin(), statuses.end(), status); };
  ASSERT_NE(at(BINDSTATUS_BEGINDOWNLOADDATA), statuses.end());
  ASSERT_NE(at(BINDSTATUS_CACHEFILENAMEAVAILABLE), statuses.end());
  EXPECT_LT(at(BINDSTATUS_BEGINDOWNLOADDATA), at(BINDSTATUS_CACHEFILENAMEAVAILABLE));
  EXPECT_NE(at(BINDSTATUS_ENDDOWNLOADDATA), statuses.end());
  EXPECT_EQ(at(BINDSTATUS_CONTENTDISPOSITIONATTACH), statuses.end());

  // The browser's callback is back under its key.
  ComPtr<IUnknown> browserIdentity;
  browser.QueryInterface(IID_IUnknown, browserIdentity.put_void());
  EXPECT_EQ(HeldCallback(context.get()).get(), browserIdentity.get());

  EXPECT_EQ(ReceivedBytes(standIn_),
            std::vector<std::string>{"URL=" + url + "\r\nReferer=" + kReferer +
                                     "\r\nFileName=setup.msi\r\nMIMEType=application/x-msi\r\nSize=12"
                                     "\r\nFileDateTime=" +
                                     kDate + "\r\nCookie=dmlzaXQ9MQ==\r\nMode=DEFAULT"});
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("Referer").value_or(""), kReferer);

  context.reset();
  browserIdentity.reset();
  EXPECT_EQ(browser.refs(), 1) << "every reference on the browser's callback is given back";
}

// Standing in, the binding is to storage and ends at its first data; the
// browser's callback still comes back.
TEST_F(StandInForTest, ALargeFileIsHandedOverAfterItsFirstData) {
  const std::string stem = UniqueStem("large");
  const LargeFile file = ServeLargeFile(server_, stem, {{"Content-Type", "application/zip"}, {"Date", kDate}});
  BrowserCallback browser;
  ComPtr<IBindCtx> context = NewBindContext();
  HoldCallback(context.get(), &browser);
  ComPtr<IMoniker> moniker = UrlMoniker(file.url);

  ASSERT_EQ(zv::watch::Download(moniker.get(), context.get(), BINDVERB_GET, nullptr, &RegisterAsTheBrowserDoes), S_OK);
  EXPECT_EQ(ReceivedBytes(standIn_),
            std::vector<std::string>{"URL=" + file.url + "\r\nReferer=" + kReferer + "\r\nFileName=" + stem +
                                     "[0]\r\nMIMEType=application/zip\r\nSize=" + std::to_string(file.bytes) +
                                     "\r\nFileDateTime=" + kDate + "\r\nMode=DEFAULT"});
  ExpectClosedEarly(server_, file);

  ComPtr<IUnknown> browserIdentity;
  browser.QueryInterface(IID_IUnknown, browserIdentity.put_void());
  EXPECT_EQ(HeldCallback(context.get()).get(), browserIdentity.get());
  context.reset();
  browserIdentity.reset();
  EXPECT_EQ(browser.refs(), 1) << "every reference on the browser's callback is given back";
}

}  // namespace
