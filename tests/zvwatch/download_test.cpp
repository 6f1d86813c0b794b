// Download as Internet Explorer calls it, with Wine's urlmon binding a URL
// of the loopback server: the decision by keys and setting, the details the
// binding gives, the exact bytes that reach the stand-in download manager,
// and the start of the portable edition when its window is missing.
#include "loopback_http.h"

#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include "watch_support.h"

using namespace zv::test;

namespace {

constexpr char kDate[] = "Tue, 15 Nov 1994 08:12:31 GMT";

std::string Caption() { return "Kestrix test " + std::to_string(GetCurrentProcessId()); }

class DownloadTest : public testing::Test {
 protected:
  DownloadTest() : module_(dir_.path()), standIn_(Options()) {}

  static zv::test::StandInOptions Options() {
    zv::test::StandInOptions options;
    options.caption = Caption();
    return options;
  }

  void SetUp() override {
    zv::test::ReleaseAllKeys();
    ASSERT_TRUE(module_.handle()) << module_.path();
    manager_ = module_.NewManager();
    ASSERT_TRUE(manager_);
    Settings({{"ZVCaption", Caption()}});
  }
  void TearDown() override { zv::test::ReleaseAllKeys(); }

  // The carried layout: the settings lie in DATA beside the module.
  void Settings(const std::vector<std::pair<std::string, std::string>>& values) {
    WriteSettings(dir_.File("DATA\\Settings.dat"), values);
  }

  // A file the server answers with the given headers.
  std::string Serve(const std::string& fileName, std::vector<std::pair<std::string, std::string>> headers,
                    const std::string& body = "0123456789") {
    return ServeAtUniquePath(server_, fileName, std::move(headers), body);
  }

  HRESULT Download(const std::string& url, IBindCtx* context = nullptr, DWORD verb = BINDVERB_GET,
                   BINDINFO* info = nullptr) {
    return CallDownload(manager_.get(), url, context, verb, info);
  }

  ComApartment apartment_;
  zv::test::ScratchDir dir_;
  WatchModule module_;
  zv::test::LoopbackHttpServer server_;
  zv::test::StandIn standIn_;
  ComPtr<IDownloadManager> manager_;
};

// --- What the binding tells --------------------------------------------------------------

TEST_F(DownloadTest, SendsTheFileDetailsOfTheResponseAndTheRequestCookie) {
  standIn_.Launch();
  const std::string url = Serve("get.php?id=7", {{"Content-Type", "application/x-zip-compressed"},
                                                 {"Content-Disposition", "attachment; filename=\"report 2024.zip\""},
                                                 {"Date", kDate}});
  ASSERT_TRUE(InternetSetCookieA(url.c_str(), nullptr, "session=abc123"));
  ASSERT_EQ(Download(url), S_OK);

  const auto texts = standIn_.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].dwData, 0u);
  EXPECT_EQ(texts[0].bytes, "URL=" + url +
                                "\r\nReferer=\r\nFileName=report 2024.zip\r\nMIMEType=application/x-zip-compressed"
                                "\r\nSize=10\r\nFileDateTime=" +
                                kDate + "\r\nCookie=c2Vzc2lvbj1hYmMxMjM=\r\nMode=DEFAULT");
  EXPECT_EQ(texts[0].cbData, texts[0].bytes.size());  // no terminator counted
  EXPECT_FALSE(texts[0].foreground);                  // never brought to the front

  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].Header("Cookie").value_or(""), "session=abc123");
}

// Wine's cache names the file of "annual%20report.pdf" "annual%20report[0]":
// no extension after the counter, so the counter stays (as for notes[2]),
// and the name is %-decoded.
TEST_F(DownloadTest, NamesTheFileAfterTheCacheFileDecoded) {
  standIn_.Launch();
  const std::string stem = UniqueStem("annual");
  const std::string url = Serve(stem + "%20report.pdf", {{"Content-Type", "application/pdf"}});
  ASSERT_EQ(Download(url), S_OK);
  const auto texts = ReceivedBytes(standIn_);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], "URL=" + url + "\r\nReferer=\r\nFileName=" + stem +
                          " report[0]\r\nMIMEType=application/pdf\r\nSize=10\r\nMode=DEFAULT");
}

TEST_F(DownloadTest, ACacheFileNameInUtf8ComesInTheAnsiCodePage) {
  standIn_.Launch();
  const std::string stem = UniqueStem("caf%C3%A9");
  const std::string url = Serve(stem + ".txt", {});
  ASSERT_EQ(Download(url), S_OK);
  const auto texts = ReceivedBytes(standIn_);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("\r\nFileName=caf\xE9" + stem.substr(9) + "[0]\r\n"), std::string::npos) << texts[0];
}

