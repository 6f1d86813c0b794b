// The capture decision as the modules run it: settings in the real
// registry, modifier keys in the thread's keyboard state.
#include <gtest/gtest.h>

#include "capture_cases.h"
#include "handoff/handoff.h"
#include "zvtest.h"

using namespace zv::handoff;
using namespace zv::test;

namespace {

void Hold(const ModifierKeys& keys) {
  BYTE state[256] = {};
  if (keys.shift) state[VK_SHIFT] = state[VK_LSHIFT] = 0x80;
  if (keys.ctrl) state[VK_CONTROL] = state[VK_RCONTROL] = 0x81;
  if (keys.alt) state[VK_MENU] = state[VK_LMENU] = 0x80;
  SetKeyboardState(state);
}

class RegistryDecisionTest : public testing::TestWithParam<CaptureCase> {
 protected:
  ManagerRegistry registry_;
};

TEST_P(RegistryDecisionTest, DecidesAsTheRulesSay) {
  const CaptureCase& c = GetParam();
  for (const auto& [name, value] : c.settings) registry_.Set(name.c_str(), value);
  Hold(c.keys);
  ManagerSettings settings;
  CaptureRequest request{c.url, std::nullopt};
  if (c.postData) request.postData = *c.postData;
  const CaptureDecision d = DecideCapture(c.module, ReadModifierKeys(), settings, request);
  EXPECT_EQ(d.caught, c.caught) << c.url;
  EXPECT_EQ(static_cast<int>(d.refusal), static_cast<int>(c.refusal)) << c.url;
}

INSTANTIATE_TEST_SUITE_P(Cases, RegistryDecisionTest, testing::ValuesIn(CaptureCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ModifierKeys, ReadFromTheThreadsKeyboardState) {
  HoldKeys({});
  ModifierKeys keys = ReadModifierKeys();
  EXPECT_FALSE(keys.shift || keys.ctrl || keys.alt);
  HoldKeys({VK_CONTROL, VK_MENU});
  keys = ReadModifierKeys();
  EXPECT_TRUE(keys.CtrlAlt());
  EXPECT_FALSE(keys.shift);
  HoldKeys({VK_SHIFT});
  keys = ReadModifierKeys();
  EXPECT_TRUE(keys.shift);
  EXPECT_FALSE(keys.CtrlAlt());
  // The low (toggle) bit alone is not "down".
  BYTE state[256] = {};
  state[VK_CONTROL] = state[VK_MENU] = 0x01;
  SetKeyboardState(state);
  EXPECT_FALSE(ReadModifierKeys().CtrlAlt());
  HoldKeys({});
}

TEST(AnsiConversion, UnholdableCharactersArePercentEncodedAndStartNoQuery) {
  ManagerRegistry registry;
  registry.Set("AcceptingTypes", "ZIP");
  HoldKeys({});
  // U+4E2D is outside code page 1252; U+FF0F would best-fit to a real "/".
  const auto url = ToAnsi(L"http://example.org/\x4E2D\xFF0F/file.zip");
  ASSERT_TRUE(url);
  EXPECT_EQ(*url, "http://example.org/%E4%B8%AD%EF%BC%8F/file.zip");
  ManagerSettings settings;
  EXPECT_TRUE(DecideCapture(CaptureModule::kProtocolHandler, ReadModifierKeys(), settings, {*url}).caught);
  EXPECT_FALSE(ToAnsi(nullptr));
  EXPECT_EQ(ToAnsi(L""), std::string());
}

class SettingsReadTest : public testing::Test {
 protected:
  static constexpr char kKey[] = "Software\\Quennet\\Zorvane";
  void SetRaw(const char* name, DWORD type, const void* data, DWORD size) {
    zv::win::UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
  }
  ManagerRegistry registry_;
};

TEST_F(SettingsReadTest, ValuesOfAnySizeAndTypeReadAsText) {
  const std::string longList = std::string(5000, 'A') + ",ZIP";
  registry_.Set("AcceptingTypes", longList);
  SetRaw("WithNul", REG_BINARY, "ab\0cd", 5);
  SetRaw("Unterminated", REG_SZ, "TRUE", 4);
  SetRaw("Expand", REG_EXPAND_SZ, "%TEMP%", 7);
  SetRaw("Empty", REG_SZ, "", 0);

  EXPECT_EQ(ReadManagerValue("AcceptingTypes"), longList);
  EXPECT_EQ(ReadManagerValue("WithNul"), "ab");
  EXPECT_EQ(ReadManagerValue("Unterminated"), "TRUE");
  EXPECT_EQ(ReadManagerValue("Expand"), "%TEMP%");
  EXPECT_EQ(ReadManagerValue("Empty"), "");
  EXPECT_FALSE(ReadManagerValue("Missing"));

  ManagerSettings settings;  // one open key, the same answers
  EXPECT_EQ(settings.Read("AcceptingTypes"), longList);
  EXPECT_EQ(settings.Read("Unterminated"), "TRUE");
  EXPECT_FALSE(settings.Read("Missing"));
}

// Values another program wrote with the wrong type or an absurd size: read
// as their bytes up to the first NUL, never past their end, and decided on.
TEST_F(SettingsReadTest, WrongTypesAndHugeValuesAreReadAsTheirBytes) {
  const DWORD one = 1;
  SetRaw("IntegrationTemporaryOff", REG_DWORD, &one, sizeof(one));
  SetRaw("IgnoringTypes", REG_BINARY, "HTM", 3);  // no terminating NUL
  const std::string huge = std::string(1 << 20, 'A') + ",ZIP";
  SetRaw("AcceptingTypes", REG_SZ, huge.c_str(), static_cast<DWORD>(huge.size() + 1));

  EXPECT_EQ(ReadManagerValue("IntegrationTemporaryOff"), "\x01");
  EXPECT_EQ(ReadManagerValue("IgnoringTypes"), "HTM");
  EXPECT_EQ(ReadManagerValue("AcceptingTypes")->size(), huge.size());

  HoldKeys({});
  // A switch is on only as the text "TRUE": a number is not.
  ManagerSettings numbered;
  EXPECT_EQ(DecideCapture(CaptureModule::kProtocolHandler, {}, numbered, {"http://example.org/a.zip"}).refusal,
            Refusal::kIntegrationOff);
  SetRaw("IntegrationTemporaryOff", REG_BINARY, "TRUE", 4);
  // The accept list's last entry, a mebibyte in, still counts; so does a 1 MiB URL.
  ManagerSettings settings;
  EXPECT_TRUE(DecideCapture(CaptureModule::kProtocolHandler, {}, settings, {"http://example.org/a.zip"}).caught);
  const std::string longUrl = "http://example.org/" + std::string(1 << 20, 'x') + ".zip";
  ManagerSettings third;
  EXPECT_TRUE(DecideCapture(CaptureModule::kProtocolHandler, {}, third, {longUrl}).caught);
  // "FALSE" and the ignore list as unterminated binary values.
  SetRaw("AcceptFileTypes", REG_BINARY, "FALSE", 5);
  ManagerSettings ignoring;
  EXPECT_EQ(DecideCapture(CaptureModule::kProtocolHandler, {}, ignoring, {"http://example.org/a.htm"}).refusal,
            Refusal::kIgnoredExtension);
  ManagerSettings passing;
  EXPECT_TRUE(DecideCapture(CaptureModule::kProtocolHandler, {}, passing, {"http://example.org/a.rar"}).caught);
}

TEST_F(SettingsReadTest, EveryDecisionSeesTheLatestValues) {
  registry_.Set("AcceptingTypes", "ZIP");
  HoldKeys({});
  const CaptureRequest request{"http://example.org/a.exe"};
  ManagerSettings first;
  EXPECT_FALSE(DecideCapture(CaptureModule::kProtocolHandler, {}, first, request).caught);
  registry_.Set("AcceptingTypes", "ZIP,EXE");
  ManagerSettings second;
  EXPECT_TRUE(DecideCapture(CaptureModule::kProtocolHandler, {}, second, request).caught);
}

TEST_F(SettingsReadTest, MissingKeyMeansEveryValueAbsent) {
  EXPECT_FALSE(ReadManagerValue("ZVCaption"));
  ManagerSettings settings;
  EXPECT_FALSE(settings.Read("AcceptingTypes"));
  EXPECT_FALSE(settings.Read("ZVCaption"));
  EXPECT_FALSE(ReadRegText(HKEY_LOCAL_MACHINE, kAppPathsKey, ""));
  registry_.SetAppPath("C:\\Program Files\\Zorvane\\zorvex.exe");
  EXPECT_EQ(ReadRegText(HKEY_LOCAL_MACHINE, kAppPathsKey, ""), "C:\\Program Files\\Zorvane\\zorvex.exe");
}

}  // namespace
