// The file, folder and initialisation-file jobs run by zvadm.exe through the
// job channel: results, files and folders afterwards, and the renames left
// for the next start (NT's pending renames, the 9x family's "wininit.ini").
#include <gtest/gtest.h>

#include "adm_test_support.h"

#include <shellapi.h>

using namespace zv::test::adm;

namespace {

constexpr int32_t kRestart = 3010;
constexpr DWORD kShareNoDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::string ShortName(const std::string& path) {
  char name[MAX_PATH] = {};
  const DWORD length = GetShortPathNameA(path.c_str(), name, MAX_PATH);
  return std::string(name, length < MAX_PATH ? length : 0);
}

std::string NtName(const std::string& path) { return "\\??\\" + path; }

std::string WindowsFile(const char* name) {
  char folder[MAX_PATH] = {};
  GetWindowsDirectoryA(folder, MAX_PATH);
  return std::string(folder) + "\\" + name;
}

// Owns "wininit.ini" for one test: holds the sender lock (every helper run
// waits for it), starts from `initial` (nullopt: no file) and puts back
// what was there.
class Wininit {
 public:
  explicit Wininit(const std::optional<std::string>& initial)
      : path_(WindowsFile("wininit.ini")), saved_(ReadBytes(path_)) {
    Put(initial);
  }
  ~Wininit() { Put(saved_); }
  std::optional<std::string> Text() const { return ReadBytes(path_); }
  bool RebuildLeftOver() const { return Exists(WindowsFile("wininit.$$$")); }

 private:
  void Put(const std::optional<std::string>& text) {
    DeleteFileA(path_.c_str());
    if (text) WriteBytes(path_, *text);
  }
  zv::jobs::ChannelLock lock_;
  std::string path_;
  std::optional<std::string> saved_;
};

struct Family {
  const char* version;
};

std::string FamilyName(const testing::TestParamInfo<Family>& info) { return info.param.version; }
void PrintTo(const Family& family, std::ostream* out) { *out << family.version; }

class FileJobsOn : public testing::TestWithParam<Family> {
 protected:
  ~FileJobsOn() override { ClearPendingRenamesFrom(dir_.path()); }
  zv::test::ScratchDir dir_;
  HelperCopy helper_{GetParam().version};
};

TEST_P(FileJobsOn, DeleteNowOrAtRestart) {
  const std::string plain10 = dir_.File("plain10.txt"), plain11 = dir_.File("plain11.txt");
  const std::string held10 = dir_.File("held10.txt"), held11 = dir_.File("held11.txt");
  for (const std::string& file : {plain10, plain11, held10, held11}) WriteBytes(file, "data");
  HeldFile hold10(held10, kShareNoDelete), hold11(held11, kShareNoDelete);
  Wininit wininit(std::nullopt);

  const auto outcome =
      helper_.Run({MakeJob(10, dir_.File("missing.txt")), MakeJob(11, dir_.File("missing.txt")), MakeJob(10, plain10),
                   MakeJob(11, plain11), MakeJob(10, held10), MakeJob(11, held11)});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  const std::vector<int32_t> expected = {0, 0, 0, 0, ERROR_SHARING_VIOLATION, kRestart};
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(outcome.jobs[i].result, expected[i]) << outcome.jobs[i].param1;
  EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(kRestart));
  EXPECT_FALSE(Exists(plain10));
  EXPECT_FALSE(Exists(plain11));
  EXPECT_TRUE(Exists(held10));
  EXPECT_TRUE(Exists(held11));

  const auto pending = PendingRenamesFrom(dir_.path());
  if (helper_.win9x()) {
    EXPECT_TRUE(pending.empty());
    EXPECT_EQ(wininit.Text(), "[RENAME]\r\nNUL=" + ShortName(held11) + "\r\n");
  } else {
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].source, NtName(held11));
    EXPECT_EQ(pending[0].target, "");
    EXPECT_EQ(wininit.Text(), std::nullopt);
  }
}

