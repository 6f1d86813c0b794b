// zvadm.exe driven through the job channel: what comes back in the section,
// the exit code, and sections that do not hold a job list.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#include "adm_test_support.h"
#include "zvtest.h"

using namespace zv::test::adm;

namespace {

constexpr DWORD kListDoesNotFit = 0x2000000D;
constexpr size_t kPage = 4096;

TEST(HelperProgram, IsAWindowlessProgramThatAsksForAdministratorRights) {
  HMODULE image = LoadLibraryExA(HelperExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(image, nullptr);
  HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(found, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(LoadResource(image, found))),
                             SizeofResource(image, found));
  FreeLibrary(image);
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\""), std::string::npos) << manifest;

  // The optional header's subsystem: 2 is a GUI program (no console).
  const zv::win::UniqueFile exe(
      CreateFileA(HelperExe().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(exe);
  std::vector<char> head(4096);
  DWORD got = 0;
  ReadFile(exe.get(), head.data(), static_cast<DWORD>(head.size()), &got, nullptr);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(head.data());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(head.data() + dos->e_lfanew);
  EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

TEST(JobChannel, WritesBackTheLayoutByteForByte) {
  // Kinds without an operation, so the list itself is all that changes.
  const Bytes sent = Cat({
      Le32(3), Record(0xDEADBEEF, 8, 90, 64, -7, {0x11, 0x22, 0x33}),  // Param1 stored after Param2
      Record(0, 9, 0, 0, 0, {0xFF, 0xFF, 0xFF}),                       // two empty texts
      Record(42, 200, 0, 70, 3010), Text(std::string("\0\xFF", 2)),    // at 64
      Text("second"),                                                  // at 70
      Zeros(10, 0x77),                                                 // at 80: a gap the sender left
      Text("first"),                                                   // at 90
  });
  const auto outcome = RunSection(sent, sent.size());
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_TRUE(outcome.eventSignalled);
  EXPECT_EQ(outcome.exitCode, 3010u);
  const Bytes expected = Cat({
      Le32(3), Record(0xDEADBEEF, 8, 64, 73, -7),  // padding zeroed, Tag and Result as sent
      Record(0, 9, 0, 0, 0), Record(42, 200, 0, 79, 3010),
      Text("first"),                   // at 64
      Text(std::string("\0\xFF", 2)),  // at 73
      Text("second"),                  // at 79
  });
  ASSERT_GE(outcome.section.size(), expected.size());
  EXPECT_EQ(Bytes(outcome.section.begin(), outcome.section.begin() + expected.size()), expected);
}

TEST(JobChannel, SenderThatPacksInOrderGetsAnIdenticalTextAreaBack) {
  std::vector<zv::jobs::Job> jobs;
  for (uint32_t i = 0; i < 40; ++i) {
    std::string p1, p2;
    for (uint32_t b = 0; b < i; ++b) p1.push_back(static_cast<char>(i * 31 + b));
    if (i % 3) p2 = "text " + std::to_string(i) + std::string(1, '\0');
    jobs.push_back(MakeJob(static_cast<uint8_t>(i % 2 ? 8 : 9), p1, p2, static_cast<int32_t>(i), 0x1000 + i));
  }
  const Bytes sent = zv::jobs::PackJobList(jobs);
  const auto outcome = RunJobs(jobs);
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.section, sent);
  ASSERT_TRUE(outcome.readBack);
  ASSERT_EQ(outcome.jobs.size(), jobs.size());
  for (size_t i = 0; i < jobs.size(); ++i) EXPECT_EQ(outcome.jobs[i].result, jobs[i].result);
}

TEST(JobChannel, CountZeroRunsNothingAndRewritesOnlyTheCount) {
  const Bytes sent = Cat({Le32(0), Zeros(60, 0xA5)});
  const auto outcome = RunSection(sent, sent.size());
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_TRUE(outcome.eventSignalled);
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(Bytes(outcome.section.begin(), outcome.section.begin() + sent.size()), sent);
}

struct ExitCase {
  const char* name;
  std::vector<std::pair<uint8_t, int32_t>> jobs;  // kind and the Result sent
  DWORD exitCode;
};

class ExitCodeRule : public testing::TestWithParam<ExitCase> {};

// Kinds 8, 9 and above 23 give back the Result they were sent, and the
// rule reads it like any job's result.
TEST_P(ExitCodeRule, CombinesTheResultsInOrder) {
  std::vector<zv::jobs::Job> jobs;
  for (const auto& [kind, result] : GetParam().jobs) jobs.push_back(MakeJob(kind, "p1", "p2", result, kind));
  const auto outcome = RunJobs(jobs);
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  EXPECT_EQ(outcome.exitCode, GetParam().exitCode);
  ASSERT_EQ(outcome.jobs.size(), jobs.size());
  for (size_t i = 0; i < jobs.size(); ++i) {
    EXPECT_EQ(outcome.jobs[i].result, jobs[i].result) << "job " << i;
    EXPECT_EQ(outcome.jobs[i].param1, "p1");
  }
}

INSTANTIATE_TEST_SUITE_P(
    JobChannel, ExitCodeRule,
    testing::Values(ExitCase{"RestartIsKeptOverLaterFailures", {{8, 0}, {9, 5}, {24, 3010}, {255, 2}}, 3010},
                    ExitCase{"RestartThenFailure", {{8, 3010}, {8, 5}}, 3010},
                    ExitCase{"FailureThenRestart", {{8, 5}, {9, 3010}}, 3010},
                    ExitCase{"FailureThenSuccess", {{8, 5}, {9, 0}}, 5},
                    ExitCase{"LastFailureWins", {{8, 5}, {9, 126}, {30, 0}}, 126},
                    ExitCase{"NegativeResult", {{8, -1}}, 0xFFFFFFFF},
                    ExitCase{"NoActionKindsWithZero", {{8, 0}, {9, 0}, {24, 0}, {100, 0}, {255, 0}}, 0},
                    ExitCase{"NoJobs", {}, 0}),
    [](const testing::TestParamInfo<ExitCase>& info) { return std::string(info.param.name); });

TEST(JobChannel, RegistryResultsCombineWithTheOthers) {
  TestKey key(HKEY_CURRENT_USER);
  const std::string path = "HKCU\\" + key.path() + "\\V";
  const auto outcome =
      RunJobs({MakeJob(2, path, "a"), MakeJob(2, "hkcu\\x\\y", "b"), MakeJob(8, "", "", 0), MakeJob(2, path, "c")});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  EXPECT_EQ(outcome.jobs[0].result, 0);
  EXPECT_EQ(outcome.jobs[1].result, 1010);
  EXPECT_EQ(outcome.jobs[3].result, 0);
  EXPECT_EQ(outcome.exitCode, 1010u);
  EXPECT_EQ(QueryValue(HKEY_CURRENT_USER, key.path(), "V"), (RegValue{REG_SZ, "c"}));
}

struct BadSection {
  const char* name;
  Bytes head;  // the section starts with these bytes; the rest is zero
};

class SectionThatDoesNotFit : public testing::TestWithParam<BadSection> {};

// Each list starts with a registry write, which must not happen.
TEST_P(SectionThatDoesNotFit, RunsNoJobAndWritesNothingBack) {
  TestKey key(HKEY_CURRENT_USER);
  const std::string path = "HKCU\\" + key.path() + "\\V";
  Bytes section = GetParam().head;
  // The first record's Param1 (offset 12) points at the path text at 1024.
  const Bytes pathText = Text(path);
  section.resize(kPage, 0);
  std::copy(pathText.begin(), pathText.end(), section.begin() + 1024);
  const auto outcome = RunSection(section, kPage);
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_FALSE(outcome.eventSignalled);  // the sender is never told a refused list runs
  EXPECT_EQ(outcome.exitCode, kListDoesNotFit);
  EXPECT_EQ(outcome.section, section);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key.path()));
}

