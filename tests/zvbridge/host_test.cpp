// zvbridge.exe under Wine, fed frames through a pipe as a browser feeds it:
// what the download manager receives and what the browser reads back.
#include <gtest/gtest.h>
#include <windows.h>

#include <nlohmann/json.hpp>

#include "native_messaging.h"
#include "registration.h"
#include "win/unique_handles.h"
#include "zvtest.h"

namespace {

using nlohmann::json;
using zv::bridge::Frame;
using zvtest::ManagerRegistry;
using zvtest::StandIn;

std::string HostExe() { return zvtest::WinPath(ZV_BRIDGE_EXE); }

struct PortResult {
  DWORD exitCode = STILL_ACTIVE;
  std::vector<json> replies;
  std::string rest;  // bytes after the last whole frame
};

// Runs the host on one port: writes `input`, ends the input, reads every
// reply until the host ends.
PortResult RunPort(const std::string& input, const std::string& args = "chrome-extension://x/") {
  const zvtest::ProgramResult run = zvtest::RunProgramWithInput("\"" + HostExe() + "\" " + args, input, 30000);
  const std::string& output = run.output;
  PortResult result;
  result.exitCode = run.exitCode;
  size_t at = 0;
  while (output.size() - at >= 4) {
    std::uint32_t length = 0;
    memcpy(&length, output.data() + at, 4);
    if (output.size() - at - 4 < length) break;
    result.replies.push_back(json::parse(output.substr(at + 4, length), nullptr, false));
    at += 4 + length;
  }
  result.rest = output.substr(at);
  return result;
}

std::string Download(int id, const std::string& url, const std::string& filename, bool forced = false) {
  return Frame(json({{"type", "download"}, {"id", id}, {"url", url}, {"referrer", "http://127.0.0.1/page.html"},
                     {"filename", filename}, {"mime", "application/zip"}, {"size", 2048},
                     {"cookie", "session=42"}, {"forced", forced}})
                   .dump());
}

std::string AnsiOf(const wchar_t* text) {
  char buffer[256] = {};
  WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof(buffer), nullptr, nullptr);
  return buffer;
}

class BridgeHostTest : public ::testing::Test {
 protected:
  ManagerRegistry registry_;
};

TEST_F(BridgeHostTest, ServesManyMessagesOnOnePortUntilTheInputEnds) {
  registry_.Set("AcceptingTypes", "ZIP,EXE");
  StandIn standIn;
  standIn.Launch();
  const std::string input = Download(1, "http://127.0.0.1/get?f=1", "/dl/R\xC3\xA9sum\xC3\xA9.zip") +
                            Download(2, "http://127.0.0.1/page.html", "page.html") +
                            Download(3, "http://127.0.0.1/doc.pdf", "doc.pdf", true);
  const PortResult port = RunPort(input);
  EXPECT_EQ(port.exitCode, 0u);
  EXPECT_EQ(port.rest, "");
  ASSERT_EQ(port.replies.size(), 3u);
  EXPECT_EQ(port.replies[0], json({{"id", 1}, {"result", "taken"}}));
  EXPECT_EQ(port.replies[1], json({{"id", 2}, {"result", "declined"}, {"rule", "AcceptingTypes"}}));
  EXPECT_EQ(port.replies[2], json({{"id", 3}, {"result", "taken"}}));

  const auto texts = standIn.WaitForTexts(2);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].bytes, "URL=http://127.0.0.1/get?f=1\r\nReferer=http://127.0.0.1/page.html\r\nFileName=" +
                                AnsiOf(L"R\u00e9sum\u00e9.zip") +
                                "\r\nMIMEType=application/zip\r\nSize=2048\r\nCookie=c2Vzc2lvbj00Mg==\r\nMode=DEFAULT");
  EXPECT_EQ(texts[0].cbData, texts[0].bytes.size());
  EXPECT_NE(texts[1].bytes.find("URL=http://127.0.0.1/doc.pdf\r\n"), std::string::npos);
}

