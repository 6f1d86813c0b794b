// The protocol handler's Start as the URL moniker layer calls it, with a
// stand-in for the request's bind information: the result code, what the
// stand-in download manager received, and the trace lines in order.
#include <windows.h>
#include <urlmon.h>

#include <optional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "com/com_ptr.h"
#include "debug_output.h"
#include "standin_bind_info.h"
#include "standin_frame.h"
#include "zvhandler.h"
#include "zvtest.h"

using namespace zv::test;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

namespace {

const std::string kModule = WinPath(ZV_HANDLER_MODULE);

constexpr char kBegin[] = "TL Protocol handler.dll version 1.0.0.1. Begin\n";
constexpr char kPost[] = "POST?\n";
constexpr char kCreate[] = "Create the command line\n";
constexpr char kFound[] = "ZV found\n";
constexpr char kOk1[] = "Ok 1\n";

std::string CommandLine(const std::string& text) { return "lpCommand = " + text + "\n"; }

class HandlerStartTest : public testing::Test {
 protected:
  void SetUp() override {
    ReleaseAllKeys();
    module_.reset(LoadLibraryA(kModule.c_str()));
    ASSERT_TRUE(module_);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module_.get(), "DllGetClassObject")));
    ASSERT_NE(get, nullptr);
    ASSERT_EQ(get(CLSID_HTTPPlugProt, IID_IClassFactory, factory_.put_void()), S_OK);
    registry_.Set("ZVCaption", StandInOptions().caption);
    registry_.Set("AcceptingTypes", "ZIP,EXE");
  }
  void TearDown() override {
    factory_.reset();
    ReleaseAllKeys();
    module_.reset();
  }

  HRESULT Start(const wchar_t* url, IInternetBindInfo* bindInfo = nullptr) {
    zv::com::ComPtr<IInternetProtocolRoot> protocol;
    const HRESULT hr = factory_->CreateInstance(nullptr, IID_IInternetProtocolRoot, protocol.put_void());
    if (FAILED(hr)) return hr;
    traces_.Clear();
    return protocol->Start(url, nullptr, bindInfo, PI_FORCE_ASYNC, 0);
  }

  HRESULT Start(const wchar_t* url, const BindRequest& request) {
    bindInfo_ = std::make_unique<StandInBindInfo>(request);
    return Start(url, bindInfo_.get());
  }

  std::vector<std::string> Traces() const { return traces_.Lines(); }

  zv::win::UniqueLibrary module_;
  zv::com::ComPtr<IClassFactory> factory_;
  ManagerRegistry registry_;
  DebugOutputCapture traces_;
  std::unique_ptr<StandInBindInfo> bindInfo_;
};

BindRequest Post(const std::string& body) {
  BindRequest request;
  request.verb = BINDVERB_POST;
  request.body = body;
  return request;
}

TEST_F(HandlerStartTest, OrdinaryPagePassesAtTheTypeFilter) {
  registry_.Set("AcceptingTypes", "ZIP");
  StandIn standIn;
  standIn.Launch();
  StandInBindInfo bindInfo;
  EXPECT_EQ(Start(L"http://example.org/news/index.html", &bindInfo), INET_E_USE_DEFAULT_PROTOCOLHANDLER);
  EXPECT_THAT(Traces(), ElementsAre(kBegin, "1\n", "2\n", "3\n", "4\n", "6\n", "This extention is not accepting\n"));
  EXPECT_EQ(bindInfo.calls(), 0);
  EXPECT_THAT(BytesOf(standIn.TextsThroughMarker()), ElementsAre(kMarkerText));
}

TEST_F(HandlerStartTest, AcceptedGetIsClaimedWithTheUrlAlone) {
  StandIn standIn;
  standIn.Launch();
  StandInBindInfo bindInfo;
  EXPECT_EQ(Start(L"http://example.org/files/setup.zip", &bindInfo), S_FALSE);
  const std::string text = "URL=http://example.org/files/setup.zip";
  EXPECT_THAT(Traces(), ElementsAre(kBegin, "1\n", "2\n", "3\n", "4\n", "6\n", "7\n", kPost, kCreate, CommandLine(text),
                                    kFound, kOk1));
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, text);
  EXPECT_EQ(texts[0].cbData, text.size());
  EXPECT_EQ(bindInfo.calls(), 1);
  EXPECT_EQ(bindInfo.outstanding(), 0);
}