TEST_F(DownloadTest, AFileNameWithFoldersArrivesWithoutThem) {
  standIn_.Launch();
  for (const char* header :
       {"attachment; filename=..%2F..%2FStartup%2Fplanted.exe", "attachment; filename=../../Startup/planted.exe"}) {
    const std::string url = Serve(UniqueStem("get") + ".php", {{"Content-Disposition", header}});
    ASSERT_EQ(Download(url), S_OK);
  }
  const auto texts = ReceivedBytes(standIn_);
  ASSERT_EQ(texts.size(), 2u);
  for (const std::string& text : texts) EXPECT_NE(text.find("\r\nFileName=planted.exe\r\n"), std::string::npos) << text;
}

// The details are known at the first data: the binding ends there, so the
// browser does not fetch the whole file before the download manager does.
TEST_F(DownloadTest, ALargeFileIsHandedOverAfterItsFirstData) {
  standIn_.Launch();
  const std::string stem = UniqueStem("large");
  const LargeFile file = ServeLargeFile(server_, stem, {{"Content-Type", "application/zip"}, {"Date", kDate}});
  ASSERT_EQ(Download(file.url), S_OK);

  EXPECT_EQ(ReceivedBytes(standIn_),
            std::vector<std::string>{"URL=" + file.url + "\r\nReferer=\r\nFileName=" + stem +
                                     "[0]\r\nMIMEType=application/zip\r\nSize=" + std::to_string(file.bytes) +
                                     "\r\nFileDateTime=" + kDate + "\r\nMode=DEFAULT"});
  ExpectClosedEarly(server_, file);
}

TEST_F(DownloadTest, AContentDispositionWithoutFileNameLeavesTheCacheFileName) {
  standIn_.Launch();
  const std::string stem = UniqueStem("setup");
  const std::string url = Serve(stem + ".exe", {{"Content-Disposition", "attachment"}});
  ASSERT_EQ(Download(url), S_OK);
  const auto texts = ReceivedBytes(standIn_);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("\r\nFileName=" + stem + "[0]\r\n"), std::string::npos) << texts[0];
}

TEST_F(DownloadTest, AResponseWithoutContentLengthGivesNoSizeLine) {
  standIn_.Launch();
  const std::string path = UniquePath("stream.bin");
  zv::test::HttpResponse response;
  response.headers = {{"Content-Type", "application/octet-stream"}};
  response.body = "streamed until the connection closes";
  response.contentLength = false;
  server_.Serve(path, response);
  ASSERT_EQ(Download(server_.Url(path)), S_OK);
  const auto texts = ReceivedBytes(standIn_);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].find("Size="), std::string::npos) << texts[0];
}

TEST_F(DownloadTest, AnEmptyBodyGivesNoSizeLine) {
  standIn_.Launch();
  const std::string url = Serve("empty.bin", {{"Content-Type", "application/octet-stream"}}, "");
  ASSERT_EQ(Download(url), S_OK);
  const auto texts = ReceivedBytes(standIn_);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].find("Size="), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find("\r\nMIMEType=application/octet-stream\r\n"), std::string::npos) << texts[0];
}

TEST_F(DownloadTest, ABindingThatFailsLeavesOnlyTheUrlAndAnEmptyReferer) {
  standIn_.Launch();
  const std::string url = UnreachableUrl("file.zip");
  ASSERT_EQ(Download(url), S_OK);
  EXPECT_EQ(ReceivedBytes(standIn_), std::vector<std::string>{"URL=" + url + "\r\nReferer="});
}

TEST_F(DownloadTest, ACaptionLongerThanTheFirstBufferIsReadWhole) {
  zv::test::StandInOptions options;
  options.caption = "Kestrix " + std::string(300, 'k') + " " + std::to_string(GetCurrentProcessId());
  zv::test::StandIn longCaption(options);
  longCaption.Launch();
  Settings({{"ZVCaption", options.caption}});
  const std::string url = UnreachableUrl("long.zip");
  ASSERT_EQ(Download(url), S_OK);
  EXPECT_EQ(ReceivedBytes(longCaption).size(), 1u);
}

// --- Post data ------------------------------------------------------------------------------

class PostDataTest : public DownloadTest {
 protected:
  void SetUp() override {
    DownloadTest::SetUp();
    standIn_.Launch();
  }
  std::string Head(const std::string& url) { return "URL=" + url + "\r\nReferer="; }
};

