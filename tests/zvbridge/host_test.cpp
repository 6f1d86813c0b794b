// zvbridge.exe under Wine, fed frames through a pipe as a browser feeds it:
// what the download manager receives and what the browser reads back.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <functional>
#include <optional>
#include <nlohmann/json.hpp>

#include "native_messaging.h"
#include "registration.h"
#include "win/paths.h"
#include "win/text.h"
#include "win/unique_handles.h"
#include "zvtest.h"

namespace {

using nlohmann::json;
using zv::bridge::Frame;
using zv::test::ManagerRegistry;
using zv::test::StandIn;

std::string HostExe() { return zv::test::WinPath(ZV_BRIDGE_MODULE); }

struct PortResult {
  DWORD exitCode = STILL_ACTIVE;
  std::vector<json> replies;
  std::string rest;  // bytes after the last whole frame
};

// Runs the host on one port: writes `input`, ends the input, reads every
// reply until the host ends.
PortResult RunPort(const std::string& input, const std::string& args = "chrome-extension://x/", HANDLE job = nullptr) {
  const zv::test::ProgramResult run = zv::test::RunProgramWithInput("\"" + HostExe() + "\" " + args, input, 30000, job);
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

json DownloadMessage(int id, const std::string& url, const std::string& filename, bool forced = false) {
  return {{"type", "download"},   {"id", id},
          {"url", url},           {"referrer", "http://127.0.0.1/page.html"},
          {"filename", filename}, {"mime", "application/zip"},
          {"size", 2048},         {"cookie", "session=42"},
          {"forced", forced}};
}

std::string Download(int id, const std::string& url, const std::string& filename, bool forced = false) {
  return Frame(DownloadMessage(id, url, filename, forced).dump());
}

std::int64_t NowMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<std::int64_t>(
      (ULARGE_INTEGER{{now.dwLowDateTime, now.dwHighDateTime}}.QuadPart - 116444736000000000ULL) / 10000);
}

json Pending(int id) { return {{"id", id}, {"result", "pending"}}; }

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

// Characters the ANSI code page cannot hold: a URL's arrive percent-encoded
// as UTF-8 (as the browser sends them), a file name's as "_"; neither as "?"
// (which would start a query) nor as an ASCII look-alike ("/", ":").
TEST_F(BridgeHostTest, TextOutsideTheCodePageArrivesWithoutAQuestionMarkOrALookAlike) {
  ASSERT_EQ(GetACP(), 1252u);
  registry_.Set("AcceptingTypes", "ZIP");
  StandIn standIn;
  standIn.Launch();
  const PortResult port = RunPort(Download(1,
                                           "http://127.0.0.1/\xE4\xB8\xAD\xEF\xBC\x8F"
                                           "a.zip",
                                           "/dl/a\xEF\xBC\x9A"
                                           "b.zip"));
  ASSERT_EQ(port.replies.size(), 1u);
  EXPECT_EQ(port.replies[0], json({{"id", 1}, {"result", "taken"}}));
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].bytes.find("URL=http://127.0.0.1/%E4%B8%AD%EF%BC%8Fa.zip\r\n"), std::string::npos)
      << texts[0].bytes;
  EXPECT_NE(texts[0].bytes.find("\r\nFileName=a_b.zip\r\n"), std::string::npos) << texts[0].bytes;
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
      {"not JSON, then a message",
       Frame("hello") + Download(5, "http://h/a.txt", "a.txt"),
       {{{"result", "failed"}, {"reason", "not a JSON object"}},
        {{"id", 5}, {"result", "declined"}, {"rule", "AcceptingTypes"}}}},
      {"too large, then a message",
       Frame(huge) + Download(6, "http://h/a.txt", "a.txt"),
       {tooLarge, {{"id", 6}, {"result", "declined"}, {"rule", "AcceptingTypes"}}}},
      {"a field of the wrong type",
       Frame(R"({"id":9,"url":"http://h/a.zip","size":"big"})"),
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
    StandIn refusing([] {
      zv::test::StandInOptions o;
      o.reply = 0;
      return o;
    }());
    refusing.Launch();
    const PortResult port = RunPort(Download(1, "http://h/a.zip", "a.zip"));
    ASSERT_EQ(port.replies.size(), 1u);
    EXPECT_EQ(port.replies[0], json({{"id", 1}, {"result", "declined"}, {"rule", "download manager"}}));
    EXPECT_EQ(refusing.WaitForTexts(1).size(), 1u);
  }
  const PortResult none = RunPort(Download(2, "http://h/a.zip", "a.zip"));
  EXPECT_EQ(none.replies,
            std::vector<json>(
                {Pending(2), {{"id", 2}, {"result", "failed"}, {"reason", "the download manager is not installed"}}}));
}