TEST_F(BridgeHostTest, BadInputGetsAnErrorReplyAndNeverACrash) {
  registry_.Set("AcceptingTypes", "ZIP");
  const std::string huge(zv::bridge::kMaxMessageBytes + 1, ' ');
  struct Case {
    const char* what;
    std::string input;
    std::vector<json> replies;
  };
  const json tooLarge = {{"result", "failed"}, {"reason", "message too large"}};
  const Case cases[] = {
      {"empty port", "", {}},
      {"not JSON, then a message", Frame("hello") + Download(5, "http://h/a.txt", "a.txt"),
       {{{"result", "failed"}, {"reason", "not a JSON object"}},
        {{"id", 5}, {"result", "declined"}, {"rule", "AcceptingTypes"}}}},
      {"too large, then a message", Frame(huge) + Download(6, "http://h/a.txt", "a.txt"),
       {tooLarge, {{"id", 6}, {"result", "declined"}, {"rule", "AcceptingTypes"}}}},
      {"a field of the wrong type", Frame(R"({"id":9,"url":"http://h/a.zip","size":"big"})"),
       {{{"id", 9}, {"result", "failed"}, {"reason", "size is not a number"}}}},
      {"cut short", Frame("{}").substr(0, 5), {{{"result", "failed"}, {"reason", "message cut short"}}}},
  };
  for (const Case& c : cases) {
    const PortResult port = RunPort(c.input);
    EXPECT_EQ(port.exitCode, 0u) << c.what;
    EXPECT_EQ(port.rest, "") << c.what;
    EXPECT_EQ(port.replies, c.replies) << c.what;
  }
}

TEST_F(BridgeHostTest, TheBrowserKeepsWhatTheDownloadManagerDidNotTake) {
  registry_.Set("AcceptingTypes", "ZIP");
  {
    StandIn refusing([] { zvtest::StandInOptions o; o.reply = 0; return o; }());
    refusing.Launch();
    const PortResult port = RunPort(Download(1, "http://h/a.zip", "a.zip"));
    ASSERT_EQ(port.replies.size(), 1u);
    EXPECT_EQ(port.replies[0], json({{"id", 1}, {"result", "declined"}, {"rule", "download manager"}}));
    EXPECT_EQ(refusing.WaitForTexts(1).size(), 1u);
  }
  const PortResult none = RunPort(Download(2, "http://h/a.zip", "a.zip"));
  ASSERT_EQ(none.replies.size(), 1u);
  EXPECT_EQ(none.replies[0],
            json({{"id", 2}, {"result", "failed"}, {"reason", "the download manager is not installed"}}));
}

TEST_F(BridgeHostTest, StartsTheDownloadManagerThroughAppPaths) {
  registry_.Set("AcceptingTypes", "ZIP");
  StandIn standIn;
  registry_.SetAppPath(standIn.Install());
  const PortResult port = RunPort(Download(1, "http://h/a.zip", "a.zip"));
  ASSERT_EQ(port.replies.size(), 1u);
  EXPECT_EQ(port.replies[0], json({{"id", 1}, {"result", "taken"}}));
  EXPECT_EQ(standIn.Starts(), 1);
  EXPECT_EQ(standIn.WaitForTexts(1).size(), 1u);
}

TEST_F(BridgeHostTest, EchoModeRepliesWithoutAHandOff) {
  const PortResult port = RunPort(Download(4, "http://h/a.zip", "a.zip"), "--echo");
  ASSERT_EQ(port.replies.size(), 1u);
  EXPECT_EQ(port.replies[0], json({{"id", 4}, {"result", "taken"}}));
}

// --- Registration ----------------------------------------------------------

struct BrowserKey {
  const char* path;
  bool firefox;
};
const BrowserKey kKeys[] = {
    {"Software\\Google\\Chrome\\NativeMessagingHosts\\com.quennet.zorvane", false},
    {"Software\\Chromium\\NativeMessagingHosts\\com.quennet.zorvane", false},
    {"Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.quennet.zorvane", false},
    {"Software\\Mozilla\\NativeMessagingHosts\\com.quennet.zorvane", true},
};

std::string ReadFileText(const std::string& path) {
  std::string text;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

bool KeyExists(HKEY hive, const char* path, REGSAM view = 0) {
  HKEY key;
  if (RegOpenKeyExA(hive, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

class BridgeRegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A copy of the host in a folder of its own: the manifests go beside it.
    host_ = dir_.File("zvbridge.exe");
    ASSERT_TRUE(CopyFileA(HostExe().c_str(), host_.c_str(), FALSE));
    Clean();
  }
  void TearDown() override { Clean(); }
  void Clean() {
    for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      for (const BrowserKey& key : kKeys) RegDeleteKeyA(hive, key.path);
  }
  DWORD Run(const char* args) { return zvtest::RunProgram("\"" + host_ + "\" " + args).exitCode; }

  zvtest::ScratchDir dir_;
  std::string host_;
};

TEST_F(BridgeRegistrationTest, WritesBothManifestsAndEveryBrowsersKeyThenRemovesExactlyThat) {
  zvtest::SetRegText(HKEY_CURRENT_USER, "Software\\Mozilla", "Kept", "yes");  // someone else's
  const bool googleBefore = KeyExists(HKEY_CURRENT_USER, "Software\\Google");
  ASSERT_EQ(Run("--register"), 0u);

  const std::string chromiumPath = dir_.File("com.quennet.zorvane.chromium.json");
  const std::string firefoxPath = dir_.File("com.quennet.zorvane.firefox.json");
  const json chromium = json::parse(ReadFileText(chromiumPath), nullptr, false);
  const json firefox = json::parse(ReadFileText(firefoxPath), nullptr, false);
  const json common = {{"name", "com.quennet.zorvane"}, {"description", "Zorvane download manager"},
                       {"path", host_}, {"type", "stdio"}};
  json expectChromium = common, expectFirefox = common;
  expectChromium["allowed_origins"] = {"chrome-extension://bpfojcnboiciknhmbgmmilipdannkaci/"};
  expectFirefox["allowed_extensions"] = {"zorvane@quennet.com"};
  EXPECT_EQ(chromium, expectChromium);
  EXPECT_EQ(firefox, expectFirefox);
  for (const BrowserKey& key : kKeys) {
    EXPECT_EQ(zvtest::GetRegText(HKEY_CURRENT_USER, key.path, ""),
              std::optional<std::string>(key.firefox ? firefoxPath : chromiumPath))
        << key.path;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key.path)) << key.path;
  }

  ASSERT_EQ(Run("--unregister"), 0u);
  for (const BrowserKey& key : kKeys) EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key.path)) << key.path;
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Mozilla\\NativeMessagingHosts"));
  EXPECT_EQ(zvtest::GetRegText(HKEY_CURRENT_USER, "Software\\Mozilla", "Kept"), std::optional<std::string>("yes"));
  EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, "Software\\Google"), googleBefore);
  EXPECT_EQ(GetFileAttributesA(chromiumPath.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA(firefoxPath.c_str()), INVALID_FILE_ATTRIBUTES);
  RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\Mozilla", "Kept");
}

TEST_F(BridgeRegistrationTest, MachineScopeWritesBothViewsAndLeavesTheUsersAlone) {
  ASSERT_EQ(Run("--register"), 0u);
  ASSERT_EQ(Run("--register --machine"), 0u);
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
    for (const BrowserKey& key : kKeys) EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, key.path, view)) << key.path;

  ASSERT_EQ(Run("--unregister --machine"), 0u);
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
    for (const BrowserKey& key : kKeys) EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key.path, view)) << key.path;
  // The user's registration still names the manifests, so they stay.
  for (const BrowserKey& key : kKeys) EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, key.path)) << key.path;
  EXPECT_NE(GetFileAttributesA(dir_.File("com.quennet.zorvane.chromium.json").c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_EQ(Run("--unregister"), 0u);
}

}  // namespace
