// Kinds 13 and 14 run by zvadm.exe: the self-removal batch as the system
// started it and what it leaves behind, and the message boxes as a user
// sees them.
#include <gtest/gtest.h>

#include <algorithm>

#include "adm_test_support.h"
#include "message_box.h"

#include <tlhelp32.h>
#include <winternl.h>

using namespace zv::test::adm;

namespace {

constexpr int32_t kRestart = 3010;

// The start-up parameters of a process as the system keeps them, up to
// the window fields (the documented part of the layout stops earlier).
struct StartParameters {
  ULONG AllocationSize, Size, Flags, DebugFlags;
  HANDLE ConsoleHandle;
  ULONG ConsoleFlags;
  HANDLE StdInput, StdOutput, StdError;
  UNICODE_STRING CurrentDirectory;
  HANDLE CurrentDirectoryHandle;
  UNICODE_STRING DllPath, ImagePathName, CommandLine;
  PVOID Environment;
  ULONG X, Y, XSize, YSize, XCountChars, YCountChars, FillAttribute, WindowFlags, ShowWindowFlags;
};

struct StartedProcess {
  std::string commandLine;
  std::string currentFolder;
  DWORD windowFlags = 0;
  DWORD showWindow = 0;
};

std::string ReadRemoteText(HANDLE process, const UNICODE_STRING& text) {
  std::wstring wide(text.Length / sizeof(wchar_t), L'\0');
  SIZE_T read = 0;
  if (!ReadProcessMemory(process, text.Buffer, wide.data(), text.Length, &read)) return {};
  std::string narrow(wide.size() * 2 + 1, '\0');
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), narrow.data(),
                                    static_cast<int>(narrow.size()), nullptr, nullptr);
  narrow.resize(static_cast<size_t>(n > 0 ? n : 0));
  return narrow;
}

std::optional<StartedProcess> StartOf(DWORD pid) {
  const zv::win::UniqueHandle opened(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  if (!opened) return std::nullopt;
  const HANDLE process = opened.get();
  std::optional<StartedProcess> result;
  PROCESS_BASIC_INFORMATION basic{};
  PEB peb{};
  StartParameters parameters{};
  SIZE_T read = 0;
  if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof(basic), nullptr) == 0 &&
      ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof(peb), &read) &&
      ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof(parameters), &read)) {
    result = StartedProcess{ReadRemoteText(process, parameters.CommandLine),
                            ReadRemoteText(process, parameters.CurrentDirectory), parameters.WindowFlags,
                            parameters.ShowWindowFlags};
  }
  return result;
}

// The running process whose command line names `batch`.
std::optional<StartedProcess> FindProcessRunning(const std::string& batch) {
  const zv::win::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return std::nullopt;
  std::optional<StartedProcess> found;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot.get(), &entry); more && !found;
       more = Process32Next(snapshot.get(), &entry)) {
    const auto start = StartOf(entry.th32ProcessID);
    if (start && start->commandLine.find(batch) != std::string::npos) found = start;
  }
  return found;
}

std::vector<std::string> BatchFilesIn(const std::string& folder) {
  std::vector<std::string> files;
  for (const WIN32_FIND_DATAA& found : zv::test::EntriesMatching(folder + "\\DEL*.BAT"))
    files.push_back(folder + "\\" + found.cFileName);
  return files;
}

bool WaitUntilGone(const std::vector<std::string>& paths, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    bool any = false;
    for (const std::string& path : paths) any = any || Exists(path);
    if (!any) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(100);
  }
}

// The temporary folder of the helpers this process starts.
class TempFolderOfChildren {
 public:
  explicit TempFolderOfChildren(const std::string& folder) { SetEnvironmentVariableA("TMP", folder.c_str()); }
  ~TempFolderOfChildren() { SetEnvironmentVariableA("TMP", nullptr); }
};

struct RemoveSelfCase {
  const char* version;
  bool earlierRestart;  // an earlier job returned 3010
};

void PrintTo(const RemoveSelfCase& c, std::ostream* out) {
  *out << c.version << (c.earlierRestart ? ", after 3010" : "");
}

class RemoveSelf : public testing::TestWithParam<RemoveSelfCase> {};

std::vector<std::string> FoldersIn(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> folders;
  for (const WIN32_FIND_DATAA& found : zv::test::EntriesMatching(folder + "\\" + pattern))
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) folders.push_back(folder + "\\" + found.cFileName);
  return folders;
}