// A download manager that is not running: "pending" at once, then the final
// reply once it was started (outside the browser's job, without the
// browser's pipes) and took the text, within the time the extension waits.
TEST_F(BridgeHostTest, StartsTheDownloadManagerOutsideTheBrowsersJobAndRepliesPendingFirst) {
  registry_.Set("AcceptingTypes", "ZIP");
  struct Case {
    const char* what;
    unsigned windowDelayMs;
    DWORD jobLimits;  // 0: no job
    bool outlivesJob;
  };
  const Case cases[] = {
      {"window at once, no job", 0, 0, true},
      {"window after 6 s, beyond the core's start-up poll", 6000, 0, true},
      {"a kill-on-close job that allows breaking away", 0,
       JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK, true},
      {"a kill-on-close job that refuses breaking away: started inside it", 0, JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    zv::test::StandInOptions options;
    options.delayMs = c.windowDelayMs;
    StandIn standIn(options);
    registry_.SetAppPath(standIn.Install());
    zv::win::UniqueHandle job;
    if (c.jobLimits) {
      job.reset(CreateJobObjectA(nullptr, nullptr));
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
      limits.BasicLimitInformation.LimitFlags = c.jobLimits;
      ASSERT_TRUE(SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits)));
    }
    const ULONGLONG started = GetTickCount64();
    const PortResult port = RunPort(Download(1, "http://h/a.zip", "a.zip"), "chrome-extension://x/", job.get());
    // The port's output ends with the host: a download manager holding the
    // browser's pipe would keep it open for its whole life.
    EXPECT_LT(GetTickCount64() - started, 15000u);
    EXPECT_EQ(port.replies, std::vector<json>({Pending(1), {{"id", 1}, {"result", "taken"}}}));
    EXPECT_EQ(standIn.Starts(), 1);
    EXPECT_EQ(standIn.WaitForTexts(1).size(), 1u);
    if (job) {
      job.reset();  // as Firefox ends the host's job when the port closes
      Sleep(500);
      EXPECT_EQ(FindWindowA("TMainForm", "Zorvane test") != nullptr, c.outlivesJob);
    }
  }
}

// The extension has given the download back by the deadline: the host must
// not deliver it any more, or it would arrive twice.
TEST_F(BridgeHostTest, AMessagePastItsDeadlineIsNotHandedOver) {
  registry_.Set("AcceptingTypes", "ZIP");
  StandIn standIn;
  standIn.Launch();
  json late = DownloadMessage(1, "http://h/late.zip", "late.zip");
  late["deadline"] = NowMs() - 1000;
  json onTime = DownloadMessage(2, "http://h/now.zip", "now.zip");
  onTime["deadline"] = NowMs() + 20000;
  const PortResult port = RunPort(Frame(late.dump()) + Frame(onTime.dump()));
  EXPECT_EQ(port.replies,
            std::vector<json>({{{"id", 1}, {"result", "failed"}, {"reason", "the browser stopped waiting"}},
                               {{"id", 2}, {"result", "taken"}}}));
  const auto texts = standIn.WaitForTexts(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].bytes.rfind("URL=http://h/now.zip\r\n", 0), 0u);
}

