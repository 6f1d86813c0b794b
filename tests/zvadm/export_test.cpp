// Kind 0, calling a module's export, run by zvadm.exe.
#include <gtest/gtest.h>

#include "adm_test_support.h"
#include "zvtest.h"

using namespace zvadmtest;

namespace {

TEST(CallExportJob, ReturnsTheExportsValueOrTheLoadersError) {
  const std::string probe = zvtest::WinPath(ZV_EXPORT_PROBE);
  const auto outcome = RunJobs({
      MakeJob(0, probe, "ReturnZero", 77),
      MakeJob(0, probe, "ReturnFive"),
      MakeJob(0, probe, "ReturnOneAfterSettingAnError"),
      MakeJob(0, probe, "NoSuchExport"),
      MakeJob(0, "Z:\\no\\such\\folder\\zvadm_missing_module.dll", "ReturnZero"),
  });
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  ASSERT_EQ(outcome.jobs.size(), 5u);
  EXPECT_EQ(outcome.jobs[0].result, 0);
  EXPECT_EQ(outcome.jobs[1].result, 5);
  EXPECT_EQ(outcome.jobs[2].result, 1234);
  EXPECT_EQ(outcome.jobs[3].result, ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(outcome.jobs[4].result, ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(CallExportJob, ASuccessfulCallAfterFailuresKeepsTheLastFailure) {
  const std::string probe = zvtest::WinPath(ZV_EXPORT_PROBE);
  const auto outcome = RunJobs({MakeJob(0, probe, "ReturnFive"), MakeJob(0, probe, "ReturnZero")});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.jobs[1].result, 0);
  EXPECT_EQ(outcome.exitCode, 5u);
}

// A library planted under a bare name in the helper's current folder or in
// a folder on PATH is never loaded; a system library under a bare name and
// a module named by its full path still are.
TEST(CallExportJob, BareNamesComeFromTheSystemFolderOnly) {
  zvtest::ScratchDir current, onPath;
  const std::string probe = zvtest::WinPath(ZV_EXPORT_PROBE);
  ASSERT_TRUE(CopyFileA(probe.c_str(), current.File("zvplanted.dll").c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(probe.c_str(), onPath.File("zvonpath.dll").c_str(), FALSE));
  char path[32768];
  const DWORD length = GetEnvironmentVariableA("PATH", path, sizeof(path));
  const std::string previous(path, length < sizeof(path) ? length : 0);
  SetEnvironmentVariableA("PATH", (onPath.path() + ";" + previous).c_str());

  zvjobs::HelperRun run;
  run.helperPath = HelperExe();
  run.workingDir = current.path();
  run.timeoutMs = 60000;
  const auto outcome = zvjobs::RunJobs({MakeJob(0, "zvplanted.dll", "ReturnFive"),
                                        MakeJob(0, "zvonpath.dll", "ReturnFive"),
                                        MakeJob(0, "kernel32.dll", "NoSuchExport"),
                                        MakeJob(0, current.File("zvplanted.dll"), "ReturnFive")},
                                       run);
  SetEnvironmentVariableA("PATH", previous.c_str());
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_EQ(outcome.jobs.size(), 4u);
  EXPECT_EQ(outcome.jobs[0].result, ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(outcome.jobs[1].result, ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(outcome.jobs[2].result, ERROR_PROC_NOT_FOUND);  // found, and only the export is missing
  EXPECT_EQ(outcome.jobs[3].result, 5);
}

}  // namespace
