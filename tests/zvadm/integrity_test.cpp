// Integrity levels under Wine, and zvadm.exe started without a job channel:
// it starts the portable edition (a stand-in that records its start and
// its integrity level) and ends with the open's error.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "IAProcs.h"
#include "adm_test_support.h"
#include "zvtest.h"

using namespace zv::adm;
using namespace zv::test::adm;

namespace {

constexpr char kPortableAppPaths[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\kestrix.exe";

std::string ProbeExe() { return zv::test::WinPath(ZV_INTEGRITY_PROBE_MODULE); }

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The stand-in's record once it appears (empty after the timeout).
std::string WaitForRecord(const std::string& log, DWORD timeoutMs = 60000) {
  const DWORD start = GetTickCount();
  do {
    const std::string text = ReadFileText(log);
    if (text.find('\n') != std::string::npos) return text;
    Sleep(50);
  } while (GetTickCount() - start < timeoutMs);
  return {};
}

DWORD RidOfRecord(const std::string& record) {
  const size_t at = record.find("rid=");
  return at == std::string::npos ? 0xFFFFFFFF : std::stoul(record.substr(at + 4), nullptr, 16);
}

DWORD RidOfToken(HANDLE token) {
  BYTE buffer[256];
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof(buffer), &size)) return 0xFFFFFFFF;
  return *GetSidSubAuthority(reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid, 0);
}

// The level a process started with a medium copy of our token gets on this
// platform: 0x2000 where labels can be lowered; Wine (whose setting of a
// token's label is a stub) leaves the copy at our own level.
DWORD MediumRidOnThisPlatform() {
  zv::win::UniqueHandle token, copy;
  OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, token.put());
  DuplicateTokenEx(token.get(), MAXIMUM_ALLOWED, nullptr, SecurityAnonymous, TokenPrimary, copy.put());
  SID_IDENTIFIER_AUTHORITY authority = {{0, 0, 0, 0, 0, 16}};
  PSID sid = nullptr;
  AllocateAndInitializeSid(&authority, 1, 0x2000, 0, 0, 0, 0, 0, 0, 0, &sid);
  TOKEN_MANDATORY_LABEL label{};
  label.Label.Sid = sid;
  label.Label.Attributes = SE_GROUP_INTEGRITY;
  SetTokenInformation(copy.get(), TokenIntegrityLevel, &label, sizeof(label) + GetLengthSid(sid));
  FreeSid(sid);
  return RidOfToken(copy.get());
}

bool RecordsAnAdministrator(const std::string& record) { return record.find("admin=0") == std::string::npos; }

std::vector<BYTE> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS type) {
  DWORD size = 0;
  GetTokenInformation(token, type, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !GetTokenInformation(token, type, buffer.data(), size, &size)) buffer.clear();
  return buffer;
}

// The Administrators group's attributes in the token; 0 when it is absent.
DWORD AdministratorsAttributes(HANDLE token) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof(sid);
  CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize);
  const std::vector<BYTE> buffer = TokenInformation(token, TokenGroups);
  if (buffer.empty()) return 0;
  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
  for (DWORD i = 0; i < groups->GroupCount; ++i)
    if (EqualSid(groups->Groups[i].Sid, sid)) return groups->Groups[i].Attributes;
  return 0;
}

// The names of the token's privileges, enabled or not.
std::vector<std::string> PrivilegeNames(HANDLE token) {
  std::vector<std::string> names;
  const std::vector<BYTE> buffer = TokenInformation(token, TokenPrivileges);
  if (buffer.empty()) return names;
  const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    char name[128];
    DWORD length = sizeof(name);
    LUID luid = privileges->Privileges[i].Luid;
    names.push_back(LookupPrivilegeNameA(nullptr, &luid, name, &length) ? name : "?");
  }
  return names;
}

DWORD ExitCodeOf(zv::win::UniqueHandle process) {
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(process.get(), 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process.get(), &code);
  return code;
}

// Runs a helper program from `folder` while no job channel exists.
DWORD RunWithoutChannel(const std::string& helper, const std::string& folder) {
  zv::jobs::ChannelLock lock;  // no sender may have the section open meanwhile
  zv::jobs::HelperRun run;
  run.helperPath = helper;
  run.workingDir = folder;
  std::string error;
  zv::win::UniqueHandle process(zv::jobs::StartHelper(run, error));
  if (!process) ADD_FAILURE() << error;
  return process ? ExitCodeOf(std::move(process)) : 0xFFFFFFFF;
}