TEST_F(PostDataTest, APostSendsItsDataWithItsNulBytesAndOneMore) {
  const std::string url = UnreachableUrl("form.cgi");
  const std::string data("name=a b&bin=\x00\x01\xFF", 16);
  PostBindInfo info(data);
  ASSERT_EQ(Download(url, nullptr, BINDVERB_POST, info.get()), S_OK);
  const auto texts = standIn_.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, Head(url) + "\r\nPostData=" + data + std::string(1, '\0'));
  EXPECT_EQ(texts[0].cbData, Head(url).size() + 11 + data.size() + 1);
}

TEST_F(PostDataTest, EmptyPostDataIsOneNulByte) {
  const std::string url = UnreachableUrl("form.cgi");
  PostBindInfo info("");
  ASSERT_EQ(Download(url, nullptr, BINDVERB_POST, info.get()), S_OK);
  EXPECT_EQ(ReceivedBytes(standIn_), std::vector<std::string>{Head(url) + "\r\nPostData=" + std::string(1, '\0')});
}

TEST_F(PostDataTest, APostWithoutBindInformationOrAGetSendsNone) {
  const std::string url = UnreachableUrl("form.cgi");
  PostBindInfo info("a=1");
  ASSERT_EQ(Download(url, nullptr, BINDVERB_POST, nullptr), S_OK);
  ASSERT_EQ(Download(url, nullptr, BINDVERB_GET, info.get()), S_OK);
  EXPECT_EQ(ReceivedBytes(standIn_), (std::vector<std::string>{Head(url), Head(url)}));
}

TEST_F(PostDataTest, DataOutsideGlobalMemoryOrLargerThanItsBlockIsNotRead) {
  const std::string url = UnreachableUrl("form.cgi");
  PostBindInfo stream("abcdef", TYMED_ISTREAM);
  ASSERT_EQ(Download(url, nullptr, BINDVERB_POST, stream.get()), S_OK);
  PostBindInfo overstated("abc");
  overstated.get()->cbstgmedData = 1 << 20;  // more than the block holds
  ASSERT_EQ(Download(url, nullptr, BINDVERB_POST, overstated.get()), S_OK);
  EXPECT_EQ(ReceivedBytes(standIn_), (std::vector<std::string>{Head(url), Head(url)}));
}

TEST_F(PostDataTest, ThePostedBindingIsNotRepeatedAsAPost) {
  const std::string url = Serve("form.cgi", {{"Content-Type", "text/plain"}});
  PostBindInfo info("q=1");
  ASSERT_EQ(Download(url, nullptr, BINDVERB_POST, info.get()), S_OK);
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].body, "");
  const auto texts = ReceivedBytes(standIn_);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].substr(texts[0].size() - 15), std::string("\r\nPostData=q=1\0", 15));
}

// --- The decision: keys and IntegrationTemporaryOff --------------------------------------------

struct DecisionCase {
  const char* what;
  std::vector<int> keys;
  std::vector<std::pair<std::string, std::string>> settings;  // besides ZVCaption
  bool taken;
};
void PrintTo(const DecisionCase& c, std::ostream* os) {
  std::string name = c.what;
  for (char& ch : name)
    if (ch == ' ' || ch == ',' || ch == ':' || ch == '(' || ch == ')') ch = '_';
  *os << name;
}

class DecisionTest : public DownloadTest, public testing::WithParamInterface<DecisionCase> {};

TEST_P(DecisionTest, TakesTheDownloadOnlyAsTheKeysAndTheSettingSay) {
  standIn_.Launch();
  auto settings = GetParam().settings;
  settings.emplace_back("ZVCaption", Caption());
  Settings(settings);
  const std::string url = Serve("file.zip", {});
  BYTE state[256] = {};
  for (int key : GetParam().keys) state[key] = 0x80;
  SetKeyboardState(state);

  const HRESULT hr = Download(url);
  zv::test::ReleaseAllKeys();
  EXPECT_EQ(hr, GetParam().taken ? S_OK : E_NOTIMPL) << GetParam().what;
  EXPECT_EQ(standIn_.Texts().size(), GetParam().taken ? 1u : 0u) << GetParam().what;
  if (!GetParam().taken) {
    EXPECT_TRUE(server_.Requests().empty()) << "decided before any binding";
  }
}

constexpr int kShift = VK_SHIFT, kCtrl = VK_CONTROL, kAlt = VK_MENU;

