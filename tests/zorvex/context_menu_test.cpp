// The context-menu object as a menu page uses it: JScript run by Wine's
// cscript creates "Zorvex.AddUrl" and calls its methods; the stand-in
// download manager shows what arrived, a test helper answers the question.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "message_box.h"
#include "registry.h"
#include "zorvex_rig.h"

using namespace zv::test;
using testing::IsEmpty;
using zv::com::ComPtr;
using zv::com::UniqueBstr;

namespace {

constexpr char kSettingsKey[] = "Software\\Quennet\\Zorvane";
constexpr char kSwitch[] = "IECntxMenuCatch";

struct MenuCall {
  const char* name;
  const char* calls;  // JScript after "var o = new ActiveXObject(...)"
  std::optional<std::string> switchValue;
  int answer;                      // the button pressed when asked
  std::vector<std::string> texts;  // received, in order
  int questions;
  std::optional<std::string> switchAfter;
  const char* progId = "Zorvex.AddUrl";
};

void PrintTo(const MenuCall& c, std::ostream* os) { *os << c.name; }

class ContextMenuTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(registration_.result(), S_OK);
    registry_.Set("ZVCaption", StandInOptions().caption);
  }
  InProcessRegistration registration_{kZorvexModule};
  ManagerRegistry registry_;
};

class ContextMenuScripts : public ContextMenuTest, public testing::WithParamInterface<MenuCall> {};

TEST_P(ContextMenuScripts, SendWhatThePageGaveAfterTheSwitchAllowsIt) {
  const MenuCall& c = GetParam();
  if (c.switchValue) registry_.Set(kSwitch, *c.switchValue);
  StandIn standIn;
  standIn.Launch();
  MessageBoxAnswerer answerer("Zorvane", c.answer);

  const ProgramResult run =
      RunJScript(std::string("var o = new ActiveXObject(\"") + c.progId + "\");\n" + c.calls + "\n");
  EXPECT_EQ(run.exitCode, 0u) << run.output;

  standIn.WaitForTexts(c.texts.size());
  std::vector<std::string> received;
  for (const Received& r : standIn.TextsThroughMarker()) {
    received.push_back(r.bytes);
    EXPECT_EQ(r.cbData, r.bytes.size());
  }
  std::vector<std::string> expected = c.texts;
  expected.push_back(kMarkerText);
  EXPECT_EQ(received, expected);
  EXPECT_EQ(answerer.Texts(), std::vector<std::string>(c.questions, kQuestion));
  EXPECT_EQ(GetRegText(HKEY_CURRENT_USER, kSettingsKey, kSwitch), c.switchAfter);
  if (c.switchAfter == std::string("TRUE")) {
    DWORD type = 0, size = 0;
    RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, kSwitch, RRF_RT_ANY, &type, nullptr, &size);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 5u);
  }
}

const std::string kLink = "URL=http://example.org/a.zip\nComment=A file\nReferer=";