TEST(IntegrityLevel, QueryReportsWinesHighLevel) {
  // Wine runs programs at high integrity, as an elevated helper on Windows.
  EXPECT_EQ(QueryIntegrityLevel(6), ilHigh);
  EXPECT_EQ(QueryIntegrityLevel(10), ilHigh);
}

TEST(IntegrityLevel, QueryOnSystemsWithoutLevelsIsUnknown) {
  EXPECT_EQ(QueryIntegrityLevel(5), ilUnknown);
  EXPECT_EQ(QueryIntegrityLevel(4), ilUnknown);
}

TEST(IntegrityLevel, LaunchAtMediumStartsTheProgramWithALoweredToken) {
  zv::test::ScratchDir dir;
  const std::string log = dir.File("probe.log");
  const std::string commandLine = "\"" + ProbeExe() + "\" \"" + log + "\"";
  zv::win::UniqueHandle process(LaunchAtIntegrityLevel(nullptr, ProbeExe().c_str(), ilMedium, commandLine.c_str()));
  ASSERT_TRUE(process) << GetLastError();
  EXPECT_EQ(ExitCodeOf(std::move(process)), 0u);
  const std::string record = WaitForRecord(log);
  ASSERT_NE(record, "") << "the program did not run";
  const DWORD expected = MediumRidOnThisPlatform();
  if (expected != 0x2000) std::printf("note: this platform does not lower a token's level (rid 0x%lX)\n", expected);
  EXPECT_EQ(RidOfRecord(record), expected) << record;
  EXPECT_FALSE(RecordsAnAdministrator(record)) << record;
}

// The copy a program gets when no shell token is to be had: whatever its
// label, it must not act as an administrator.
TEST(IntegrityLevel, TheRestrictedCopyOnlyDeniesAsAdministratorAndHoldsNoPrivileges) {
  zv::win::UniqueHandle own;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.put()));
  const DWORD ownAdministrators = AdministratorsAttributes(own.get());
  const size_t ownPrivileges = PrivilegeNames(own.get()).size();
  ASSERT_NE(ownAdministrators & SE_GROUP_ENABLED, 0u) << "this test runs as an administrator";
  ASSERT_GT(ownPrivileges, 1u);

  const zv::win::UniqueHandle token(RestrictedTokenAtLevel(ilMedium));
  ASSERT_TRUE(token) << GetLastError();
  const DWORD administrators = AdministratorsAttributes(token.get());
  EXPECT_EQ(administrators & (SE_GROUP_ENABLED | SE_GROUP_USE_FOR_DENY_ONLY), DWORD{SE_GROUP_USE_FOR_DENY_ONLY})
      << std::hex << administrators;
  EXPECT_EQ(PrivilegeNames(token.get()), std::vector<std::string>{"SeChangeNotifyPrivilege"});
  EXPECT_EQ(RidOfToken(token.get()), MediumRidOnThisPlatform());
}

TEST(IntegrityLevel, LaunchDoesNotSearchForTheProgram) {
  // "cmd.exe" lies on the search path, not in the current folder.
  zv::test::ScratchDir dir;
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  SetCurrentDirectoryA(dir.path().c_str());
  const zv::win::UniqueHandle process(LaunchAtIntegrityLevel(nullptr, "cmd.exe", ilMedium, nullptr));
  SetCurrentDirectoryA(previous);
  EXPECT_FALSE(process);
  if (process) TerminateProcess(process.get(), 0);
}

// Kind 19 ends only a broker of the helper's session: another session's
// belongs to another user's browser. Wine runs every process in one
// session, so the other session is named rather than made.
TEST(ProcessSession, OnlyAProcessOfTheNamedSessionCounts) {
  zv::test::ScratchDir dir;
  std::string commandLine = "\"" + ProbeExe() + "\" \"" + dir.File("probe.log") + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(CreateProcessA(ProbeExe().c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                             nullptr, &startup, &child));
  const DWORD session = OwnSessionId();
  EXPECT_TRUE(IsProcessOfSession(child.dwProcessId, session));
  EXPECT_FALSE(IsProcessOfSession(child.dwProcessId, session + 1));
  zv::win::UniqueHandle thread(child.hThread), process(child.hProcess);
  ResumeThread(thread.get());
  EXPECT_EQ(ExitCodeOf(std::move(process)), 0u);
}

class NoJobChannel : public testing::Test {
 protected:
  void SetUp() override { zv::test::DeleteKeyTree(HKEY_LOCAL_MACHINE, kPortableAppPaths); }
  void TearDown() override { zv::test::DeleteKeyTree(HKEY_LOCAL_MACHINE, kPortableAppPaths); }

