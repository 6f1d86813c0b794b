// Kinds 1 to 5 run by zvadm.exe: registry values and keys as a peer reads
// them afterwards, and the result of each job.
#include <gtest/gtest.h>

#include "adm_test_support.h"

using namespace zv::test::adm;

namespace {

std::string Bin(const char* bytes, size_t n) { return std::string(bytes, n); }

struct Root {
  const char* name;
  HKEY key;
  const char* parent;  // where the test key goes
};

class WriteJobsUnder : public testing::TestWithParam<Root> {};

TEST_P(WriteJobsUnder, StoreExactlyTheBytesWithTheKindsType) {
  const Root& root = GetParam();
  TestKey key(root.key, root.parent);
  const std::string at = std::string(root.name) + "\\" + key.path() + "\\";
  const auto outcome = RunJobs({
      MakeJob(2, at + "Sz", "abc"),
      MakeJob(2, at + "SzWithNul", Bin("abc\0", 4)),
      MakeJob(2, at + "SzEmpty", ""),
      MakeJob(3, at + "Dword", Bin("\x2A\0\0\x80", 4)),
      MakeJob(4, at + "Binary", Bin("\0\xFF\x01\0", 4)),
      MakeJob(5, at + "Expand", "%TEMP%\\x"),
  });
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  for (const auto& job : outcome.jobs) EXPECT_EQ(job.result, 0) << job.param1;
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(QueryValue(root.key, key.path(), "Sz"), (RegValue{REG_SZ, "abc"}));
  EXPECT_EQ(QueryValue(root.key, key.path(), "SzWithNul"), (RegValue{REG_SZ, Bin("abc\0", 4)}));
  EXPECT_EQ(QueryValue(root.key, key.path(), "SzEmpty"), (RegValue{REG_SZ, ""}));
  EXPECT_EQ(QueryValue(root.key, key.path(), "Dword"), (RegValue{REG_DWORD, Bin("\x2A\0\0\x80", 4)}));
  EXPECT_EQ(QueryValue(root.key, key.path(), "Binary"), (RegValue{REG_BINARY, Bin("\0\xFF\x01\0", 4)}));
  EXPECT_EQ(QueryValue(root.key, key.path(), "Expand"), (RegValue{REG_EXPAND_SZ, "%TEMP%\\x"}));
}

TEST_P(WriteJobsUnder, DeleteAValueThenTheKey) {
  const Root& root = GetParam();
  TestKey key(root.key, root.parent);
  SetRegText(root.key, key.path() + "\\Sub", "V", "v");
  SetRegText(root.key, key.path(), "W", "w");
  const std::string at = std::string(root.name) + "\\" + key.path() + "\\";
  auto outcome = RunJobs({MakeJob(1, at + "W")});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_FALSE(QueryValue(root.key, key.path(), "W"));
  EXPECT_TRUE(QueryValue(root.key, key.path() + "\\Sub", "V"));
  outcome = RunJobs({MakeJob(1, at)});
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_FALSE(KeyExists(root.key, key.path()));
}

INSTANTIATE_TEST_SUITE_P(Roots, WriteJobsUnder,
                         testing::Values(Root{"HKCU", HKEY_CURRENT_USER, "Software"},
                                         Root{"HKLM", HKEY_LOCAL_MACHINE, "Software"},
                                         Root{"HKCR", HKEY_CLASSES_ROOT, ""},
                                         Root{"HKUS", HKEY_USERS, ".DEFAULT\\Software"},
                                         Root{"HKCC", HKEY_CURRENT_CONFIG, "Software"},
                                         // The roots as signed numbers, decimal and hexadecimal.
                                         Root{"-2147483646", HKEY_LOCAL_MACHINE, "Software"},
                                         Root{"$80000001", HKEY_CURRENT_USER, "Software"},
                                         Root{"0x80000003", HKEY_USERS, ".DEFAULT\\Software"}),
                         [](const testing::TestParamInfo<Root>& info) {
                           std::string name;
                           for (const char c : std::string(info.param.name)) name += isalnum(c) ? c : '_';
                           return name;
                         });

TEST(RegistryPathJobs, UnusablePathsGive1010AndTouchNothing) {
  TestKey key(HKEY_CURRENT_USER);
  TestKey machineKey(HKEY_LOCAL_MACHINE);
  const std::string rest = "\\" + key.path() + "\\V";
  const std::vector<std::string> paths = {"hkcu" + rest,
                                          "Hkcu" + rest,
                                          "HKEY_CURRENT_USER" + rest,
                                          "2147483650\\" + machineKey.path() + "\\V",
                                          "0" + rest,
                                          "$" + rest,
                                          "",
                                          "HKCU",
                                          "V"};
  std::vector<zv::jobs::Job> jobs;
  for (uint8_t kind = 1; kind <= 5; ++kind)
    for (const std::string& path : paths) jobs.push_back(MakeJob(kind, path, "data"));
  const auto outcome = RunJobs(jobs);
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  for (const auto& job : outcome.jobs)
    EXPECT_EQ(job.result, 1010) << "kind " << int(job.kind) << " path \"" << job.param1 << "\"";
  EXPECT_EQ(outcome.exitCode, 1010u);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key.path()));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, machineKey.path()));
}

