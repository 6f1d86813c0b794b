// The plug-in refuses to load into a browser whose executable is
// chrome.exe. The stand-in browser is run from copies under such names.
#include <gtest/gtest.h>

#include "zvtest.h"

using namespace zv::test;

namespace {

struct HostCase {
  const char* name;
  const char* relativePath;  // the host's copy, below a scratch folder
  bool loads;
};
void PrintTo(const HostCase& c, std::ostream* os) { *os << c.name; }

class PluginHostCheck : public testing::TestWithParam<HostCase> {};

TEST_P(PluginHostCheck, LoadsUnlessTheFirstChromeExeEndsThePath) {
  ScratchDir scratch;
  const std::string copy = scratch.File(GetParam().relativePath);
  // Create the folders on the way.
  for (size_t at = copy.find('\\', scratch.path().size() + 1); at != std::string::npos; at = copy.find('\\', at + 1))
    CreateDirectoryA(copy.substr(0, at).c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(ToolExe("npzhost.exe").c_str(), copy.c_str(), FALSE)) << copy;

  const ProgramResult run = RunProgram("\"" + copy + "\" load \"" + WinPath(ZV_NPZORVEX_MODULE) + "\"");
  if (GetParam().loads) {
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.output.rfind("loaded", 0), 0u) << run.output;
  } else {
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    // LoadLibrary fails because the library's entry routine said no.
    EXPECT_NE(run.output.find("refused (error 1114)"), std::string::npos) << run.output;
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, PluginHostCheck,
                         testing::Values(HostCase{"OtherBrowser", "opera.exe", true},
                                         HostCase{"ChromeLowerCase", "chrome.exe", false},
                                         HostCase{"ChromeUpperCase", "CHROME.EXE", false},
                                         HostCase{"ChromeMixedCase", "Chrome.Exe", false},
                                         HostCase{"NameEndingInChrome", "mychrome.exe", false},
                                         HostCase{"OnlyInAFolderName", "chrome.exe\\opera.exe", true},
                                         HostCase{"FirstOccurrenceInAFolder", "Chrome.exe.d\\chrome.exe", true},
                                         HostCase{"FolderNamedLikeTheExe", "chrome.exe\\chrome.exe", true},
                                         HostCase{"LongerName", "chrome.exe.exe", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