INSTANTIATE_TEST_SUITE_P(JobChannel, SectionThatDoesNotFit,
                         testing::Values(
                             // 300 records need 6004 bytes of the 4096.
                             BadSection{"CountBeyondTheSection", Cat({Le32(300), Record(1, 2, 1024, 0, 0)})},
                             BadSection{"NegativeCount", Cat({Le32(0xFFFFFFFE), Record(1, 2, 1024, 0, 0)})},
                             BadSection{"OffsetBeyondTheSection",
                                        Cat({Le32(2), Record(1, 2, 1024, 0, 0), Record(2, 2, 1024, 0x10000, 0)})},
                             BadSection{"LengthBeyondTheSection", Cat({Le32(2), Record(1, 2, 1024, 0, 0),
                                                                       Record(2, 2, 1024, 44, 0), Le32(kPage)})},
                             BadSection{"LengthFieldAtTheLastBytes",
                                        Cat({Le32(2), Record(1, 2, 1024, 0, 0), Record(2, 2, 1024, kPage - 2, 0)})},
                             // Every job names the same 1000-byte text: it fits once, but 50
                             // copies written back would not.
                             BadSection{"SharedTextTooLargeToWriteBack",
                                        [] {
                                          Bytes head = Le32(50);
                                          head = Cat({head, Record(1, 2, 1024, 0, 0)});
                                          for (int i = 1; i < 50; ++i) head = Cat({head, Record(2, 4, 1024, 2048, 0)});
                                          head.resize(2048, 0);
                                          return Cat({head, Text(std::string(1000, 'x'))});
                                        }()}),
                         [](const testing::TestParamInfo<BadSection>& info) { return std::string(info.param.name); });