// The popup asks how the download manager stands: running or not (it is
// started for the first download), and what would decline every download.
TEST_F(BridgeHostTest, StatusTellsWhetherTheDownloadManagerRunsAndWhatDeclinesEverything) {
  struct Case {
    const char* what;
    bool running, installed;
    const char* webUrlCatch;  // null: absent
    bool expectRunning;
    std::vector<std::string> problemSubjects;
  };
  const Case cases[] = {
      {"running and installed", true, true, nullptr, true, {}},
      {"installed, not running yet", false, true, "TRUE", false, {}},
      {"not installed", false, false, nullptr, false, {"download manager"}},
      {"browser catching off", true, true, "FALSE", true, {"WebUrlCatch"}},
  };
  for (const Case& c : cases) {
    ManagerRegistry registry;
    if (c.webUrlCatch) registry.Set("WebUrlCatch", c.webUrlCatch);
    StandIn standIn;
    if (c.installed) registry.SetAppPath(HostExe());  // any file that exists
    if (c.running) standIn.Launch();
    const PortResult port = RunPort(Frame(R"({"type":"status","id":8})"));
    ASSERT_EQ(port.replies.size(), 1u) << c.what;
    const json& reply = port.replies[0];
    EXPECT_EQ(reply["id"], 8) << c.what;
    EXPECT_EQ(reply["result"], "status") << c.what;
    EXPECT_EQ(reply["running"], c.expectRunning) << c.what;
    std::vector<std::string> subjects;
    for (const json& problem : reply["problems"]) {
      const std::string text = problem.get<std::string>();
      subjects.push_back(text.substr(0, text.find(':')));
    }
    EXPECT_EQ(subjects, c.problemSubjects) << c.what << ": " << reply.dump();
    EXPECT_TRUE(standIn.Texts().empty()) << c.what;
  }
}

TEST_F(BridgeHostTest, EchoModeRepliesWithoutAHandOff) {
  const PortResult port = RunPort(Download(4, "http://h/a.zip", "a.zip"), "--echo");
  ASSERT_EQ(port.replies.size(), 1u);
  EXPECT_EQ(port.replies[0], json({{"id", 4}, {"result", "taken"}}));
}

// --- Registration ----------------------------------------------------------

// Where each browser family on Windows looks (one key serves several).
struct BrowserKey {
  const char* path;
  bool firefox;
};
const BrowserKey kKeys[] = {
    {"Software\\Google\\Chrome\\NativeMessagingHosts\\com.quennet.zorvane", false},  // also Opera
    {"Software\\Chromium\\NativeMessagingHosts\\com.quennet.zorvane", false},
    {"Software\\Microsoft\\Edge\\NativeMessagingHosts\\com.quennet.zorvane", false},
    {"Software\\BraveSoftware\\Brave-Browser\\NativeMessagingHosts\\com.quennet.zorvane", false},
    {"Software\\Vivaldi\\NativeMessagingHosts\\com.quennet.zorvane", false},
    {"Software\\Mozilla\\NativeMessagingHosts\\com.quennet.zorvane", true},  // also Tor Browser
    {"Software\\LibreWolf\\NativeMessagingHosts\\com.quennet.zorvane", true},
    {"Software\\Waterfox\\NativeMessagingHosts\\com.quennet.zorvane", true},
};

std::string LocalAppData() {
  char path[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, path);
  return path;
}

bool WriteText(const std::string& path, const std::string& text) {
  zv::win::UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD put = 0;
  return file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
}

std::string ReadFileText(const std::string& path) { return zv::test::ReadBytes(path).value_or(""); }

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
  DWORD Run(const char* args) {
    const zv::test::ProgramResult run = zv::test::RunProgram("\"" + host_ + "\" " + args);
    if (run.exitCode != 0) std::printf("%s: %s", args, run.output.c_str());
    return run.exitCode;
  }

  zv::test::ScratchDir dir_;
  std::string host_;
};