TEST(RegistryPathJobs, HkeuIsAcceptedAndDoesNothing) {
  TestKey key(HKEY_CURRENT_USER);
  SetRegText(HKEY_CURRENT_USER, key.path(), "Kept", "k");
  std::vector<zv::jobs::Job> jobs = {MakeJob(1, "HKEU\\" + key.path() + "\\Kept"),
                                     MakeJob(1, "HKEU\\" + key.path() + "\\")};
  for (uint8_t kind = 2; kind <= 5; ++kind) jobs.push_back(MakeJob(kind, "HKEU\\" + key.path() + "\\New", "x"));
  const auto outcome = RunJobs(jobs);
  ASSERT_TRUE(outcome.ran) << outcome.error;
  for (const auto& job : outcome.jobs) EXPECT_EQ(job.result, 0) << int(job.kind);
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(QueryValue(HKEY_CURRENT_USER, key.path(), "Kept"), (RegValue{REG_SZ, std::string("k\0", 2)}));
  EXPECT_FALSE(QueryValue(HKEY_CURRENT_USER, key.path(), "New"));
}

TEST(RegistryPathJobs, OneBackslashNamesAValueOfTheRootKey) {
  const std::string name = "ZvAdmTestRootValue-" + std::to_string(GetCurrentProcessId());
  const auto outcome = RunJobs({MakeJob(2, "HKCU\\" + name, "in the root")});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(QueryValue(HKEY_CURRENT_USER, "", name), (RegValue{REG_SZ, "in the root"}));
  const auto removed = RunJobs({MakeJob(1, "HKCU\\" + name)});
  EXPECT_EQ(removed.exitCode, 0u);
  EXPECT_FALSE(QueryValue(HKEY_CURRENT_USER, "", name));
}

TEST(RegistryPathJobs, TrailingBackslashWritesTheDefaultValue) {
  TestKey key(HKEY_CURRENT_USER);
  const auto outcome = RunJobs({MakeJob(2, "HKCU\\" + key.path() + "\\Sub\\", "default")});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(QueryValue(HKEY_CURRENT_USER, key.path() + "\\Sub", ""), (RegValue{REG_SZ, "default"}));
}

TEST(RegistryPathJobs, RegistryErrorsArePassedOn) {
  // A number that is no open key's handle.
  TestKey key(HKEY_CURRENT_USER);
  const auto outcome = RunJobs({MakeJob(2, "12345\\" + key.path() + "\\V", "x"), MakeJob(8, "", "", 0)});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  EXPECT_EQ(outcome.jobs[0].result, ERROR_INVALID_HANDLE);
  EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key.path()));
}

TEST(DeleteRegistryJob, EmptyParam2DeletesTheWholeTree) {
  TestKey key(HKEY_CURRENT_USER);
  SetRegText(HKEY_CURRENT_USER, key.path() + "\\A\\B\\C", "V", "v");
  SetRegText(HKEY_CURRENT_USER, key.path() + "\\A\\D", "V", "v");
  SetRegText(HKEY_CURRENT_USER, key.path() + "\\E", "V", "v");
  SetRegText(HKEY_CURRENT_USER, key.path(), "Kept", "k");
  const auto outcome = RunJobs({MakeJob(1, "HKCU\\" + key.path() + "\\A\\", "")});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key.path() + "\\A"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, key.path() + "\\E"));
  EXPECT_TRUE(QueryValue(HKEY_CURRENT_USER, key.path(), "Kept"));
}

TEST(DeleteRegistryJob, NonEmptyParam2DeletesOnlyAKeyWithoutSubkeys) {
  TestKey key(HKEY_CURRENT_USER);
  SetRegText(HKEY_CURRENT_USER, key.path() + "\\Parent\\Child", "V", "v");
  SetRegText(HKEY_CURRENT_USER, key.path() + "\\Parent", "V", "v");
  SetRegText(HKEY_CURRENT_USER, key.path() + "\\Leaf", "V", "v");
  const auto outcome = RunJobs({MakeJob(1, "HKCU\\" + key.path() + "\\Parent\\", "only if empty"),
                                MakeJob(1, "HKCU\\" + key.path() + "\\Leaf\\", "x")});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_TRUE(QueryValue(HKEY_CURRENT_USER, key.path() + "\\Parent\\Child", "V"));
  EXPECT_TRUE(QueryValue(HKEY_CURRENT_USER, key.path() + "\\Parent", "V"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key.path() + "\\Leaf"));  // values do not keep it
}

TEST(DeleteRegistryJob, MissingKeysAndValuesGiveZero) {
  TestKey key(HKEY_CURRENT_USER);
  PutKey(HKEY_CURRENT_USER, key.path());
  const auto outcome = RunJobs({
      MakeJob(1, "HKCU\\" + key.path() + "\\NoSuchValue"),
      MakeJob(1, "HKCU\\" + key.path() + "\\NoSuchKey\\V"),
      MakeJob(1, "HKCU\\" + key.path() + "\\NoSuchKey\\"),
      MakeJob(1, "HKCU\\" + key.path() + "\\NoSuchKey\\", "x"),
      MakeJob(1, "12345\\" + key.path() + "\\"),
  });
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  for (const auto& job : outcome.jobs) EXPECT_EQ(job.result, 0) << job.param1;
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, key.path()));
}

}  // namespace
