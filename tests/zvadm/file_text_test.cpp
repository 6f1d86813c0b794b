// The texts and names the file jobs make, without any file.
#include <gtest/gtest.h>

#include "FileJobText.h"

using namespace zvadm;

namespace {

TEST(FileJobText, DeleteTargets) {
  for (const char* target : {"", "NUL", "nul", "Nul", "nul:", "NULL.TXT"}) EXPECT_TRUE(IsDeleteTarget(target)) << target;
  for (const char* target : {"NU", " NUL", "C:\\NUL", "C:\\x.dll"}) EXPECT_FALSE(IsDeleteTarget(target)) << target;
}

TEST(FileJobText, RenameEntryEndsEveryLineWithCrLf) {
  struct Case {
    std::string before, after;
  };
  const Case cases[] = {
      {"a\rb\r\n[rename]\r", "a\r\nb\r\n[rename]\r\nE\r\n"},        // bare CR ends a line too
      {"\r\n\r\n", "\r\n\r\n[RENAME]\r\nE\r\n"},                    // empty lines are kept
      {std::string("[RENAME]\0x", 10), std::string("[RENAME]\0x\r\n[RENAME]\r\nE\r\n", 25)},
      {" [RENAME]\r\n[RENAME] \r\n", " [RENAME]\r\n[RENAME] \r\n[RENAME]\r\nE\r\n"},  // no trimming
  };
  for (const Case& c : cases) EXPECT_EQ(AddRenameEntry(c.before, "E"), c.after);
}

TEST(FileJobText, BatchNameAndFolders) {
  EXPECT_EQ(BatchFileName("C:\\TEMP\\DEL1A2B.tmp"), "C:\\TEMP\\DEL1A2B.BAT");
  EXPECT_EQ(BatchFileName("C:\\TEMP\\DEL1A2B"), "C:\\TEMP\\DEL1A2B.BAT");
  EXPECT_EQ(BatchFileName("C:\\TE.MP\\DEL1A2B"), "C:\\TE.MP\\DEL1A2B.BAT");
  EXPECT_EQ(FolderOf("C:\\Program Files\\Zorvane\\zvadm.exe"), "C:\\Program Files\\Zorvane\\");
  EXPECT_EQ(FolderOf("C:zvadm.exe"), "C:");
  EXPECT_EQ(WithoutTrailingBackslash("C:\\a\\\\"), "C:\\a\\");
  EXPECT_EQ(ParentFolder("C:\\a\\b"), "C:\\a");
  EXPECT_EQ(ParentFolder("a"), "");
}

TEST(FileJobText, IniEntryFields) {
  struct Case {
    std::string text;
    TIniEntry fields;
  };
  const Case cases[] = {
      {"f.ini\tS\tK\tV", {"f.ini", "S", "K", "V"}},
      {"f.ini\tS\tK", {"f.ini", "S", "K", ""}},
      {"f.ini\tS", {"f.ini", "S", "", ""}},
      {"f.ini\tS\t\tV", {"f.ini", "S", "", "V"}},
      {"f.ini\tS\tK\tV\tmore", {"f.ini", "S", "K", "V\tmore"}},
      {"", {"", "", "", ""}},
  };
  for (const Case& c : cases) {
    const TIniEntry entry = SplitIniEntry(c.text);
    EXPECT_EQ(entry.file, c.fields.file) << c.text;
    EXPECT_EQ(entry.section, c.fields.section) << c.text;
    EXPECT_EQ(entry.key, c.fields.key) << c.text;
    EXPECT_EQ(entry.value, c.fields.value) << c.text;
  }
}

}  // namespace