INSTANTIATE_TEST_SUITE_P(
    Cases, ContextMenuScripts,
    testing::Values(
        MenuCall{"AddUrlHasAnEmptyReferer",
                 "o.AddUrl('http://example.org/a.zip', 'A file');",
                 std::nullopt,
                 IDNO,
                 {kLink},
                 0,
                 std::nullopt},
        MenuCall{"VersionedProgId",
                 "o.AddUrl('http://example.org/a.zip', 'A file');",
                 std::nullopt,
                 IDNO,
                 {kLink},
                 0,
                 std::nullopt,
                 "Zorvex.AddUrl.1"},
        MenuCall{"WithReferer",
                 "o.AddUrlWithReferer('http://example.org/b.exe', 'Setup', 'http://example.org/page.html');",
                 std::nullopt,
                 IDNO,
                 {"URL=http://example.org/b.exe\nComment=Setup\nReferer=http://example.org/page.html"},
                 0,
                 std::nullopt},
        MenuCall{"EmptyComment",
                 "o.AddUrl('http://example.org/a.zip', '');",
                 std::nullopt,
                 IDNO,
                 {"URL=http://example.org/a.zip\nComment=\nReferer="},
                 0,
                 std::nullopt},
        // The automation layer refuses the call before the object sees it.
        MenuCall{"MissingArgumentSendsNothing",
                 "try { o.AddUrl('http://example.org/a.zip'); } catch (e) {}",
                 std::nullopt,
                 IDNO,
                 {},
                 0,
                 std::nullopt},
        MenuCall{"CommentInTheAnsiCodePage",
                 "o.AddUrl('http://example.org/a.zip', 'caf\\u00e9');",
                 std::nullopt,
                 IDNO,
                 {"URL=http://example.org/a.zip\nComment=caf\xE9\nReferer="},
                 0,
                 std::nullopt},
        MenuCall{"LineBreaksForgeNoKeys",
                 "o.AddUrlWithReferer('http://example.org/a.zip\\nURL=http://evil.example/x.exe', "
                 "'two\\r\\nlines', 'http://example.org/\\nReferer=x');",
                 std::nullopt,
                 IDNO,
                 {"URL=http://example.org/a.zip URL=http://evil.example/x.exe\nComment=two  lines\n"
                  "Referer=http://example.org/ Referer=x"},
                 0,
                 std::nullopt},
        MenuCall{"SwitchTrueAsksNothing",
                 "o.AddUrl('http://example.org/a.zip', 'A file');",
                 "TRUE",
                 IDNO,
                 {kLink},
                 0,
                 "TRUE"},
        MenuCall{
            "SwitchFalseAnsweredNo", "o.AddUrl('http://example.org/a.zip', 'A file');", "FALSE", IDNO, {}, 1, "FALSE"},
        MenuCall{"SwitchFalseAnsweredYesAsksOnce",
                 "o.AddUrl('http://example.org/a.zip', 'A file');\n"
                 "o.AddUrlWithReferer('http://example.org/b.zip', 'B', 'http://example.org/');",
                 "FALSE",
                 IDYES,
                 {kLink, "URL=http://example.org/b.zip\nComment=B\nReferer=http://example.org/"},
                 1,
                 "TRUE"},
        MenuCall{
            "SwitchLowerCaseTrueAsks", "o.AddUrl('http://example.org/a.zip', 'A file');", "true", IDNO, {}, 1, "true"}),
    [](const testing::TestParamInfo<MenuCall>& info) { return std::string(info.param.name); });

// What a script cannot pass: a null BSTR for the URL or the comment is a
// call without a link, and sends nothing; a null referrer is an empty one.
TEST_F(ContextMenuTest, NullArgumentsSendNothingButANullReferer) {
  StandIn standIn;
  standIn.Launch();
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    ComPtr<IContextMenu> menu;
    ASSERT_EQ(CoCreateInstance(CLSID_ContextMenu, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu, menu.put_void()),
              S_OK);
    const UniqueBstr url(L"http://example.org/a.zip"), comment(L"A file");
    EXPECT_EQ(menu->AddUrl(nullptr, comment.get()), S_OK);
    EXPECT_EQ(menu->AddUrl(url.get(), nullptr), S_OK);
    EXPECT_EQ(menu->AddUrlWithReferer(url.get(), nullptr, url.get()), S_OK);
    EXPECT_EQ(menu->AddUrlWithReferer(url.get(), comment.get(), nullptr), S_OK);
  }
  CoUninitialize();
  standIn.WaitForTexts(1);
  EXPECT_THAT(BytesOf(standIn.TextsThroughMarker()), testing::ElementsAre(kLink, kMarkerText));
}

TEST_F(ContextMenuTest, NotRunningDownloadManagerIsStartedForTheLink) {
  StandIn standIn;
  registry_.SetAppPath(standIn.Install());
  const ProgramResult run =
      RunJScript("var o = new ActiveXObject('Zorvex.AddUrl');\no.AddUrl('http://example.org/a.zip', 'A file');\n");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes, kLink);
  EXPECT_EQ(standIn.Starts(), 1);
}

}  // namespace
