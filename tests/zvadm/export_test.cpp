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

}  // namespace
