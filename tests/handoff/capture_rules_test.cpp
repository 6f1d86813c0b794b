// The capture rules and the command text, with settings from a map. Built
// natively (under the sanitizers) and for Windows.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "capture_cases.h"
#include "handoff/command_text.h"
#include "map_settings.h"

using namespace zv::handoff;
using testing::ElementsAre;
using Values = std::map<std::string, std::string>;

namespace zv::test {
namespace {

struct ExtensionCase {
  const char* url;
  std::optional<std::string> extension;
};

void PrintTo(const ExtensionCase& c, std::ostream* os) { *os << c.url; }

class ExtractExtensionTest : public testing::TestWithParam<ExtensionCase> {};

TEST_P(ExtractExtensionTest, FindsTheLastSegmentsExtension) {
  EXPECT_EQ(ExtractExtension(GetParam().url), GetParam().extension) << GetParam().url;
}

INSTANTIATE_TEST_SUITE_P(Urls, ExtractExtensionTest,
                         testing::Values(ExtensionCase{"http://example.org/files/file.zip", "zip"},
                                         ExtensionCase{"http://example.org/file.tar.gz", "gz"},
                                         ExtensionCase{"http://example.org/file.ZiP", "ZiP"},
                                         ExtensionCase{"http://example.org/file.zip?q=1.5", "zip"},
                                         ExtensionCase{"http://example.org/file.zip#part", "zip"},
                                         ExtensionCase{"http://example.org/file.zip#a?b", "zip"},
                                         ExtensionCase{"http://example.org/file.zip?a#b", "zip"},
                                         ExtensionCase{"http://example.org", std::nullopt},
                                         ExtensionCase{"http://example.org/", std::nullopt},
                                         ExtensionCase{"http://example.org/files/", std::nullopt},
                                         ExtensionCase{"http://example.org/a.b/file", std::nullopt},
                                         ExtensionCase{"http://example.org/file.", ""},
                                         // The last segment has no dot but the fragment has: the
                                         // cut text's last dot lies in the host name.
                                         ExtensionCase{"http://example.org/download#v1.zip", "org/download"},
                                         ExtensionCase{"http://example.org/download?v1.zip", "org/download"},
                                         ExtensionCase{"file.zip", std::nullopt}, ExtensionCase{"/file.zip", "zip"},
                                         ExtensionCase{"", std::nullopt}));

struct ListCase {
  const char* list;
  const char* extension;
  bool contained;
};

void PrintTo(const ListCase& c, std::ostream* os) { *os << "'" << c.list << "' " << c.extension; }

class TypeListTest : public testing::TestWithParam<ListCase> {};

TEST_P(TypeListTest, MatchesWholeEntries) {
  EXPECT_EQ(TypeListContains(GetParam().list, GetParam().extension), GetParam().contained)
      << "list '" << GetParam().list << "' extension '" << GetParam().extension << "'";
}

INSTANTIATE_TEST_SUITE_P(Lists, TypeListTest,
                         testing::Values(ListCase{"ZIP,EXE MP3", "ZIP", true}, ListCase{"ZIP,EXE MP3", "EXE", true},
                                         ListCase{"ZIP,EXE MP3", "MP3", true}, ListCase{"ZIP,EXE MP3", "MP", false},
                                         ListCase{"ZIP,EXE MP3", "ZIPX", false}, ListCase{"zip", "ZIP", false},
                                         ListCase{",ZIP", "ZIP", true}, ListCase{" ZIP", "ZIP", true},
                                         ListCase{", ZIP", "ZIP", false}, ListCase{"  ZIP,EXE", "EXE", false},
                                         ListCase{",,ZIP", "ZIP", false}, ListCase{"ZIP,, ,  EXE", "EXE", true},
                                         ListCase{"ZIP, ", "ZIP", true}, ListCase{"", "ZIP", false},
                                         ListCase{",", "", false}, ListCase{"ZIP", "", false}));

class CaptureDecisionTest : public testing::TestWithParam<CaptureCase> {};

TEST_P(CaptureDecisionTest, DecidesAsTheRulesSay) {
  const CaptureCase& c = GetParam();
  MapSettings settings(c.settings);
  CaptureRequest request{c.url, std::nullopt};
  if (c.postData) request.postData = *c.postData;
  const CaptureDecision d = DecideCapture(c.module, c.keys, settings, request);
  EXPECT_EQ(d.caught, c.caught) << c.url;
  EXPECT_EQ(static_cast<int>(d.refusal), static_cast<int>(c.refusal)) << c.url;
}

INSTANTIATE_TEST_SUITE_P(Cases, CaptureDecisionTest, testing::ValuesIn(CaptureCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CaptureDecision, ShiftReadsNoSetting) {
  MapSettings settings(Values{{"AcceptingTypes", "ZIP"}});
  const auto d = DecideCapture(CaptureModule::kNavigatorCatcher, ModifierKeys{true, false, false}, settings,
                               {"http://example.org/a.zip", std::nullopt});
  EXPECT_FALSE(d.caught);
  EXPECT_TRUE(settings.reads.empty());
}

TEST(CaptureDecision, PassThroughReadsOnlyTheValuesItConsults) {
  MapSettings settings(Values{{"AcceptingTypes", "ZIP"}});
  DecideCapture(CaptureModule::kProtocolHandler, {}, settings, {"http://example.org/index.html", std::nullopt});
  EXPECT_THAT(settings.reads,
              ElementsAre("IEUrlCatch", "IntegrationTemporaryOff", "AcceptFileTypes", "AcceptingTypes"));
}

class RecordingObserver : public DecisionObserver {
 public:
  void OnDecisionPoint(DecisionPoint point) override { points.push_back(point); }
  std::vector<DecisionPoint> points;
};

TEST(CaptureDecision, ReportsItsPointsInOrder) {
  using P = DecisionPoint;
  struct Path {
    ModifierKeys keys;
    std::map<std::string, std::string> settings;
    const char* url;
    std::vector<P> points;
  };
  const std::vector<Path> paths = {
      {{},
       {{"AcceptingTypes", "ZIP"}},
       "http://example.org/index.html",
       {P::kUrlReady, P::kHostPrefixPassed, P::kSpecialPageChecked, P::kExtensionFound, P::kAcceptListRule,
        P::kExtensionNotAccepted}},
      {{},
       {{"AcceptingTypes", "ZIP"}},
       "http://example.org/a.zip",
       {P::kUrlReady, P::kHostPrefixPassed, P::kSpecialPageChecked, P::kExtensionFound, P::kAcceptListRule,
        P::kTypeFilterPassed}},
      {{},
       {{"AcceptFileTypes", "FALSE"}},
       "http://example.org/a.zip",
       {P::kUrlReady, P::kHostPrefixPassed, P::kSpecialPageChecked, P::kExtensionFound, P::kIgnoreListRule,
        P::kNoIgnoreList}},
      {{},
       {{"AcceptFileTypes", "FALSE"}, {"IgnoringTypes", "ZIP"}},
       "http://example.org/a.zip",
       {P::kUrlReady, P::kHostPrefixPassed, P::kSpecialPageChecked, P::kExtensionFound, P::kIgnoreListRule,
        P::kExtensionIgnored}},
      {{},
       {},
       "http://example.org/a.zip",
       {P::kUrlReady, P::kHostPrefixPassed, P::kSpecialPageChecked, P::kExtensionFound, P::kAcceptListRule,
        P::kNoAcceptList}},
      {{}, {}, "http://example.org/a?b", {P::kUrlReady, P::kHostPrefixPassed, P::kSpecialPageChecked, P::kQueryFound}},
      {{}, {}, "http://example.org/", {P::kUrlReady, P::kHostPrefixPassed, P::kSpecialPageChecked, P::kNoExtension}},
      {{}, {}, "http://filedepot.net/a.zip", {P::kUrlReady}},
      {kCtrlAlt, {}, "http://example.org/", {P::kUrlReady, P::kCtrlAlt}},
      {ModifierKeys{true, false, false}, {}, "http://example.org/", {P::kShift}},
      {{}, {{"IntegrationTemporaryOff", "FALSE"}}, "http://example.org/", {P::kGateRefused}},
  };
  for (const Path& path : paths) {
    MapSettings settings(path.settings);
    RecordingObserver observer;
    DecideCapture(CaptureModule::kProtocolHandler, path.keys, settings, {path.url, std::nullopt}, &observer);
    EXPECT_EQ(observer.points, path.points) << path.url;
  }
}

TEST(FileHostRule, PostDataTestNeedsTheServiceAndNoPremiumMarker) {
  EXPECT_TRUE(FileHostRule::PostDataTest("http://dl1.filedepot.net/x", ""));
  EXPECT_TRUE(FileHostRule::PostDataTest("http://dl1.FileDepot.net/x", "dl.start=Free"));
  EXPECT_FALSE(FileHostRule::PostDataTest("http://dl1.filedepot.net/x", "dl.start=PREMIUM"));
  // The marker is compared case-sensitively over its 16 bytes only.
  EXPECT_TRUE(FileHostRule::PostDataTest("http://dl1.filedepot.net/x", "dl.start=premium"));
  EXPECT_TRUE(FileHostRule::PostDataTest("http://dl1.filedepot.net/x", "dl.start=PREMIU"));
  EXPECT_FALSE(FileHostRule::PostDataTest("http://example.org/x", "a=b"));
  EXPECT_FALSE(FileHostRule::PostDataTest("http://example.org/filedepot", "a=b"));
  EXPECT_TRUE(FileHostRule::PrefixTest("http://dl1.filedepot.net/x"));
  EXPECT_FALSE(FileHostRule::PrefixTest("http://filedepot.net"));
  EXPECT_FALSE(FileHostRule::PrefixTest("http://www.filedepot.netx/"));
  EXPECT_TRUE(FileHostRule::PrefixTest("https://filedepot.net/"));
}

TEST(IntegrationGate, OnlyCtrlAltPassesWhenSwitchedOff) {
  MapSettings off(Values{{"IntegrationTemporaryOff", "FALSE"}});
  EXPECT_FALSE(IntegrationGate(false, off));
  EXPECT_TRUE(IntegrationGate(true, off));
  MapSettings lower(Values{{"IntegrationTemporaryOff", "true"}});
  EXPECT_FALSE(IntegrationGate(false, lower));
  MapSettings absent;
  EXPECT_TRUE(IntegrationGate(false, absent));
}

TEST(CommandText, ModulesForms) {
  EXPECT_EQ(BuildCommandText("http://a/b.zip"), "URL=http://a/b.zip");
  EXPECT_EQ(BuildCommandText("x").size(), 5u);
  CommandLines helper;
  helper.referer = "http://a/page.html";
  helper.postData = "";
  EXPECT_EQ(BuildCommandText("http://a/b.zip", helper), "URL=http://a/b.zip\nReferer=http://a/page.html\nPostData=");
  CommandLines menu;
  menu.comment = "The file";
  menu.referer = "";
  EXPECT_EQ(BuildCommandText("http://a/b.zip", menu), "URL=http://a/b.zip\nComment=The file\nReferer=");
  CommandLines opera;
  opera.opera = true;
  EXPECT_EQ(BuildCommandText("http://a/b.zip", opera), "URL=http://a/b.zip\nOpera=True");
}

TEST(CommandText, LineBreaksCannotForgeKeys) {
  CommandLines lines;
  lines.comment = "x\nURL=http://elsewhere/a.exe";
  lines.referer = "r\r\nPostData=evil";
  lines.postData = std::string("a=1\r\nb=\0\n2", 10);
  const std::string text = BuildCommandText("http://a/\nb.zip", lines);
  EXPECT_EQ(text, std::string("URL=http://a/ b.zip\nComment=x URL=http://elsewhere/a.exe\n"
                              "Referer=r  PostData=evil\nPostData=a=1\r\nb=") +
                      std::string("\0\n2", 3));
}

}  // namespace
}  // namespace zv::test