  // The stand-in installed as kestrix.exe in `dir`.
  std::string InstallPortable(const zv::test::ScratchDir& dir) {
    const std::string program = dir.File("kestrix.exe");
    EXPECT_TRUE(CopyFileA(ProbeExe().c_str(), program.c_str(), FALSE));
    return program;
  }
  void RegisterPortable(const std::string& program) {
    zv::test::SetRegText(HKEY_LOCAL_MACHINE, kPortableAppPaths, "", program);
    zv::test::SetRegText(HKEY_LOCAL_MACHINE, kPortableAppPaths, "Path", program.substr(0, program.rfind('\\')));
  }
};

TEST_F(NoJobChannel, StartsTheRegisteredPortableEditionNeverTheOneInTheCurrentFolder) {
  // At high integrity the program is started unelevated: with the shell's
  // token where there is one (Wine has none to give), else a medium copy
  // of ours. A kestrix.exe in the current folder is planted, not ours.
  zv::test::ScratchDir portable, current;
  const std::string program = InstallPortable(portable);
  const std::string planted = InstallPortable(current);
  RegisterPortable(program);
  EXPECT_EQ(RunWithoutChannel(HelperExe(), current.path()), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  const std::string record = WaitForRecord(program + ".log");
  ASSERT_NE(record, "") << "the registered kestrix.exe was not started";
  EXPECT_EQ(RidOfRecord(record), MediumRidOnThisPlatform()) << record;
  EXPECT_FALSE(RecordsAnAdministrator(record)) << record;
  EXPECT_EQ(WaitForRecord(planted + ".log", 1000), "");
}

TEST_F(NoJobChannel, ASectionThatExistsButDoesNotOpenEndsTheHelperWithNothingStarted) {
  // An object of another type under the section's name: the open fails
  // with a refusal, not with "not found" (as an access-denied section does
  // on Windows), so there is a job list the helper cannot read.
  zv::test::ScratchDir portable, current;
  const std::string program = InstallPortable(portable);
  RegisterPortable(program);
  zv::jobs::ChannelLock lock;
  zv::win::UniqueHandle squatter(CreateEventA(nullptr, TRUE, FALSE, zv::jobs::kJobMappingName));
  ASSERT_TRUE(squatter);
  SetLastError(0);
  ASSERT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, zv::jobs::kJobMappingName), nullptr);
  const DWORD refusal = GetLastError();
  const DWORD exitCode = RunWithoutChannel(HelperExe(), current.path());
  squatter.reset();
  EXPECT_NE(refusal, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(exitCode, refusal);
  EXPECT_EQ(WaitForRecord(program + ".log", 2000), "");
}

TEST_F(NoJobChannel, WithoutAnAppPathsEntryNothingStarts) {
  zv::test::ScratchDir current;
  const std::string planted = InstallPortable(current);
  EXPECT_EQ(RunWithoutChannel(HelperExe(), current.path()), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(WaitForRecord(planted + ".log", 2000), "");
}

TEST_F(NoJobChannel, UnderAnOldVersionSettingItStartsFromAppPathsStillUnelevated) {
  // Wine reports Windows XP (5.1, no integrity levels) to this copy of the
  // helper, whose token is still high: the token decides how it starts the
  // program. Its current folder does not hold kestrix.exe.
  zv::test::ScratchDir portable, elsewhere;
  const std::string program = InstallPortable(portable);
  RegisterPortable(program);
  const std::string helper = elsewhere.File("zvadm-xp-" + std::to_string(GetCurrentProcessId()) + ".exe");
  ASSERT_TRUE(CopyFileA(HelperExe().c_str(), helper.c_str(), FALSE));
  const std::string appDefaults = "Software\\Wine\\AppDefaults\\" + helper.substr(helper.rfind('\\') + 1);
  zv::test::SetRegText(HKEY_CURRENT_USER, appDefaults.c_str(), "Version", "winxp");
  const DWORD exitCode = RunWithoutChannel(helper, elsewhere.path());
  zv::test::DeleteKeyTree(HKEY_CURRENT_USER, appDefaults.c_str());
  EXPECT_EQ(exitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  const std::string record = WaitForRecord(program + ".log");
  ASSERT_NE(record, "") << "kestrix.exe was not started through App Paths";
  EXPECT_FALSE(RecordsAnAdministrator(record)) << record;
}

}  // namespace