INSTANTIATE_TEST_SUITE_P(
    Keys, DecisionTest,
    testing::Values(
        DecisionCase{"no key", {}, {}, true}, DecisionCase{"Shift alone ignores", {kShift}, {}, false},
        DecisionCase{"Shift with another key", {kShift, 'A'}, {}, true},
        DecisionCase{"Shift with a mouse button", {kShift, VK_LBUTTON}, {}, true},
        DecisionCase{"Shift with left Shift: one family", {kShift, VK_LSHIFT}, {}, false},
        DecisionCase{"off FALSE, no key", {}, {{"IntegrationTemporaryOff", "FALSE"}}, false},
        DecisionCase{"off FALSE, Ctrl+Alt", {kCtrl, kAlt}, {{"IntegrationTemporaryOff", "FALSE"}}, true},
        DecisionCase{"off FALSE, Ctrl+Alt+Shift", {kCtrl, kAlt, kShift}, {{"IntegrationTemporaryOff", "FALSE"}}, false},
        DecisionCase{
            "off FALSE, Ctrl+Alt+mouse", {kCtrl, kAlt, VK_RBUTTON}, {{"IntegrationTemporaryOff", "FALSE"}}, false},
        DecisionCase{"off false (case)", {}, {{"IntegrationTemporaryOff", "false"}}, true},
        DecisionCase{"off TRUE", {}, {{"IntegrationTemporaryOff", "TRUE"}}, true},
        // Own combinations, Base64 of the virtual-key codes.
        DecisionCase{
            "add Ctrl+Q held", {kCtrl, 'Q'}, {{"IntegrationTemporaryOff", "FALSE"}, {"KeysToAdd", "EVE="}}, true},
        DecisionCase{"add Ctrl+Q, Ctrl+Alt held",
                     {kCtrl, kAlt},
                     {{"IntegrationTemporaryOff", "FALSE"}, {"KeysToAdd", "EVE="}},
                     false},
        DecisionCase{"add list not decodable: Ctrl+Alt",
                     {kCtrl, kAlt},
                     {{"IntegrationTemporaryOff", "FALSE"}, {"KeysToAdd", "EVE"}},
                     true},
        DecisionCase{"ignore F8", {VK_F8}, {{"KeysToIgnore", "dw=="}}, false},
        DecisionCase{"ignore F8, Shift held", {kShift}, {{"KeysToIgnore", "dw=="}}, true},
        DecisionCase{"ignore Shift and left Shift: never held", {kShift, VK_LSHIFT}, {{"KeysToIgnore", "EKA="}}, true},
        DecisionCase{"ignore right Shift, both codes down", {VK_RSHIFT, kShift}, {{"KeysToIgnore", "oQ=="}}, false}));

// --- Finding or starting the download manager --------------------------------------------------------

TEST_F(DownloadTest, WithoutACaptionNothingIsFoundOrStarted) {
  zv::test::StandIn portable(Options());
  PortableAppPath appPath(InstallPortable(portable));
  standIn_.Launch();
  Settings({});
  EXPECT_EQ(Download(UnreachableUrl("a.zip")), E_NOTIMPL);
  EXPECT_TRUE(standIn_.Texts().empty());
  EXPECT_EQ(portable.Starts(), 0);
}

// Without a readable settings file there is no caption to look for: the
// browser gets the download back at once.
TEST_F(DownloadTest, AnUnreadableOrMissingSettingsFileGivesTheDownloadBack) {
  standIn_.Launch();
  const std::string file = dir_.File("DATA\\Settings.dat");
  HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Download(UnreachableUrl("held.zip")), E_NOTIMPL);
  CloseHandle(held);
  RemoveFile(file);
  EXPECT_EQ(Download(UnreachableUrl("gone.zip")), E_NOTIMPL);
  EXPECT_TRUE(standIn_.Texts().empty());
}

TEST_F(DownloadTest, AMissingWindowWithoutAnAppPathsEntryGivesTheDownloadBack) {
  RegistryValueOverride none(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\kestrix.exe",
                             "", std::nullopt);
  EXPECT_EQ(Download(UnreachableUrl("a.zip")), E_NOTIMPL);
}

TEST_F(DownloadTest, AnAppPathsEntryNamingNoFileGivesTheDownloadBack) {
  PortableAppPath appPath(dir_.File("missing\\kestrix.exe"));
  EXPECT_EQ(Download(UnreachableUrl("a.zip")), E_NOTIMPL);
}

TEST_F(DownloadTest, AProgramThatCannotStartGivesTheDownloadBack) {
  const std::string program = dir_.File("kestrix.exe");
  WriteSettings(program, {});  // a text file, not a program
  PortableAppPath appPath(program);
  DialogAnswerer shellError("Error");  // the shell tells the user
  EXPECT_EQ(Download(UnreachableUrl("a.zip")), E_NOTIMPL);
  EXPECT_EQ(shellError.answered(), 1);
}