TEST_F(HandlerStartTest, ZeroReplyLeavesTheRequestToTheBrowser) {
  StandInOptions options;
  options.reply = 0;
  StandIn standIn(options);
  standIn.Launch();
  EXPECT_EQ(Start(L"ftp://example.org/pub/tool.exe"), INET_E_USE_DEFAULT_PROTOCOLHANDLER);
  const auto traces = Traces();
  ASSERT_GE(traces.size(), 2u);
  EXPECT_THAT(std::vector<std::string>(traces.end() - 2, traces.end()), ElementsAre(kFound, kOk1));
  EXPECT_EQ(standIn.WaitForTexts(1).size(), 1u);
}

struct TracePath {
  const char* name;
  const wchar_t* url;
  std::vector<int> keys;
  std::vector<std::pair<const char*, const char*>> settings;
  std::vector<std::string> traces;  // after the first line
};

void PrintTo(const TracePath& p, std::ostream* os) { *os << p.name; }

class HandlerTracePaths : public HandlerStartTest, public testing::WithParamInterface<TracePath> {};

TEST_P(HandlerTracePaths, PassWithTheirTraceLines) {
  const TracePath& p = GetParam();
  for (const auto& [name, value] : p.settings) {
    if (value)
      registry_.Set(name, value);
    else
      registry_.Remove(name);
  }
  BYTE state[256] = {};
  for (int key : p.keys) state[key] = 0x80;
  SetKeyboardState(state);
  EXPECT_EQ(Start(p.url), INET_E_USE_DEFAULT_PROTOCOLHANDLER);
  std::vector<std::string> expected = {kBegin};
  expected.insert(expected.end(), p.traces.begin(), p.traces.end());
  EXPECT_EQ(Traces(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HandlerTracePaths,
    testing::Values(
        TracePath{"Shift", L"http://example.org/a.zip", {VK_SHIFT}, {}, {"Shift pressed.\n"}},
        TracePath{
            "ShiftWithCtrlAlt", L"http://example.org/a.zip", {VK_SHIFT, VK_CONTROL, VK_MENU}, {}, {"Shift pressed.\n"}},
        TracePath{"CatchingSwitchedOff", L"http://example.org/a.zip", {}, {{"IEUrlCatch", "FALSE"}}, {}},
        TracePath{"IntegrationOff",
                  L"http://example.org/a.zip",
                  {},
                  {{"IntegrationTemporaryOff", "FALSE"}},
                  {"UseCtrlAlt mode\n"}},
        TracePath{"FileHostPrefix", L"http://filedepot.net/a.zip", {}, {}, {"1\n"}},
        TracePath{"Query", L"http://example.org/a.zip?x=1", {}, {}, {"1\n", "2\n", "3\n", "? found\n"}},
        TracePath{
            "NoExtension", L"http://example.org/files/", {}, {}, {"1\n", "2\n", "3\n", "There is no extention\n"}},
        TracePath{"NoIgnoreList",
                  L"http://example.org/a.zip",
                  {},
                  {{"AcceptFileTypes", "FALSE"}},
                  {"1\n", "2\n", "3\n", "4\n", "5\n", "Ignoring types not found\n"}},
        TracePath{"IgnoredExtension",
                  L"http://example.org/a.zip",
                  {},
                  {{"AcceptFileTypes", "FALSE"}, {"IgnoringTypes", "EXE,ZIP"}},
                  {"1\n", "2\n", "3\n", "4\n", "5\n", "This extention is ignoring\n"}},
        TracePath{"NoAcceptList",
                  L"http://example.org/a.zip",
                  {},
                  {{"AcceptingTypes", nullptr}},
                  {"1\n", "2\n", "3\n", "4\n", "6\n", "Accepting types not found\n"}},
        TracePath{"NullUrl", nullptr, {}, {}, {}}),
    [](const testing::TestParamInfo<TracePath>& info) { return std::string(info.param.name); });

TEST_F(HandlerStartTest, SpecialPageWithAcceptedTypeIsCaughtDespiteItsQuery) {
  StandIn standIn;
  standIn.Launch();
  EXPECT_EQ(Start(L"http://www.example.org/QNRedir.asp?file=setup.exe"), S_FALSE);
  const std::string text = "URL=http://www.example.org/QNRedir.asp?file=setup.exe";
  EXPECT_THAT(Traces(), ElementsAre(kBegin, "1\n", "2\n", "3\n", kPost, kCreate, CommandLine(text), kFound, kOk1));
}

TEST_F(HandlerStartTest, PostToTheFileHostIsSentWithItsBody) {
  StandIn standIn;
  standIn.Launch();
  EXPECT_EQ(Start(L"http://dl1.filedepot.net/get/archive.zip", Post("dl.start=Free&id=7")), S_FALSE);
  EXPECT_EQ(bindInfo_->outstanding(), 0);
  // An empty body passes the post-data test as well: it has no premium marker.
  EXPECT_EQ(Start(L"http://dl1.filedepot.net/get/other.zip", Post("")), S_FALSE);
  const auto texts = standIn.WaitForTexts(2);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].bytes, "URL=http://dl1.filedepot.net/get/archive.zip\nPostData=dl.start=Free&id=7");
  EXPECT_EQ(texts[1].bytes, "URL=http://dl1.filedepot.net/get/other.zip\nPostData=");
}