// Names the system's unique temporary names take, planted empty by somebody
// else: the helper must write none of them. (All 65,536 would take Wine
// minutes: each new name of a folder is checked against all its names.)
constexpr DWORD kPlantedBatches = 512;

void PlantEveryBatchName(const std::string& folder) {
  for (DWORD unique = 0; unique < kPlantedBatches; ++unique) {
    char name[32];
    wsprintfA(name, "\\DEL%04lX.BAT", unique);
    zv::win::UniqueFile(CreateFileA((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  }
}

// The planted names that are still there, empty.
DWORD UntouchedPlantedBatches(const std::string& folder) {
  DWORD untouched = 0;
  for (const WIN32_FIND_DATAA& found : zv::test::EntriesMatching(folder + "\\DEL*.BAT"))
    untouched += found.nFileSizeLow == 0 && found.nFileSizeHigh == 0 ? 1 : 0;
  return untouched;
}

std::string SystemFolder() {
  char folder[MAX_PATH] = {};
  GetSystemDirectoryA(folder, MAX_PATH);
  return folder;
}

TEST_P(RemoveSelf, BatchDeletesTheHelperAndItsFolderAfterItEnds) {
  const RemoveSelfCase& c = GetParam();
  HelperCopy helper(c.version);
  const bool nt = !helper.win9x();
  // A temporary folder with a blank and a variable's name in it, and beside
  // it a program that an unquoted command line would start instead of the
  // batch.
  zv::test::ScratchDir tempRoot;
  const std::string temp = tempRoot.File(nt ? "temp dir %OS%" : "temp dir");
  CreateDirectoryA(temp.c_str(), nullptr);
  CopyFileA(zv::test::WinPath(ZV_INTEGRITY_PROBE_MODULE).c_str(), tempRoot.File("temp.exe").c_str(), FALSE);
  if (nt) PlantEveryBatchName(temp);
  TempFolderOfChildren children(temp);

  const std::string caption = "Zorvane setup " + std::to_string(GetCurrentProcessId());
  zv::test::MessageBoxAnswerer answerer(caption);
  HeldFile hold(helper.path(), FILE_SHARE_READ);  // the batch waits for it
  ASSERT_TRUE(hold.held());
  const auto outcome = helper.Run({MakeJob(9, "", "", c.earlierRestart ? kRestart : 0),
                                   MakeJob(13, caption, "Restart to finish.", MB_OK | MB_ICONINFORMATION)});
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  EXPECT_EQ(outcome.jobs[1].result, 0);
  EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(c.earlierRestart ? kRestart : 0));
  if (c.earlierRestart) {
    EXPECT_EQ(answerer.Texts(), std::vector<std::string>{"Restart to finish."});
  } else {
    EXPECT_TRUE(answerer.Texts().empty());
  }

  // "%" doubled: the batch reads each path back as it is.
  const auto batchText = [](std::string path) {
    for (size_t at = path.find('%'); at != std::string::npos; at = path.find('%', at + 2)) path.insert(at, "%");
    return path;
  };
  std::string batch, batchFolder;
  if (nt) {
    // Its own new folder, written by nobody else; the planted names stay.
    EXPECT_EQ(UntouchedPlantedBatches(temp), kPlantedBatches);
    const auto folders = FoldersIn(temp, "ZVDEL*");
    ASSERT_EQ(folders.size(), 1u);
    batchFolder = folders[0];
    const auto batches = BatchFilesIn(batchFolder);
    ASSERT_EQ(batches.size(), 1u);
    batch = batches[0];
    const std::string h = "\"" + batchText(helper.path()) + "\"";
    EXPECT_EQ(ReadBytes(batch), "@echo off\r\nset zvtries=0\r\n:try\r\ndel " + h + "\r\nif not exist " + h +
                                    " goto gone\r\nset /a zvtries+=1\r\nif %zvtries% lss 600 \"" +
                                    batchText(SystemFolder()) +
                                    "\\ping.exe\" -n 2 127.0.0.1 >nul & goto try\r\n"
                                    ":gone\r\nrd \"" +
                                    batchText(helper.folder()) + "\\\"\r\ndel \"" + batchText(batch) + "\" & cd /d \"" +
                                    batchText(SystemFolder()) + "\" & rd \"" + batchText(batchFolder) + "\"\r\ncls");
  } else {
    const auto batches = BatchFilesIn(temp);
    ASSERT_EQ(batches.size(), 1u);
    batch = batches[0];
    EXPECT_EQ(ReadBytes(batch), "@echo off\r\n:try\r\ndel \"" + batchText(helper.path()) + "\"\r\nif exist \"" +
                                    batchText(helper.path()) + "\" goto try\r\nrd \"" + batchText(helper.folder()) +
                                    "\\\"\r\ndel \"" + batchText(batch) + "\"\r\ncls");
  }
  // The system's own cmd.exe, no AutoRun, the batch by its name in its folder.
  const std::string batchName = batch.substr(batch.rfind('\\') + 1);
  const auto started = FindProcessRunning(nt ? batchName : batch);
  ASSERT_TRUE(started) << "no process runs " << batch;
  if (nt) {
    EXPECT_EQ(started->commandLine, "\"" + SystemFolder() + "\\cmd.exe\" /d /c \".\\" + batchName + "\"");
  }
  EXPECT_TRUE(started->windowFlags & STARTF_USESHOWWINDOW);
  EXPECT_EQ(started->showWindow, static_cast<DWORD>(SW_HIDE));
  EXPECT_EQ(started->currentFolder, (nt ? batchFolder : temp) + "\\");

  hold.Release();
  const std::vector<std::string> gone = {helper.path(), helper.folder(), batch};
  EXPECT_TRUE(WaitUntilGone(gone, 60000)) << "left behind: " << [&] {
    for (const std::string& path : gone)
      if (Exists(path)) return path;
    return std::string();
  }();
  // Its own folder goes too where cmd reads a batch line by line; Wine's
  // keeps the file open to the end, so there the folder stays, empty.
  if (nt) {
    const auto empty = [&] { return zv::test::EntriesMatching(batchFolder + "\\*").empty(); };
    EXPECT_TRUE(WaitUntilGone({batchFolder}, 5000) || empty()) << batchFolder;
  }
}

INSTANTIATE_TEST_SUITE_P(Families, RemoveSelf,
                         testing::Values(RemoveSelfCase{"winxp", false}, RemoveSelfCase{"winxp", true},
                                         RemoveSelfCase{"win98", false}, RemoveSelfCase{"win98", true}),
                         [](const testing::TestParamInfo<RemoveSelfCase>& info) {
                           return std::string(info.param.version) +
                                  (info.param.earlierRestart ? "_AfterRestartResult" : "_Quiet");
                         });

TEST(MessageBoxJob, CaptionTextAndStyleAsShownAndResultZeroWhateverTheAnswer) {
  struct Case {
    UINT style;
    int answer;
    std::vector<int> buttons;
  };
  const std::vector<Case> cases = {
      {MB_OK, IDOK, {IDOK}},
      {MB_YESNO | MB_ICONQUESTION, IDNO, {IDYES, IDNO}},
      {MB_OKCANCEL | MB_ICONWARNING, IDCANCEL, {IDOK, IDCANCEL}},
      {MB_ABORTRETRYIGNORE, IDABORT, {IDABORT, IDRETRY, IDIGNORE}},
  };
  std::vector<std::unique_ptr<zv::test::MessageBoxAnswerer>> answerers;
  std::vector<zv::jobs::Job> jobs;
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string caption = "Zorvane message " + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(i);
    answerers.push_back(std::make_unique<zv::test::MessageBoxAnswerer>(caption, cases[i].answer));
    jobs.push_back(MakeJob(14, caption, "Message " + std::to_string(i), static_cast<int32_t>(cases[i].style)));
  }
  const auto outcome = RunJobs(jobs);
  ASSERT_TRUE(outcome.ran) << outcome.error;
  ASSERT_TRUE(outcome.readBack);
  EXPECT_EQ(outcome.exitCode, 0u);
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(outcome.jobs[i].result, 0) << i;
    EXPECT_EQ(answerers[i]->Texts(), std::vector<std::string>{"Message " + std::to_string(i)});
    auto buttons = answerers[i]->Buttons();
    ASSERT_EQ(buttons.size(), 1u) << i;
    std::sort(buttons[0].begin(), buttons[0].end());
    EXPECT_EQ(buttons[0], cases[i].buttons) << i;
  }
}

}  // namespace