TEST_F(BridgeRegistrationTest, PerUserWritesTheManifestsInTheUsersFolderAndEveryBrowsersKeyThenRemovesExactlyThat) {
  zv::test::SetRegText(HKEY_CURRENT_USER, "Software\\Mozilla", "Kept", "yes");  // someone else's
  zv::test::SetRegText(HKEY_CURRENT_USER, "Software\\Google", "Kept", "yes");
  const std::string product = LocalAppData() + "\\Quennet\\Zorvane";
  const std::string folder = product + "\\NativeMessagingHosts";
  const std::string kept = product + "\\kept.txt";  // the download manager's own
  SHCreateDirectoryExA(nullptr, product.c_str(), nullptr);
  ASSERT_TRUE(WriteText(kept, "x"));
  ASSERT_EQ(Run("--register"), 0u);

  const std::string chromiumPath = folder + "\\com.quennet.zorvane.chromium.json";
  const std::string firefoxPath = folder + "\\com.quennet.zorvane.firefox.json";
  const json chromium = json::parse(ReadFileText(chromiumPath), nullptr, false);
  const json firefox = json::parse(ReadFileText(firefoxPath), nullptr, false);
  const json common = {
      {"name", "com.quennet.zorvane"}, {"description", "Zorvane download manager"}, {"path", host_}, {"type", "stdio"}};
  json expectChromium = common, expectFirefox = common;
  expectChromium["allowed_origins"] = {"chrome-extension://bpfojcnboiciknhmbgmmilipdannkaci/"};
  expectFirefox["allowed_extensions"] = {"zorvane@quennet.com"};
  EXPECT_EQ(chromium, expectChromium);
  EXPECT_EQ(firefox, expectFirefox);
  EXPECT_EQ(GetFileAttributesA(dir_.File("com.quennet.zorvane.chromium.json").c_str()), INVALID_FILE_ATTRIBUTES);
  for (const BrowserKey& key : kKeys) {
    EXPECT_EQ(zv::test::GetRegText(HKEY_CURRENT_USER, key.path, ""),
              std::optional<std::string>(key.firefox ? firefoxPath : chromiumPath))
        << key.path;
    EXPECT_FALSE(zv::test::KeyExists(HKEY_LOCAL_MACHINE, key.path)) << key.path;
  }

  ASSERT_EQ(Run("--unregister"), 0u);
  for (const BrowserKey& key : kKeys) EXPECT_FALSE(zv::test::KeyExists(HKEY_CURRENT_USER, key.path)) << key.path;
  EXPECT_FALSE(zv::test::KeyExists(HKEY_CURRENT_USER, "Software\\Mozilla\\NativeMessagingHosts"));
  EXPECT_EQ(zv::test::GetRegText(HKEY_CURRENT_USER, "Software\\Mozilla", "Kept"), std::optional<std::string>("yes"));
  EXPECT_EQ(zv::test::GetRegText(HKEY_CURRENT_USER, "Software\\Google", "Kept"), std::optional<std::string>("yes"));
  EXPECT_FALSE(zv::test::KeyExists(HKEY_CURRENT_USER, "Software\\Google\\Chrome"));
  EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA(kept.c_str()), INVALID_FILE_ATTRIBUTES);
  DeleteFileA(kept.c_str());
  RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\Mozilla", "Kept");
  RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\Google", "Kept");
}