TEST_F(HandlerStartTest, OtherPostsPassAfterTheBindInformation) {
  StandIn standIn;
  standIn.Launch();
  EXPECT_EQ(Start(L"http://example.org/upload/form.zip", Post("name=value")), INET_E_USE_DEFAULT_PROTOCOLHANDLER);
  EXPECT_THAT(Traces(), ElementsAre(kBegin, "1\n", "2\n", "3\n", "4\n", "6\n", "7\n", kPost));
  EXPECT_EQ(Start(L"http://example.org/upload/form.zip", Post("")), INET_E_USE_DEFAULT_PROTOCOLHANDLER);
  EXPECT_EQ(Start(L"http://dl1.filedepot.net/get/a.zip", Post("dl.start=PREMIUM&x=1")),
            INET_E_USE_DEFAULT_PROTOCOLHANDLER);
  EXPECT_EQ(bindInfo_->outstanding(), 0);
  EXPECT_THAT(BytesOf(standIn.TextsThroughMarker()), ElementsAre(kMarkerText));
}

TEST_F(HandlerStartTest, CtrlAltCatchesAnyRequestAndKeepsItsBody) {
  StandIn standIn;
  standIn.Launch();
  HoldKeys({VK_CONTROL, VK_MENU});
  EXPECT_EQ(Start(L"http://example.org/search?q=x", Post("q=x&bin=\x01\xFF\r\n")), S_FALSE);
  const std::string text = "URL=http://example.org/search?q=x\nPostData=q=x&bin=\x01\xFF\r\n";
  EXPECT_THAT(Traces(),
              ElementsAre(kBegin, "1\n", "Ctrl+Alt pressed\n", kPost, kCreate, CommandLine(text), kFound, kOk1));
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, text);
}

struct BodyCase {
  const char* name;
  BindRequest request;
  std::string postData;
};

void PrintTo(const BodyCase& c, std::ostream* os) { *os << c.name; }

BodyCase Body(const char* name, BindRequest::Medium medium, std::string body, size_t blockSize, long reported,
              std::string expected) {
  BindRequest request;
  request.verb = BINDVERB_POST;
  request.medium = medium;
  request.body = std::move(body);
  request.blockSize = blockSize;
  request.reportedSize = reported;
  return BodyCase{name, request, std::move(expected)};
}

class HandlerPostBodies : public HandlerStartTest, public testing::WithParamInterface<BodyCase> {};

// The body is read only from a global block that holds all the bytes the
// bind information counts; anything else is an empty body, never a read
// past the block. The bind information is released every time.
TEST_P(HandlerPostBodies, AreReadOnlyFromAGlobalBlockThatHoldsThem) {
  StandIn standIn;
  standIn.Launch();
  HoldKeys({VK_CONTROL, VK_MENU});
  EXPECT_EQ(Start(L"http://example.org/post", GetParam().request), S_FALSE);
  EXPECT_EQ(bindInfo_->outstanding(), 0);
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, "URL=http://example.org/post\nPostData=" + GetParam().postData);
}