TEST_P(FileJobsOn, ReplaceAtOnceOrANewerVersionAtRestart) {
  const std::string v20 = zv::test::WinPath(ZV_VERSION_2_0_MODULE), v21 = zv::test::WinPath(ZV_VERSION_2_1_MODULE);
  const std::string bytes20 = ReadBytes(v20).value_or(""), bytes21 = ReadBytes(v21).value_or("");
  ASSERT_NE(bytes20, bytes21);
  struct Case {
    const char* name;
    std::string target, replacement;  // contents: a version module or plain text
    bool held;
    int32_t result;
    bool scheduled;
  };
  const std::vector<Case> cases = {
      {"atonce", bytes20, bytes21, false, 0, false},
      {"newer", bytes20, bytes21, true, kRestart, true},
      {"older", bytes21, bytes20, true, 0, false},
      {"same", bytes21, bytes21, true, 0, false},
      {"noversions", "old text", "new text", true, 0, false},
      {"versionedover", "old text", bytes21, true, kRestart, true},
  };
  std::vector<std::unique_ptr<HeldFile>> holds;
  std::vector<zv::jobs::Job> jobs;
  for (const Case& c : cases) {
    WriteBytes(dir_.File(std::string(c.name) + ".dll"), c.target);
    WriteBytes(dir_.File(std::string(c.name) + "-new.dll"), c.replacement);
    if (c.held) holds.push_back(std::make_unique<HeldFile>(dir_.File(std::string(c.name) + ".dll"), FILE_SHARE_READ));
    jobs.push_back(MakeJob(20, dir_.File(std::string(c.name) + "-new.dll"), dir_.File(std::string(c.name) + ".dll")));
  }
  Wininit wininit(std::nullopt);
  const auto outcome = helper_.Run(jobs);
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(kRestart));

  // What waits for the restart is the helper's own copy beside the target,
  // never the sender's file: one per scheduled case, holding its bytes.
  std::vector<std::string> copies;
  for (const WIN32_FIND_DATAA& found : zv::test::EntriesMatching(dir_.File("zvr*.tmp")))
    copies.push_back(dir_.File(found.cFileName));
  std::vector<std::string> scheduledTargets;
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const std::string target = dir_.File(std::string(c.name) + ".dll");
    const std::string replacement = dir_.File(std::string(c.name) + "-new.dll");
    EXPECT_EQ(outcome.jobs[i].result, c.result) << c.name;
    EXPECT_EQ(ReadBytes(target), c.held ? c.target : c.replacement) << c.name;
    EXPECT_EQ(Exists(replacement), c.held) << c.name;
    if (c.scheduled) scheduledTargets.push_back(target);
  }
  ASSERT_EQ(copies.size(), scheduledTargets.size());
  for (const std::string& copy : copies) EXPECT_EQ(ReadBytes(copy), bytes21) << copy;
  const auto isCopy = [&](const std::string& name, bool shortForm) {
    for (const std::string& copy : copies)
      if (name == (shortForm ? ShortName(copy) : NtName(copy))) return true;
    return false;
  };
  const auto pending = PendingRenamesFrom(dir_.path());
  if (helper_.win9x()) {
    EXPECT_TRUE(pending.empty());
    // Each entry goes right after "[RENAME]": the last one first.
    const auto text = wininit.Text();
    ASSERT_TRUE(text);
    ASSERT_EQ(text->rfind("[RENAME]\r\n", 0), 0u) << *text;
    size_t at = 10;
    for (auto target = scheduledTargets.rbegin(); target != scheduledTargets.rend(); ++target) {
      const size_t end = text->find("\r\n", at);
      ASSERT_NE(end, std::string::npos) << *text;
      const std::string line = text->substr(at, end - at);
      EXPECT_EQ(line.substr(0, line.find('=')), ShortName(*target)) << line;
      EXPECT_TRUE(isCopy(line.substr(line.find('=') + 1), true)) << line;
      at = end + 2;
    }
    EXPECT_EQ(at, text->size());
  } else {
    ASSERT_EQ(pending.size(), scheduledTargets.size());
    for (size_t i = 0; i < pending.size(); ++i) {
      EXPECT_TRUE(isCopy(pending[i].source, false)) << pending[i].source;
      // Replacing needs the "replace existing" mark, or the system skips it.
      EXPECT_EQ(pending[i].target, "!" + NtName(scheduledTargets[i]));
    }
    EXPECT_EQ(wininit.Text(), std::nullopt);
  }
}