// For every user, the manifests lie beside the program: only where no one
// but administrators can change them. (Wine keeps no access list of its
// own for a folder: each grants the user full access, so --machine is
// refused in every folder here and the lists are judged on their own.)
TEST_F(BridgeRegistrationTest, MachineScopeOnlyWhereNonAdministratorsCannotWrite) {
  struct Case {
    const char* sddl;
    bool writable;
  };
  const Case cases[] = {
      {"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", false},  // Program Files
      {"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-"
       "2271478464)",
       false},                                                             // TrustedInstaller
      {"D:P(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)", true},                 // Users may modify
      {"D:P(A;OICI;FA;;;BA)(A;OICI;0x2;;;AU)", true},                      // authenticated users may add files
      {"D:P(A;OICI;FA;;;BA)(A;OICIIO;FA;;;CO)(A;;0x1200a9;;;WD)", false},  // the owner of later files only
      {"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-21-1-2-3-1001)", true},      // one user
      {"D:P(A;OICI;GA;;;WD)", true},
      {"D:P", false},  // an empty list lets no one in
  };
  for (const Case& c : cases) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(c.sddl, SDDL_REVISION_1, &descriptor, nullptr))
        << c.sddl;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    EXPECT_EQ(zv::bridge::AclLetsNonAdminsChange(present ? dacl : nullptr), c.writable) << c.sddl;
    LocalFree(descriptor);
  }

  ASSERT_EQ(Run("--register"), 0u);
  EXPECT_EQ(Run("--register --machine"), 1u);
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
    for (const BrowserKey& key : kKeys) EXPECT_FALSE(zv::test::KeyExists(HKEY_LOCAL_MACHINE, key.path, view)) << key.path;
  EXPECT_EQ(GetFileAttributesA(dir_.File("com.quennet.zorvane.chromium.json").c_str()), INVALID_FILE_ATTRIBUTES);
  // The user's own registration is untouched by the refusal and by --unregister --machine.
  ASSERT_EQ(Run("--unregister --machine"), 0u);
  for (const BrowserKey& key : kKeys) EXPECT_TRUE(zv::test::KeyExists(HKEY_CURRENT_USER, key.path)) << key.path;
  ASSERT_EQ(Run("--unregister"), 0u);
}

// An access list written in SDDL, for as long as this lives.
class SddlAcl {
 public:
  explicit SddlAcl(const char* sddl) {
    BOOL present = FALSE, defaulted = FALSE;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor_, nullptr))
      GetSecurityDescriptorDacl(descriptor_, &present, &dacl_, &defaulted);
    if (!present) dacl_ = nullptr;
  }
  ~SddlAcl() { LocalFree(descriptor_); }
  SddlAcl(const SddlAcl&) = delete;
  SddlAcl& operator=(const SddlAcl&) = delete;
  const ACL* get() const { return dacl_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  PACL dacl_ = nullptr;
};

