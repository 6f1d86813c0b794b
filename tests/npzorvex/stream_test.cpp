// Streams opened in the plug-in reach the stand-in download manager, and
// the plug-in window tells the user how it went.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "np_host.h"
#include "zvtest.h"

using namespace zv::test::np;
using namespace zv::test;
using testing::ElementsAre;

namespace {

std::string PluginPath() { return WinPath(ZV_NPZORVEX_MODULE); }

class PluginStreamTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(library_.Start()); }
  std::string Shown(HWND window) { return ShownStatus(window, library_.module()); }

  ManagerRegistry registry_;
  Library library_{PluginPath()};
  BrowserWindow browser_;
};

struct UrlCase {
  const char* name;
  std::string url;
  std::string sent;  // the bytes the download manager receives
};
void PrintTo(const UrlCase& c, std::ostream* os) { *os << c.name; }

class PluginStreamUrlTest : public PluginStreamTest, public testing::WithParamInterface<UrlCase> {};

TEST_P(PluginStreamUrlTest, HandsOffTheUrlAndTheOperaLineAndShowsSuccess) {
  StandInOptions options;
  options.reply = 0;  // the reply is not looked at
  StandIn standIn(options);
  standIn.Launch();
  registry_.Set("ZVCaption", options.caption);
  Instance instance(library_);
  ASSERT_EQ(instance.SetWindow(browser_.hwnd()), NPERR_NO_ERROR);
  HWND window = browser_.PluginWindow();
  EXPECT_EQ(Shown(window), kPleaseWait);

  EXPECT_EQ(instance.NewStream(GetParam().url.c_str()), NPERR_NO_ERROR);
  EXPECT_EQ(instance.stype(), NP_NORMAL);  // left at the browser's default
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, GetParam().sent);
  EXPECT_EQ(texts[0].cbData, GetParam().sent.size());
  EXPECT_EQ(texts[0].dwData, 0u);
  EXPECT_EQ(Shown(window), kTransferred);

  EXPECT_EQ(instance.WriteReady(), -1);
  EXPECT_EQ(instance.Write("data"), -1);
  EXPECT_EQ(instance.DestroyStream(), NPERR_NO_ERROR);
  EXPECT_EQ(instance.Destroy(), NPERR_NO_ERROR);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(standIn.Texts().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Urls, PluginStreamUrlTest,
                         testing::Values(UrlCase{"Plain", "http://example.org/files/setup.zip",
                                                 "URL=http://example.org/files/setup.zip\nOpera=True"},
                                         UrlCase{"OneCharacter", "x", "URL=x\nOpera=True"},
                                         UrlCase{"QueryAndAnsiBytes", "ftp://h\xE9te.example/get?id=1&n=a b",
                                                 "URL=ftp://h\xE9te.example/get?id=1&n=a b\nOpera=True"},
                                         // A line break cannot forge a key of its own.
                                         UrlCase{"LineBreaksBecomeSpaces", "http://a/b.zip\r\nURL=http://evil/x.exe",
                                                 "URL=http://a/b.zip  URL=http://evil/x.exe\nOpera=True"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PluginStreamTest, StreamBeforeTheWindowShowsItsResultAtTheFirstPaint) {
  StandIn standIn;
  standIn.Launch();
  Instance instance(library_);
  EXPECT_EQ(instance.NewStream("http://example.org/early.zip"), NPERR_NO_ERROR);
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, "URL=http://example.org/early.zip\nOpera=True");

  ASSERT_EQ(instance.SetWindow(browser_.hwnd()), NPERR_NO_ERROR);
  EXPECT_EQ(Shown(browser_.PluginWindow()), kTransferred);
}

TEST_F(PluginStreamTest, SecondStreamRunsASecondHandoffAndShowsItsOwnResult) {
  Instance instance(library_);
  ASSERT_EQ(instance.SetWindow(browser_.hwnd()), NPERR_NO_ERROR);
  HWND window = browser_.PluginWindow();
  {
    StandIn standIn;
    standIn.Launch();
    EXPECT_EQ(instance.NewStream("http://example.org/one.zip"), NPERR_NO_ERROR);
    EXPECT_EQ(standIn.WaitForTexts(1).size(), 1u);
    EXPECT_EQ(Shown(window), kTransferred);
  }  // the download manager ends
  ASSERT_EQ(FindWindowA("TMainForm", nullptr), nullptr);
  EXPECT_EQ(instance.NewStream("http://example.org/two.zip"), NPERR_NO_ERROR);
  EXPECT_EQ(Shown(window), kFailed);

  StandIn again;
  again.Launch();
  EXPECT_EQ(instance.NewStream("http://example.org/three.zip"), NPERR_NO_ERROR);
  const auto texts = again.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, "URL=http://example.org/three.zip\nOpera=True");
  EXPECT_EQ(Shown(window), kTransferred);
}