// A section carries the mandatory label of the process that made it: one
// below medium may come from a low-integrity process, and its list is
// refused as a list that does not fit, with nothing run. The label counts
// wherever the token has one, also for a helper that a compatibility
// setting tells it runs on Windows XP.
struct SectionMaker {
  const char* name;
  const char* sddl;
  bool runs;
  const char* version = nullptr;  // Wine's version setting for a copy of the helper
};

class SectionLabel : public testing::TestWithParam<SectionMaker> {};

TEST_P(SectionLabel, DecidesWhetherTheListRuns) {
  TestKey key(HKEY_CURRENT_USER);
  std::optional<HelperCopy> copy;
  if (GetParam().version) copy.emplace(GetParam().version);
  zv::jobs::HelperRun run;
  run.helperPath = copy ? copy->path() : HelperExe();
  run.timeoutMs = 60000;
  run.sectionSddl = GetParam().sddl;
  const auto outcome = zv::jobs::RunJobs({MakeJob(2, "HKCU\\" + key.path() + "\\V", "x")}, run);
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.eventSignalled, GetParam().runs);
  EXPECT_EQ(outcome.exitCode, GetParam().runs ? 0u : kListDoesNotFit);
  EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, key.path()), GetParam().runs);
  ASSERT_EQ(outcome.jobs.size(), 1u);
  EXPECT_EQ(outcome.jobs[0].result, 0);  // as sent, when refused
}

INSTANTIATE_TEST_SUITE_P(JobChannel, SectionLabel,
                         testing::Values(SectionMaker{"NoLabel", "", true},
                                         SectionMaker{"Medium", "S:(ML;;NW;;;ME)", true},
                                         SectionMaker{"Low", "S:(ML;;NW;;;LW)", false},
                                         SectionMaker{"LowNoReadUp", "S:(ML;;NWNR;;;LW)", false},
                                         SectionMaker{"Untrusted", "S:(ML;;NW;;;S-1-16-0)", false},
                                         SectionMaker{"AnonymousOwner", "O:AN", false},
                                         SectionMaker{"AdministratorsOwner", "O:BA", true},
                                         SectionMaker{"LowToAHelperToldItIsOnXp", "S:(ML;;NW;;;LW)", false, "winxp"},
                                         SectionMaker{"MediumToAHelperToldItIsOnXp", "S:(ML;;NW;;;ME)", true, "winxp"}),
                         [](const testing::TestParamInfo<SectionMaker>& info) { return std::string(info.param.name); });

TEST(JobChannel, ZvjobsRunsATextListAndPrintsTheResults) {
  TestKey key(HKEY_CURRENT_USER);
  zv::test::ScratchDir dir;
  const std::string list = dir.File("jobs.txt");
  {
    std::ofstream out(list, std::ios::binary);
    out << "# kind tag param1 param2 result\n"
        << "2 0x10 \"HKCU\\" << key.path() << "\\Greeting\" \"Hello there^00\"\n"
        << "3 0x11 HKCU\\" << key.path() << "\\Count ^2A^00^00^00\n"
        << "2 0x12 \"hkcu\\" << key.path() << "\\Lower\" \"\"\n"
        << "9 0x13 \"\" \"\" 3010\n";
  }
  const auto run = zv::test::RunProgram("\"" + zv::test::ToolExe("zvjobs.exe") + "\" --helper=\"" + HelperExe() +
                                        "\" \"" + list + "\"");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("0    2   jkWriteRegSz              0x00000010 0"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("2    2   jkWriteRegSz              0x00000012 1010"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("3    9   no action                 0x00000013 3010"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("exit code: 3010 (0x00000BC2)"), std::string::npos) << run.output;
  EXPECT_EQ(QueryValue(HKEY_CURRENT_USER, key.path(), "Greeting"),
            (RegValue{REG_SZ, std::string("Hello there\0", 12)}));
  EXPECT_EQ(QueryValue(HKEY_CURRENT_USER, key.path(), "Count"), (RegValue{REG_DWORD, std::string("\x2A\0\0\0", 4)}));
}

}  // namespace