std::optional<std::string> DefaultValueIn(HKEY hive, const char* path, REGSAM view) {
  HKEY key;
  if (RegOpenKeyExA(hive, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return std::nullopt;
  char value[MAX_PATH * 2] = {};
  DWORD size = sizeof(value) - 1, type = 0;
  const LONG rc = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
  return std::string(value);
}

// A registration for every user as it goes where only administrators may
// change the folder and the manifests: both registry views name the
// manifests beside the program, and --unregister --machine removes exactly
// those. Wine grants the user full access to every file, so the folder and
// the manifests are judged by the access lists they would have on Windows;
// what is written and removed is real.
TEST_F(BridgeRegistrationTest, MachineScopeWritesBesideTheProgramInBothViewsAndUnregisterRemovesExactlyThat) {
  const char* kProgramFiles = "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
  const char* kUsersModify = "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;BU)";
  struct Case {
    const char* what;
    const char* folderSddl;
    const char* manifestSddl;
    int exitCode;
  };
  const Case cases[] = {
      {"only administrators may change the folder and the manifests", kProgramFiles, kProgramFiles, 0},
      {"users may change the folder", kUsersModify, kProgramFiles, 1},
      {"users may change the manifests written there", kProgramFiles, kUsersModify, 1},
  };
  zv::test::SetRegText(HKEY_LOCAL_MACHINE, "Software\\Mozilla", "Kept", "yes");  // someone else's
  const std::wstring program = zv::win::WideFromAnsi(host_);
  const std::string chromiumPath = dir_.File("com.quennet.zorvane.chromium.json");
  const std::string firefoxPath = dir_.File("com.quennet.zorvane.firefox.json");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const SddlAcl folderAcl(c.folderSddl), manifestAcl(c.manifestSddl);
    const auto writable = [&](const std::wstring& path) {
      return zv::bridge::AclLetsNonAdminsChange(path == zv::win::FolderOfPath(program) ? folderAcl.get()
                                                                                       : manifestAcl.get());
    };
    ASSERT_EQ(zv::bridge::RegisterHostAt(program, true, writable), c.exitCode);
    const bool written = c.exitCode == 0;
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
      for (const BrowserKey& key : kKeys)
        EXPECT_EQ(DefaultValueIn(HKEY_LOCAL_MACHINE, key.path, view),
                  written ? std::optional<std::string>(key.firefox ? firefoxPath : chromiumPath) : std::nullopt)
            << key.path << " in view " << view;
    for (const BrowserKey& key : kKeys) EXPECT_FALSE(zv::test::KeyExists(HKEY_CURRENT_USER, key.path)) << key.path;
    if (!written) {
      EXPECT_EQ(GetFileAttributesA(chromiumPath.c_str()), INVALID_FILE_ATTRIBUTES);
      EXPECT_EQ(GetFileAttributesA(firefoxPath.c_str()), INVALID_FILE_ATTRIBUTES);
      continue;
    }
    const json common = {
        {"name", "com.quennet.zorvane"}, {"description", "Zorvane download manager"}, {"path", host_}, {"type", "stdio"}};
    json expectChromium = common, expectFirefox = common;
    expectChromium["allowed_origins"] = {"chrome-extension://bpfojcnboiciknhmbgmmilipdannkaci/"};
    expectFirefox["allowed_extensions"] = {"zorvane@quennet.com"};
    EXPECT_EQ(json::parse(ReadFileText(chromiumPath), nullptr, false), expectChromium);
    EXPECT_EQ(json::parse(ReadFileText(firefoxPath), nullptr, false), expectFirefox);

    ASSERT_EQ(Run("--unregister --machine"), 0u);
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
      for (const BrowserKey& key : kKeys) EXPECT_FALSE(zv::test::KeyExists(HKEY_LOCAL_MACHINE, key.path, view)) << key.path;
    EXPECT_FALSE(zv::test::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Mozilla\\NativeMessagingHosts"));
    EXPECT_EQ(zv::test::GetRegText(HKEY_LOCAL_MACHINE, "Software\\Mozilla", "Kept"), std::optional<std::string>("yes"));
    EXPECT_EQ(GetFileAttributesA(chromiumPath.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(firefoxPath.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesA(host_.c_str()), INVALID_FILE_ATTRIBUTES);  // the program stays
  }
  RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "Software\\Mozilla", "Kept");
}

// --check finds each kind of broken registration and tells its fix; it
// passes only when every browser's registration and the download manager's
// settings would let downloads through.
TEST_F(BridgeRegistrationTest, CheckTellsEachBrokenRegistrationWithItsFix) {
  ManagerRegistry registry;
  registry.SetAppPath(host_);  // any file that exists
  const std::string folder = LocalAppData() + "\\Quennet\\Zorvane\\NativeMessagingHosts\\";
  const std::string chromium = folder + "com.quennet.zorvane.chromium.json";
  const std::string chromeKey = "Software\\Google\\Chrome\\NativeMessagingHosts\\com.quennet.zorvane";
  auto rewrite = [&](const char* field, const json& value) {
    json manifest = json::parse(ReadFileText(chromium));
    manifest[field] = value;
    return WriteText(chromium, manifest.dump());
  };
  struct Case {
    const char* what;
    std::function<void()> breakIt;
    const char* line;  // the start of the line that tells it
  };
  const Case cases[] = {
      {"all well", [] {}, nullptr},
      {"no key", [&] { RegDeleteKeyA(HKEY_CURRENT_USER, chromeKey.c_str()); },
       "Chrome registration: no key Software\\Google\\Chrome\\NativeMessagingHosts\\com.quennet.zorvane; run"},
      {"missing manifest", [&] { DeleteFileA(chromium.c_str()); }, "Chrome registration: HKCU\\Software\\Google"},
      {"not JSON", [&] { WriteText(chromium, "{\"name\":"); }, "Chrome registration: HKCU"},
      {"wrong path", [&] { rewrite("path", "C:\\Program Files\\Other\\zvbridge.exe"); },
       "Chrome registration: HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts\\com.quennet.zorvane: the manifest's "
       "path \"C:\\Program Files\\Other\\zvbridge.exe\" is not this program; run \"zvbridge.exe --register\""},
      {"wrong origin", [&] { rewrite("allowed_origins", {"chrome-extension://aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/"}); },
       "Chrome registration: HKCU\\Software\\Google\\Chrome\\NativeMessagingHosts\\com.quennet.zorvane: the manifest "
       "does not allow the extension chrome-extension://bpfojcnboiciknhmbgmmilipdannkaci/; run"},
      {"catching off", [&] { registry.Set("WebUrlCatch", "FALSE"); }, "WebUrlCatch: off"},
      {"integration off", [&] { registry.Set("IntegrationTemporaryOff", "FALSE"); },
       "IntegrationTemporaryOff: "
       "integration is switched off"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Run("--register"), 0u);
    c.breakIt();
    const zv::test::ProgramResult check = zv::test::RunProgram("\"" + host_ + "\" --check");
    EXPECT_EQ(check.exitCode, c.line ? 1u : 0u) << check.output;
    if (c.line) {
      EXPECT_NE(("\n" + check.output).find(std::string("\n") + c.line), std::string::npos) << check.output;
    } else {
      EXPECT_NE(check.output.find("Firefox registration: ok, HKCU"), std::string::npos) << check.output;
    }
    registry.Remove("WebUrlCatch");
    registry.Remove("IntegrationTemporaryOff");
    ASSERT_EQ(Run("--unregister"), 0u);
  }
  ASSERT_EQ(Run("--register"), 0u);
  DeleteFileA(chromium.c_str());
  const json report = json::parse(zv::test::RunProgram("\"" + host_ + "\" --check --json").output, nullptr, false);
  ASSERT_TRUE(report.is_array());
  EXPECT_EQ(report[0]["check"], "Chrome registration");
  EXPECT_EQ(report[0]["ok"], false);
  EXPECT_NE(report[0]["detail"].get<std::string>().find("is missing"), std::string::npos);
  ASSERT_EQ(Run("--unregister"), 0u);
}

// A program in a folder whose name is not ASCII: the manifest names it in
// UTF-8, and --check takes that name for this program.
TEST_F(BridgeRegistrationTest, AProgramInAFolderNamedOutsideAsciiIsTheOneItsManifestNames) {
  const std::string folder = dir_.File("Caf\xE9");  // in code page 1252
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  host_ = folder + "\\zvbridge.exe";
  ASSERT_TRUE(CopyFileA(HostExe().c_str(), host_.c_str(), FALSE));
  ManagerRegistry registry;
  registry.SetAppPath(host_);
  ASSERT_EQ(Run("--register"), 0u);
  const json manifest = json::parse(
      ReadFileText(LocalAppData() + "\\Quennet\\Zorvane\\NativeMessagingHosts\\com.quennet.zorvane.chromium.json"),
      nullptr, false);
  EXPECT_EQ(manifest.value("path", ""), dir_.File("Caf\xC3\xA9\\zvbridge.exe"));
  const zv::test::ProgramResult check = zv::test::RunProgram("\"" + host_ + "\" --check");
  EXPECT_EQ(check.exitCode, 0u) << check.output;
  ASSERT_EQ(Run("--unregister"), 0u);
  DeleteFileA(host_.c_str());
  RemoveDirectoryA(folder.c_str());
}

}  // namespace
