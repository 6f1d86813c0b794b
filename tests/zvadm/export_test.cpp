// Kind 0, calling a module's export, run by zvadm.exe.
#include <gtest/gtest.h>

#include <iterator>
#include <vector>

#include "adm_test_support.h"
#include "zvtest.h"

using namespace zv::test::adm;

namespace {

TEST(CallExportJob, ReturnsTheExportsValueOrTheLoadersError) {
  const std::string probe = zv::test::WinPath(ZV_EXPORT_PROBE_MODULE);
  const auto outcome = RunJobs({
      MakeJob(0, probe, "ReturnZero", 77), MakeJob(0, probe, "ReturnFive"),
      MakeJob(0, probe, "ReturnOneAfterSettingAnError"), MakeJob(0, probe, "NoSuchExport"),
      MakeJob(0, "Z:\\no\\such\\folder\\zvadm_missing_module.dll", "ReturnZero"),
      MakeJob(0, probe, "ReturnZeroUnderOle"),  // called as regsvr32 calls it
  });
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  ASSERT_EQ(outcome.jobs.size(), 6u);
  EXPECT_EQ(outcome.jobs[0].result, 0);
  EXPECT_EQ(outcome.jobs[1].result, 5);
  EXPECT_EQ(outcome.jobs[2].result, 1234);
  EXPECT_EQ(outcome.jobs[3].result, ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(outcome.jobs[4].result, ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(outcome.jobs[5].result, 0);
  EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(CallExportJob, ASuccessfulCallAfterFailuresKeepsTheLastFailure) {
  const std::string probe = zv::test::WinPath(ZV_EXPORT_PROBE_MODULE);
  const auto outcome = RunJobs({MakeJob(0, probe, "ReturnFive"), MakeJob(0, probe, "ReturnZero")});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.jobs[1].result, 0);
  EXPECT_EQ(outcome.exitCode, 5u);
}

// A library planted under a bare name in the helper's current folder or in
// a folder on PATH is never loaded; a system library under a bare name and
// a module named by its full path still are.
TEST(CallExportJob, BareNamesComeFromTheSystemFolderOnly) {
  zv::test::ScratchDir current, onPath;
  const std::string probe = zv::test::WinPath(ZV_EXPORT_PROBE_MODULE);
  ASSERT_TRUE(CopyFileA(probe.c_str(), current.File("zvplanted.dll").c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(probe.c_str(), onPath.File("zvonpath.dll").c_str(), FALSE));
  char path[32768];
  const DWORD length = GetEnvironmentVariableA("PATH", path, sizeof(path));
  const std::string previous(path, length < sizeof(path) ? length : 0);
  SetEnvironmentVariableA("PATH", (onPath.path() + ";" + previous).c_str());

  zv::jobs::HelperRun run;
  run.helperPath = HelperExe();
  run.workingDir = current.path();
  run.timeoutMs = 60000;
  const auto outcome = zv::jobs::RunJobs(
      {MakeJob(0, "zvplanted.dll", "ReturnFive"), MakeJob(0, "zvonpath.dll", "ReturnFive"),
       MakeJob(0, "kernel32.dll", "NoSuchExport"), MakeJob(0, current.File("zvplanted.dll"), "ReturnFive")},
      run);
  SetEnvironmentVariableA("PATH", previous.c_str());
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_EQ(outcome.jobs.size(), 4u);
  EXPECT_EQ(outcome.jobs[0].result, ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(outcome.jobs[1].result, ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(outcome.jobs[2].result, ERROR_PROC_NOT_FOUND);  // found, and only the export is missing
  EXPECT_EQ(outcome.jobs[3].result, 5);
}

// Forms whose folder the sender decides through the helper's current
// folder, each pointing at a copy of the probe planted there.
struct PlantedPath {
  const char* name;
  std::string (*path)(const std::string& current);  // `current`: "X:\...\folder"
};
const PlantedPath kPlantedPaths[] = {
    {"DriveRelative", [](const std::string& current) { return current.substr(0, 2) + "zvplanted.dll"; }},
    {"DotRelative", [](const std::string&) { return std::string(".\\zvplanted.dll"); }},
    {"RelativeWithSlash", [](const std::string&) { return std::string("sub/zvplanted.dll"); }},
    {"ClimbsOut",
     [](const std::string& current) { return "..\\" + current.substr(current.rfind('\\') + 1) + "\\zvplanted.dll"; }},
    {"Rooted", [](const std::string& current) { return current.substr(2) + "\\zvplanted.dll"; }},
    {"AbsoluteWithParent", [](const std::string& current) { return current + "\\sub\\..\\zvplanted.dll"; }},
    {"LongForm", [](const std::string& current) { return "\\\\?\\" + current + "\\zvplanted.dll"; }},
    {"DeviceForm", [](const std::string& current) { return "\\\\.\\" + current + "\\zvplanted.dll"; }},
    {"Stream", [](const std::string& current) { return current + "\\zvplanted.dll:x"; }},
};

TEST(CallExportJob, PathsResolvedAgainstTheCurrentFolderAreRefusedUnloaded) {
  zv::test::ScratchDir current;
  const std::string probe = zv::test::WinPath(ZV_EXPORT_PROBE_MODULE);
  ASSERT_TRUE(CreateDirectoryA(current.File("sub").c_str(), nullptr));
  for (const char* planted : {"zvplanted.dll", "sub\\zvplanted.dll"})
    ASSERT_TRUE(CopyFileA(probe.c_str(), current.File(planted).c_str(), FALSE));
  const std::string log = current.File("loads.log");
  SetEnvironmentVariableA("ZV_PROBE_LOAD_LOG", log.c_str());

  std::vector<zv::jobs::Job> jobs;
  for (const PlantedPath& row : kPlantedPaths) jobs.push_back(MakeJob(0, row.path(current.path()), "ReturnFive"));
  jobs.push_back(MakeJob(0, current.File("zvplanted.dll"), "ReturnFive"));  // its full path loads
  zv::jobs::HelperRun run;
  run.helperPath = HelperExe();
  run.workingDir = current.path();
  run.timeoutMs = 60000;
  const auto outcome = zv::jobs::RunJobs(jobs, run);
  SetEnvironmentVariableA("ZV_PROBE_LOAD_LOG", nullptr);
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_EQ(outcome.jobs.size(), std::size(kPlantedPaths) + 1);
  for (size_t i = 0; i < std::size(kPlantedPaths); ++i)
    EXPECT_EQ(outcome.jobs[i].result, ERROR_MOD_NOT_FOUND) << kPlantedPaths[i].name << ": " << jobs[i].param1;
  EXPECT_EQ(outcome.jobs.back().result, 5);
  // Loaded once: by the full path.
  EXPECT_EQ(ReadBytes(log), current.File("zvplanted.dll") + "\r\n");
}

}  // namespace