TEST_F(DownloadTest, StartsThePortableEditionAndDeliversToIt) {
  zv::test::StandInOptions options = Options();
  options.delayMs = 1500;  // the window comes well after the input-idle wait
  zv::test::StandIn portable(options);
  PortableAppPath appPath(InstallPortable(portable));
  const std::string url = UnreachableUrl("started.zip");

  ASSERT_EQ(Download(url), S_OK);
  EXPECT_EQ(portable.Starts(), 1);
  EXPECT_EQ(ReceivedBytes(portable), std::vector<std::string>{"URL=" + url + "\r\nReferer="});
}

TEST_F(DownloadTest, ARunningDownloadManagerIsNotStartedAgain) {
  zv::test::StandIn portable(Options());
  PortableAppPath appPath(InstallPortable(portable));
  standIn_.Launch();
  const DWORD start = GetTickCount();
  ASSERT_EQ(Download(UnreachableUrl("a.zip")), S_OK);
  EXPECT_LT(GetTickCount() - start, 3000u);
  EXPECT_EQ(portable.Starts(), 0);
  EXPECT_EQ(standIn_.Texts().size(), 1u);
}

// A download manager that stopped pumping messages (5 s make it hung to
// the system) does not freeze the browser's thread: the download goes back.
TEST_F(DownloadTest, AHungDownloadManagerGivesTheDownloadBack) {
  zv::test::StandInOptions options = Options();
  options.hang = true;
  options.lifetimeMs = 60000;  // an unbounded send would wait this long
  zv::test::StandIn hung(options);
  hung.Launch();
  Sleep(6500);
  const DWORD start = GetTickCount();
  EXPECT_EQ(Download(UnreachableUrl("a.zip")), E_NOTIMPL);
  EXPECT_LT(GetTickCount() - start, 20000u);
}

// The started program never shows its window: the look-ups end after 30 s
// instead of freezing the browser's thread for hours.
TEST_F(DownloadTest, TheWindowPollOfAStartedProgramEndsAfterThirtySeconds) {
  zv::test::StandInOptions options = Options();
  options.window = false;
  zv::test::StandIn portable(options);
  PortableAppPath appPath(InstallPortable(portable));

  const DWORD start = GetTickCount();
  EXPECT_EQ(Download(UnreachableUrl("a.zip")), E_NOTIMPL);
  const DWORD elapsed = GetTickCount() - start;
  EXPECT_EQ(portable.Starts(), 1);
  EXPECT_GE(elapsed, 29000u);
  EXPECT_LT(elapsed, 60000u);
}

// --- The browser's callback in the bind context -----------------------------------------------------

// Wine's urlmon registers over the browser's callback and hands it back as
// the previous one: the component binds on its own and leaves it alone.
TEST_F(DownloadTest, ABrowserCallbackThatWasReplacedIsNotStoodInFor) {
  standIn_.Launch();
  BrowserCallback browser;
  ComPtr<IBindCtx> context = NewBindContext();
  HoldCallback(context.get(), &browser);
  const std::string url = Serve("file.zip", {{"Content-Type", "application/zip"}});

  ASSERT_EQ(Download(url, context.get()), S_OK);
  EXPECT_TRUE(browser.events.empty());
  const auto texts = ReceivedBytes(standIn_);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("\r\nMIMEType=application/zip\r\n"), std::string::npos) << texts[0];
  context.reset();
  EXPECT_EQ(browser.refs(), 1) << "every reference on the browser's callback is given back";
}

// A bind context that refuses the registration: no binding runs, and the
// text carries the URL and the empty referrer line.
TEST_F(DownloadTest, ARefusedRegistrationStartsNoBinding) {
  standIn_.Launch();
  BrowserCallback browser;
  RefusingBindContext context(1);
  HoldCallback(context.inner(), &browser);
  const std::string url = Serve("file.zip", {{"Content-Type", "application/zip"}});

  ASSERT_EQ(Download(url, &context), S_OK);
  EXPECT_EQ(context.registrations, 1);
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_EQ(ReceivedBytes(standIn_), std::vector<std::string>{"URL=" + url + "\r\nReferer="});
}

TEST_F(DownloadTest, NoMonikerGivesTheDownloadBack) {
  standIn_.Launch();
  ComPtr<IBindCtx> context = NewBindContext();
  EXPECT_EQ(manager_->Download(nullptr, context.get(), BINDVERB_GET, 0, nullptr, nullptr, nullptr, CP_ACP), E_NOTIMPL);
  EXPECT_TRUE(standIn_.Texts().empty());
}

}  // namespace