// A replacement that is a second name of somebody else's file is refused:
// moving it would install a file its owner can still change.
TEST_P(FileJobsOn, AReplacementWithAnotherNameIsRefused) {
  const std::string elsewhere = dir_.File("owned by a user.dll"), linked = dir_.File("linked-new.dll");
  WriteBytes(elsewhere, "the user's bytes");
  ASSERT_TRUE(CreateHardLinkA(linked.c_str(), elsewhere.c_str(), nullptr));
  WriteBytes(dir_.File("linked.dll"), "installed");
  const auto outcome = helper_.Run({MakeJob(20, linked, dir_.File("linked.dll"))});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(ERROR_CANT_ACCESS_FILE));
  EXPECT_EQ(ReadBytes(dir_.File("linked.dll")), "installed");
  EXPECT_TRUE(Exists(linked));
  EXPECT_TRUE(PendingRenamesFrom(dir_.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Families, FileJobsOn, testing::Values(Family{"winxp"}, Family{"win98"}), FamilyName);

// The 9x family's "wininit.ini" as it stands before a deletion is scheduled,
// and afterwards ("@" is the new entry line).
struct WininitCase {
  const char* name;
  std::optional<std::string> before;
  std::string after;
};

void PrintTo(const WininitCase& c, std::ostream* out) { *out << c.name; }

class WininitEdit : public testing::TestWithParam<WininitCase> {};

TEST_P(WininitEdit, EntryGoesAfterEveryRenameSectionLine) {
  const WininitCase& c = GetParam();
  HelperCopy helper("win98");
  zv::test::ScratchDir dir;
  const std::string held = dir.File("in use.txt");
  WriteBytes(held, "data");
  HeldFile hold(held, kShareNoDelete);
  Wininit wininit(c.before);
  const auto outcome = helper.Run({MakeJob(11, held)});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(kRestart));
  std::string expected = c.after;
  const std::string entry = "NUL=" + ShortName(held);
  for (size_t at = expected.find('@'); at != std::string::npos; at = expected.find('@', at + entry.size()))
    expected.replace(at, 1, entry);
  EXPECT_EQ(wininit.Text(), expected);
  EXPECT_FALSE(wininit.RebuildLeftOver());
}

INSTANTIATE_TEST_SUITE_P(
    Files, WininitEdit,
    testing::Values(WininitCase{"Missing", std::nullopt, "[RENAME]\r\n@\r\n"},
                    WininitCase{"Empty", std::string(), "[RENAME]\r\n@\r\n"},
                    WininitCase{"NoRenameSection", "[boot]\r\nshell=x\r\n", "[boot]\r\nshell=x\r\n[RENAME]\r\n@\r\n"},
                    WininitCase{"UpperCase", "[RENAME]\r\nNUL=C:\\OLD.TXT\r\n", "[RENAME]\r\n@\r\nNUL=C:\\OLD.TXT\r\n"},
                    WininitCase{"LowerCaseBareLineFeeds", "[x]\na=1\n[rename]\nNUL=C:\\OLD.TXT",
                                "[x]\r\na=1\r\n[rename]\r\n@\r\nNUL=C:\\OLD.TXT\r\n"},
                    WininitCase{"TwoSections", "[Rename]\r\n[other]\r\n[RENAME]\r\n",
                                "[Rename]\r\n@\r\n[other]\r\n[RENAME]\r\n@\r\n"}),
    [](const testing::TestParamInfo<WininitCase>& info) { return std::string(info.param.name); });