using Medium = BindRequest::Medium;
INSTANTIATE_TEST_SUITE_P(Cases, HandlerPostBodies,
                         testing::Values(Body("WholeBlock", Medium::kGlobal, "a=1&b=2", 0, -1, "a=1&b=2"),
                                         Body("LargerBlock", Medium::kGlobal, "a=1&b=2", 64, 3, "a=1"),
                                         Body("StopsAtNul", Medium::kGlobal, std::string("a=1\0b=2", 7), 0, -1, "a=1"),
                                         Body("CountBeyondTheBlock", Medium::kGlobal, "a=1&b=2", 0, 1 << 20, ""),
                                         Body("CountOneBeyond", Medium::kGlobal, "a=1&b=2", 7, 8, ""),
                                         Body("NullBlock", Medium::kNullGlobal, "", 0, 16, ""),
                                         Body("StreamMedium", Medium::kStream, "a=1&b=2", 0, -1, ""),
                                         Body("NoMedium", Medium::kNone, "", 0, 8, "")),
                         [](const testing::TestParamInfo<BodyCase>& info) { return std::string(info.param.name); });

TEST_F(HandlerStartTest, FailingBindInformationCountsAsAGet) {
  StandIn standIn;
  standIn.Launch();
  BindRequest failing = Post("a=1");
  failing.result = E_FAIL;
  EXPECT_EQ(Start(L"http://example.org/a.zip", failing), S_FALSE);
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, "URL=http://example.org/a.zip");
}

TEST_F(HandlerStartTest, RefererIsTheForegroundFrameAddressBarForThatRequestOnly) {
  StandIn standIn;
  standIn.Launch();
  {
    StandInFrame frame("http://example.org/downloads.html");
    EXPECT_EQ(Start(L"http://example.org/a.zip"), S_FALSE);
    StandInFrame explorer("C:\\Files", "CabinetWClass");
    EXPECT_EQ(Start(L"http://example.org/b.zip"), S_FALSE);
  }
  ForegroundWindow other;
  EXPECT_EQ(Start(L"http://example.org/c.zip"), S_FALSE);

  const auto texts = standIn.WaitForTexts(3);
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0].bytes, "URL=http://example.org/a.zip\nReferer=http://example.org/downloads.html");
  EXPECT_EQ(texts[1].bytes, "URL=http://example.org/b.zip");
  EXPECT_EQ(texts[2].bytes, "URL=http://example.org/c.zip");
}

TEST_F(HandlerStartTest, StartsAMissingDownloadManager) {
  StandIn standIn;
  registry_.SetAppPath(standIn.Install());
  EXPECT_EQ(Start(L"http://example.org/a.zip"), S_FALSE);
  const auto traces = Traces();
  ASSERT_GE(traces.size(), 3u);
  EXPECT_THAT(std::vector<std::string>(traces.end() - 3, traces.end()),
              ElementsAre("ZV not found, run it\n", "Runned\n", "Ok 2\n"));
  EXPECT_EQ(standIn.WaitForTexts(1).size(), 1u);
}

TEST_F(HandlerStartTest, StartupThatShowsNoWindowTimesOut) {
  StandInOptions options;
  options.window = false;
  options.lifetimeMs = 8000;
  StandIn standIn(options);
  registry_.SetAppPath(standIn.Install());
  EXPECT_EQ(Start(L"http://example.org/a.zip"), INET_E_USE_DEFAULT_PROTOCOLHANDLER);
  const auto traces = Traces();
  ASSERT_GE(traces.size(), 3u);
  EXPECT_THAT(std::vector<std::string>(traces.end() - 3, traces.end()),
              ElementsAre("ZV not found, run it\n", "Free memory...\n", "Done. Quit.\n"));
}

TEST_F(HandlerStartTest, NoDownloadManagerAndNoAppPathPasses) {
  EXPECT_EQ(Start(L"http://example.org/a.zip"), INET_E_USE_DEFAULT_PROTOCOLHANDLER);
  EXPECT_EQ(Traces().back(), "ZV not found, run it\n");
}