TEST_F(PluginStreamTest, NoManagerAndNoAppPathsEntryShowsFailure) {
  Instance instance(library_);
  ASSERT_EQ(instance.SetWindow(browser_.hwnd()), NPERR_NO_ERROR);
  EXPECT_EQ(instance.NewStream("http://example.org/nowhere.zip"), NPERR_NO_ERROR);
  EXPECT_EQ(Shown(browser_.PluginWindow()), kFailed);
  EXPECT_EQ(instance.WriteReady(), -1);  // refused whatever the result
}

TEST_F(PluginStreamTest, ManagerStartedFromAppPathsGetsTheUrl) {
  StandInOptions options;
  options.delayMs = 800;
  StandIn standIn(options);
  registry_.SetAppPath(standIn.Install());
  registry_.Set("ZVCaption", options.caption);
  ForegroundWindow ours;
  Instance instance(library_);
  ASSERT_EQ(instance.SetWindow(browser_.hwnd()), NPERR_NO_ERROR);

  EXPECT_EQ(instance.NewStream("http://example.org/started.mp3", "audio/mp3"), NPERR_NO_ERROR);
  EXPECT_EQ(standIn.Starts(), 1);
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, "URL=http://example.org/started.mp3\nOpera=True");
  EXPECT_TRUE(texts[0].foreground);  // no properties dialog open
  EXPECT_EQ(Shown(browser_.PluginWindow()), kTransferred);
}

TEST_F(PluginStreamTest, ManagerThatNeverShowsItsWindowIsAFailure) {
  StandInOptions options;
  options.window = false;
  StandIn standIn(options);
  registry_.SetAppPath(standIn.Install());
  Instance instance(library_);
  ASSERT_EQ(instance.SetWindow(browser_.hwnd()), NPERR_NO_ERROR);

  EXPECT_EQ(instance.NewStream("http://example.org/lost.zip"), NPERR_NO_ERROR);  // ~5 s of polls
  EXPECT_EQ(standIn.Starts(), 1);
  EXPECT_TRUE(standIn.Texts().empty());
  EXPECT_EQ(Shown(browser_.PluginWindow()), kFailed);
}

TEST_F(PluginStreamTest, FailedWindowCreationForgetsTheRecord) {
  StandIn standIn;
  standIn.Launch();
  Instance instance(library_);
  HWND gone = CreateWindowExA(0, "STATIC", "gone", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  DestroyWindow(gone);

  EXPECT_EQ(instance.SetWindow(gone), NPERR_MODULE_LOAD_FAILED_ERROR);
  EXPECT_EQ(instance.npp()->pdata, nullptr);
  // Later calls find no record: nothing is created, sent or freed twice.
  EXPECT_EQ(instance.SetWindow(browser_.hwnd()), NPERR_GENERIC_ERROR);
  EXPECT_EQ(browser_.PluginWindow(), nullptr);
  EXPECT_EQ(instance.NewStream("http://example.org/after-failure.zip"), NPERR_NO_ERROR);
  EXPECT_EQ(instance.Destroy(), NPERR_NO_ERROR);
  EXPECT_THAT(BytesOf(standIn.TextsThroughMarker()), ElementsAre(kMarkerText));
}

TEST_F(PluginStreamTest, EveryRegisteredTypeEmbeddedOrFullPageHandsOffTheSame) {
  StandIn standIn;
  standIn.Launch();
  const auto pairs = ReadMimeTypes(PluginPath());
  ASSERT_TRUE(pairs.has_value());
  size_t sent = 0;
  for (const MimePair& pair : *pairs) {
    for (uint16_t mode : {NP_EMBED, NP_FULL}) {
      Instance instance(library_, pair.type.c_str(), mode);
      ASSERT_EQ(instance.newResult(), NPERR_NO_ERROR) << pair.type;
      ASSERT_EQ(instance.SetWindow(browser_.hwnd()), NPERR_NO_ERROR) << pair.type;
      const std::string url = "http://example.org/f." + pair.extensions.substr(0, pair.extensions.find(','));
      EXPECT_EQ(instance.NewStream(url.c_str(), pair.type.c_str()), NPERR_NO_ERROR);
      ++sent;
      EXPECT_EQ(Shown(browser_.PluginWindow()), kTransferred) << pair.type << " mode " << mode;
      const auto texts = standIn.WaitForTexts(sent);
      ASSERT_EQ(texts.size(), sent);
      EXPECT_EQ(texts.back().bytes, "URL=" + url + "\nOpera=True");
    }
  }
  EXPECT_EQ(sent, 52u);
}

TEST_F(PluginStreamTest, StreamWithoutUrlSendsNothingAndShowsFailure) {
  StandIn standIn;
  standIn.Launch();
  Instance instance(library_);
  ASSERT_EQ(instance.SetWindow(browser_.hwnd()), NPERR_NO_ERROR);
  EXPECT_EQ(instance.NewStream(nullptr), NPERR_GENERIC_ERROR);
  EXPECT_EQ(Shown(browser_.PluginWindow()), kFailed);
  EXPECT_THAT(BytesOf(standIn.TextsThroughMarker()), ElementsAre(kMarkerText));
}

}  // namespace