TEST(FolderJobs, CreateAndRemove) {
  zv::test::ScratchDir dir;
  const auto at = [&](const char* name) { return dir.File(name); };
  CreateDirectoryA(at("a").c_str(), nullptr);
  CreateDirectoryA(at("empty").c_str(), nullptr);
  CreateDirectoryA(at("full").c_str(), nullptr);
  WriteBytes(at("full\\kept.txt"), "x");
  WriteBytes(at("file.txt"), "x");
  struct Case {
    uint8_t kind;
    std::string folder;
    int32_t result;
  };
  const std::vector<Case> cases = {
      {17, at("a\\b\\c\\"), 0},                                 // only "a" exists: b, then c
      {17, at("a"), 0},                                         // exists already
      {17, at("single\\"), 0},                                  // trailing backslash
      {17, at("file.txt"), ERROR_ALREADY_EXISTS},               // a file is in the way
      {17, at("file.txt\\sub\\deeper"), ERROR_ALREADY_EXISTS},  // the failure of a parent comes back
      {17, "C:\\" + std::string(40000, '\\'), ERROR_FILENAME_EXCED_RANGE},
      {12, at("empty\\"), 0},
      {12, at("missing"), 0},
      {12, at("file.txt"), 0},  // not a folder: nothing to remove
      {12, at("full"), ERROR_DIR_NOT_EMPTY},
  };
  std::vector<zv::jobs::Job> jobs;
  for (const Case& c : cases) jobs.push_back(MakeJob(c.kind, c.folder));
  const auto outcome = RunJobs(jobs);
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  for (size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(outcome.jobs[i].result, cases[i].result) << int(cases[i].kind) << " " << cases[i].folder.substr(0, 80);
  EXPECT_TRUE(Exists(at("a\\b\\c")));
  EXPECT_TRUE(Exists(at("single")));
  EXPECT_FALSE(Exists(at("file.txt\\sub")));
  EXPECT_FALSE(Exists(at("empty")));
  EXPECT_TRUE(Exists(at("full\\kept.txt")));
  EXPECT_TRUE(Exists(at("file.txt")));
}

TEST(ShellFileOperationJob, ListsOfTwoNames) {
  zv::test::ScratchDir dir;
  const auto at = [&](const std::string& name) { return dir.File(name); };
  for (const char* folder : {"copy", "del", "copied", "moved", "move", "move\\a", "move\\b", "files"})
    CreateDirectoryA(at(folder).c_str(), nullptr);
  for (const char* file : {"copy\\a.txt", "copy\\b.txt", "move\\a\\in.txt", "move\\b\\in.txt", "del\\a.txt",
                           "del\\b.txt", "files\\a.txt", "files\\b.txt", "old.txt", "c.txt"})
    WriteBytes(at(file), file);
  const auto list = [&](const char* first, const char* second) {
    return at(first) + std::string(1, '\0') + at(second) + std::string(1, '\0');
  };
  WriteBytes(at("owned.txt"), "somebody's");
  ASSERT_TRUE(CreateHardLinkA(at("linked.txt").c_str(), at("owned.txt").c_str(), nullptr));
  struct Case {
    zv::jobs::Job job;
    int32_t result;
  };
  const std::vector<Case> cases = {
      {MakeJob(15, list("copy\\a.txt", "copy\\b.txt"), at("copied"), FO_COPY), 0},
      {MakeJob(15, list("move\\a", "move\\b"), at("moved"), FO_MOVE), 0},
      {MakeJob(15, list("del\\a.txt", "del\\b.txt"), "", FO_DELETE), 0},
      {MakeJob(15, at("old.txt") + std::string(1, '\0'), at("new.txt") + std::string(1, '\0'), FO_RENAME), 0},
      // A text without a NUL of its own, after a longer one: only its own
      // name may count, not what the longer one left behind it.
      {MakeJob(15, at("c.txt"), at("moved"), FO_COPY), 0},
      // The shell refuses to move several files to one name.
      {MakeJob(15, list("files\\a.txt", "files\\b.txt"), at("moved"), FO_MOVE), ERROR_CANCELLED},
      // A second name of somebody's file is not moved as the sender's own.
      {MakeJob(15, list("c.txt", "linked.txt"), at("moved"), FO_MOVE), ERROR_CANT_ACCESS_FILE},
      // Nothing to copy: the shell's own code, as it leaves no last error.
      {MakeJob(15, list("none1.txt", "none2.txt"), at("copied"), FO_COPY), 0x402},
  };
  std::vector<zv::jobs::Job> jobs;
  for (const Case& c : cases) jobs.push_back(c.job);
  const auto outcome = RunJobs(jobs);
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(outcome.jobs[i].result, cases[i].result) << i;
  EXPECT_EQ(outcome.exitCode, 0x402u);
  EXPECT_EQ(ReadBytes(at("copied\\a.txt")), "copy\\a.txt");
  EXPECT_EQ(ReadBytes(at("copied\\b.txt")), "copy\\b.txt");
  EXPECT_TRUE(Exists(at("copy\\a.txt")) && Exists(at("copy\\b.txt")));
  EXPECT_EQ(ReadBytes(at("moved\\a\\in.txt")), "move\\a\\in.txt");
  EXPECT_EQ(ReadBytes(at("moved\\b\\in.txt")), "move\\b\\in.txt");
  EXPECT_FALSE(Exists(at("move\\a")) || Exists(at("move\\b")));
  EXPECT_FALSE(Exists(at("del\\a.txt")) || Exists(at("del\\b.txt")));
  EXPECT_EQ(ReadBytes(at("new.txt")), "old.txt");
  EXPECT_FALSE(Exists(at("old.txt")));
  EXPECT_EQ(ReadBytes(at("moved\\c.txt")), "c.txt");
  EXPECT_FALSE(Exists(at("moved\\in.txt")));
  EXPECT_TRUE(Exists(at("files\\a.txt")) && Exists(at("files\\b.txt")));
  EXPECT_TRUE(Exists(at("linked.txt")));
  EXPECT_FALSE(Exists(at("moved\\linked.txt")));
}

TEST(WriteIniStringJob, SetAndDelete) {
  zv::test::ScratchDir dir;
  const std::string before = "[Keep]\r\nK=keep\r\n[S]\r\nK=old\r\nOther=other\r\n";
  struct Case {
    const char* name;
    std::string fields;  // after the file name
    const char* k;       // [S] K afterwards, nullptr: absent
    bool otherKept;      // [S] Other still there
    int32_t result = 0;
  };
  const std::vector<Case> cases = {
      {"set", "\tS\tK\tnew", "new", true},
      {"add", "\tS\tNewKey\tv", "old", true},
      {"keydeleted", "\tS\tK", nullptr, true},
      {"emptyvalue", "\tS\tK\t", nullptr, true},
      {"sectiondeleted", "\tS", nullptr, false},
      {"emptykey", "\tS\t\tv", nullptr, false},
      // A line break would write entries of its own: refused, nothing written.
      {"valuebreak", "\tS\tK\tnew\r\n[Keep]\r\nK=planted", "old", true, ERROR_INVALID_PARAMETER},
      {"keybreak", "\tS\tK=x\nOther\tv", "old", true, ERROR_INVALID_PARAMETER},
      {"sectionbreak", "\tKeep]\r\n[S\tK\tv", "old", true, ERROR_INVALID_PARAMETER},
      {"valuenul", std::string("\tS\tK\tnew\0[Keep]", 15), "old", true, ERROR_INVALID_PARAMETER},
  };
  std::vector<zv::jobs::Job> jobs;
  for (const Case& c : cases) {
    WriteBytes(dir.File(std::string(c.name) + ".ini"), before);
    jobs.push_back(MakeJob(23, dir.File(std::string(c.name) + ".ini") + c.fields));
  }
  jobs.push_back(MakeJob(23, dir.File("no such folder\\x.ini") + "\tS\tK\tv"));
  const auto outcome = RunJobs(jobs);
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const std::string file = dir.File(std::string(c.name) + ".ini");
    EXPECT_EQ(outcome.jobs[i].result, c.result) << c.name;
    char value[64] = {};
    GetPrivateProfileStringA("S", "K", "(absent)", value, sizeof(value), file.c_str());
    EXPECT_STREQ(value, c.k ? c.k : "(absent)") << c.name;
    GetPrivateProfileStringA("S", "Other", "(absent)", value, sizeof(value), file.c_str());
    EXPECT_STREQ(value, c.otherKept ? "other" : "(absent)") << c.name;
    GetPrivateProfileStringA("Keep", "K", "(absent)", value, sizeof(value), file.c_str());
    EXPECT_STREQ(value, "keep") << c.name;
  }
  EXPECT_EQ(outcome.jobs.back().result, ERROR_PATH_NOT_FOUND);
  char value[64] = {};
  GetPrivateProfileStringA("S", "NewKey", "", value, sizeof(value), dir.File("add.ini").c_str());
  EXPECT_STREQ(value, "v");
}

}  // namespace
