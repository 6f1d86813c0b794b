// The layer's folders under Wine, against what the system's own ANSI calls
// answer for the same folders.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "win/paths.h"
#include "win/text.h"

namespace {

std::wstring Wide(const char* text) { return zv::win::WideFromAnsi(text); }

TEST(SystemFolders, AsTheSystemGivesThem) {
  char folder[MAX_PATH + 1] = {};
  ASSERT_GT(GetSystemDirectoryA(folder, MAX_PATH), 0u);
  EXPECT_EQ(zv::win::SystemFolder(), Wide(folder));
  ASSERT_GT(GetWindowsDirectoryA(folder, MAX_PATH), 0u);
  EXPECT_EQ(zv::win::WindowsFolder(), Wide(folder));
  ASSERT_GT(GetTempPathA(MAX_PATH, folder), 0u);
  EXPECT_EQ(zv::win::TempFolder(), Wide(folder));
  ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, folder, CSIDL_APPDATA, FALSE));
  EXPECT_EQ(zv::win::ShellFolder(CSIDL_APPDATA), Wide(folder) + L"\\");
  // A folder the shell does not have gives nothing, not "\".
  EXPECT_EQ(zv::win::ShellFolder(0x7F), L"");
}

}  // namespace