TEST_F(HandlerStartTest, LongCommandTextIsCutInTheTraceOnly) {
  StandIn standIn;
  standIn.Launch();
  HoldKeys({VK_CONTROL, VK_MENU});
  const std::wstring url = L"http://example.org/" + std::wstring(5000, L'a') + L".zip";
  EXPECT_EQ(Start(url.c_str()), S_FALSE);
  const auto traces = Traces();
  const auto line =
      std::find_if(traces.begin(), traces.end(), [](const std::string& l) { return l.rfind("lpCommand = ", 0) == 0; });
  ASSERT_NE(line, traces.end());
  EXPECT_EQ(line->size(), 4080u);
  EXPECT_EQ(line->back(), '\n');
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].cbData, 4u + url.size());
}

// URLs a hostile page or a broken caller may hand to Start, with Ctrl+Alt
// held so that only the URL itself can stop the hand-off.
struct HostileUrl {
  const char* name;
  std::optional<std::wstring> url;  // none: a null pointer
  HRESULT result;
  std::optional<std::string> text;  // what the stand-in receives
};

void PrintTo(const HostileUrl& h, std::ostream* os) { *os << h.name; }

class HandlerHostileUrls : public HandlerStartTest, public testing::WithParamInterface<HostileUrl> {};

TEST_P(HandlerHostileUrls, AreSentWholeOrLeftToTheBrowser) {
  const HostileUrl& h = GetParam();
  StandIn standIn;
  standIn.Launch();
  HoldKeys({VK_CONTROL, VK_MENU});
  EXPECT_EQ(Start(h.url ? h.url->c_str() : nullptr), h.result);
  ReleaseAllKeys();
  if (h.text) {
    const auto texts = standIn.WaitForTexts(1, 30000);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].cbData, h.text->size());
    EXPECT_TRUE(texts[0].bytes == *h.text) << "bytes differ; " << texts[0].bytes.size() << " received";
  } else {
    EXPECT_THAT(BytesOf(standIn.TextsThroughMarker()), ElementsAre(kMarkerText));
  }
}

const std::string kMiB(1 << 20, 'a');

INSTANTIATE_TEST_SUITE_P(
    Cases, HandlerHostileUrls,
    testing::Values(HostileUrl{"NullUrl", std::nullopt, INET_E_USE_DEFAULT_PROTOCOLHANDLER, std::nullopt},
                    HostileUrl{"OneMebibyteUrl",
                               L"http://example.org/" + std::wstring(kMiB.begin(), kMiB.end()) + L".zip", S_FALSE,
                               "URL=http://example.org/" + kMiB + ".zip"},
                    HostileUrl{"UnpairedSurrogates", std::wstring(L"http://example.org/\xD800x\xDC00.zip"), S_FALSE,
                               "URL=http://example.org/%EF%BF%BDx%EF%BF%BD.zip"}),
    [](const testing::TestParamInfo<HostileUrl>& info) { return std::string(info.param.name); });

TEST_F(HandlerStartTest, TheOtherProtocolMethodsDoNothing) {
  zv::com::ComPtr<IInternetProtocol> protocol;
  ASSERT_EQ(factory_->CreateInstance(nullptr, IID_IInternetProtocol, protocol.put_void()), S_OK);
  char buffer[16];
  ULONG read = 0;
  LARGE_INTEGER move{};
  EXPECT_EQ(protocol->Continue(nullptr), E_NOTIMPL);
  EXPECT_EQ(protocol->Abort(E_ABORT, 0), E_NOTIMPL);
  EXPECT_EQ(protocol->Terminate(0), E_NOTIMPL);
  EXPECT_EQ(protocol->Suspend(), E_NOTIMPL);
  EXPECT_EQ(protocol->Resume(), E_NOTIMPL);
  EXPECT_EQ(protocol->Read(buffer, sizeof(buffer), &read), E_NOTIMPL);
  EXPECT_EQ(protocol->Seek(move, 0, nullptr), E_NOTIMPL);
  EXPECT_EQ(protocol->LockRequest(0), S_OK);
  EXPECT_EQ(protocol->UnlockRequest(), S_OK);
  for (const IID* iid : {&IID_IHTTPPlugProt, &IID_IDispatch, &IID_IInternetProtocolRoot, &IID_IUnknown}) {
    zv::com::ComPtr<IUnknown> answer;
    EXPECT_EQ(protocol->QueryInterface(*iid, answer.put_void()), S_OK);
  }
  IUnknown* none = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(protocol->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&none)), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  protocol.reset();
  EXPECT_THAT(Traces(), IsEmpty());
}

}  // namespace
