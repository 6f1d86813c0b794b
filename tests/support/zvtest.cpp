#include "zvtest.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

namespace zvtest {
namespace {

constexpr char kSettingsKey[] = "Software\\Quennet\\Zorvane";
// How long Launch waits for the stand-in's window. Generous on purpose: on a
// loaded machine Wine can take well over ten seconds to start a process,
// and a test that went on without the window saw only a lost text.
constexpr DWORD kStartBoundMs = 60000;
constexpr char kAppPathsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\zorvex.exe";

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void EndProcess(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
  if (!process) return;
  TerminateProcess(process, 0);
  WaitForSingleObject(process, 5000);
  CloseHandle(process);
}

LRESULT CALLBACK PlainProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

}  // namespace

std::string WinPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string ToolExe(const char* name) { return WinPath(std::string(ZV_BUILD_DIR) + "/tools/" + name); }
std::string StandInExe() { return ToolExe("zvstandin.exe"); }

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const std::string full = path + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(full);
      else
        DeleteFileA(full.c_str());
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }
  RemoveDirectoryA(path.c_str());
}

ScratchDir::ScratchDir() {
  static LONG counter = 0;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  char name[MAX_PATH + 64];
  std::snprintf(name, sizeof(name), "%szvtest-%lu-%ld", temp, GetCurrentProcessId(),
                InterlockedIncrement(&counter));
  path_ = name;
  CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchDir::~ScratchDir() { RemoveTree(path_); }

void DeleteKeyTree(HKEY root, const char* path) {
  RegDeleteTreeA(root, path);
  RegDeleteKeyA(root, path);
}

void SetRegText(HKEY root, const char* path, const char* name, const std::string& value) {
  HKEY key;
  if (RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
}

std::optional<std::string> GetRegText(HKEY root, const char* path, const char* name) {
  char buffer[4096];
  DWORD size = sizeof(buffer);
  if (RegGetValueA(root, path, name, RRF_RT_ANY, nullptr, buffer, &size) != ERROR_SUCCESS)
    return std::nullopt;
  std::string text(buffer, size);
  return text.substr(0, text.find('\0'));
}

ManagerRegistry::ManagerRegistry() {
  DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
  DeleteKeyTree(HKEY_LOCAL_MACHINE, kAppPathsKey);
}

ManagerRegistry::~ManagerRegistry() {
  DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
  DeleteKeyTree(HKEY_LOCAL_MACHINE, kAppPathsKey);
}

void ManagerRegistry::Set(const char* name, const std::string& value) {
  SetRegText(HKEY_CURRENT_USER, kSettingsKey, name, value);
}

void ManagerRegistry::Remove(const char* name) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

void ManagerRegistry::SetAppPath(const std::string& programPath) {
  SetRegText(HKEY_LOCAL_MACHINE, kAppPathsKey, "", programPath);
}

void HoldKeys(std::initializer_list<int> keys) {
  BYTE state[256] = {};
  for (int key : keys) state[key & 0xFF] = 0x80;
  SetKeyboardState(state);
}

void ReleaseAllKeys() { HoldKeys({}); }

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16)));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

StandIn::StandIn(StandInOptions options) : options_(std::move(options)) {
  log_ = dir_.File("standin.log");
}

StandIn::~StandIn() {
  for (const std::string& start : Records("START")) {
    const size_t at = start.find("pid=");
    if (at != std::string::npos) EndProcess(std::stoul(start.substr(at + 4)));
  }
}

std::vector<std::string> StandIn::ArgLines() const {
  std::vector<std::string> args = {"--caption=" + options_.caption, "--log=" + log_,
                                   "--reply=" + std::to_string(options_.reply),
                                   "--fgreply=" + std::to_string(options_.fgReply),
                                   "--delay=" + std::to_string(options_.delayMs),
                                   "--reply-delay=" + std::to_string(options_.replyDelayMs),
                                   "--lifetime=" + std::to_string(options_.lifetimeMs)};
  if (!options_.window) args.push_back("--no-window");
  if (options_.propertiesDialog) args.push_back("--propdlg");
  if (options_.hang) args.push_back("--hang");
  if (options_.vanish) args.push_back("--vanish");
  return args;
}

void StandIn::Launch() {
  std::string commandLine = "\"" + StandInExe() + "\"";
  for (const std::string& arg : ArgLines()) commandLine += " \"" + arg + "\"";
  HANDLE process = StartProgram(commandLine);
  if (process) CloseHandle(process);
  if (options_.window && options_.delayMs == 0 && !WaitForWindow(kStartBoundMs))
    ADD_FAILURE() << "the stand-in's window \"" << options_.caption << "\" did not appear within "
                  << kStartBoundMs / 1000 << " s";
}

std::string StandIn::Install(const std::string& subfolder) {
  if (!subfolder.empty()) CreateDirectoryA(dir_.File(subfolder).c_str(), nullptr);
  const std::string program = dir_.File(subfolder.empty() ? "zorvex.exe" : subfolder + "\\zorvex.exe");
  CopyFileA(StandInExe().c_str(), program.c_str(), FALSE);
  std::ofstream args(program + ".args", std::ios::binary);
  for (const std::string& arg : ArgLines()) args << arg << "\n";
  return program;
}

HWND StandIn::WaitForWindow(DWORD timeoutMs) const {
  const DWORD start = GetTickCount();
  do {
    if (HWND hwnd = FindWindowA("TMainForm", options_.caption.c_str())) return hwnd;
    Sleep(20);
  } while (GetTickCount() - start < timeoutMs);
  return nullptr;
}

std::vector<std::string> StandIn::Records(const char* kind) const {
  std::vector<std::string> records;
  std::istringstream lines(ReadWholeFile(log_));
  const std::string prefix = std::string(kind) + " ";
  for (std::string line; std::getline(lines, line);)
    if (line.compare(0, prefix.size(), prefix) == 0) records.push_back(line.substr(prefix.size()));
  return records;
}

std::vector<Received> StandIn::Texts() const {
  std::vector<Received> texts;
  for (const std::string& record : Records("COPYDATA")) {
    Received r;
    unsigned long dwData = 0, cbData = 0;
    int fg = 0;
    std::sscanf(record.c_str(), "dwData=%lu cbData=%lu fg=%d", &dwData, &cbData, &fg);
    r.dwData = dwData;
    r.cbData = cbData;
    r.foreground = fg != 0;
    const size_t at = record.find(" data=");
    if (at != std::string::npos) r.bytes = Unescape(record.substr(at + 6));
    texts.push_back(r);
  }
  return texts;
}

std::vector<bool> StandIn::ForegroundQueries() const {
  std::vector<bool> queries;
  for (const std::string& record : Records("FGQUERY")) queries.push_back(record == "fg=1");
  return queries;
}

int StandIn::Starts() const { return static_cast<int>(Records("START").size()); }

std::vector<Received> StandIn::WaitForTexts(size_t count, DWORD timeoutMs) const {
  const DWORD start = GetTickCount();
  std::vector<Received> texts;
  do {
    texts = Texts();
    if (texts.size() >= count) break;
    Sleep(20);
  } while (GetTickCount() - start < timeoutMs);
  return texts;
}

ForegroundWindow::ForegroundWindow() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = PlainProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "ZvTestForeground";
  RegisterClassA(&wc);
  hwnd_ = CreateWindowExA(0, wc.lpszClassName, "test foreground", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                          100, nullptr, nullptr, wc.hInstance, nullptr);
  ShowWindow(hwnd_, SW_SHOW);
  Activate();
}

ForegroundWindow::~ForegroundWindow() { DestroyWindow(hwnd_); }

void ForegroundWindow::Activate() { SetForegroundWindow(hwnd_); }

HANDLE StartProgram(const std::string& commandLine) {
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::string mutableLine = commandLine;
  if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi))
    return nullptr;
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

namespace {

// Runs a program with its output on a pipe; with `input`, its standard input
// is a pipe too, fed from another thread and ended after the input.
ProgramResult RunWithPipes(const std::string& commandLine, const std::string* input, bool mergeErrors,
                           DWORD timeoutMs, HANDLE job = nullptr) {
  ProgramResult result;
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr, inRead = nullptr, inWrite = nullptr;
  CreatePipe(&readEnd, &writeEnd, &sa, 0);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  if (input) {
    CreatePipe(&inRead, &inWrite, &sa, 0);
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
  }
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = mergeErrors ? writeEnd : GetStdHandle(STD_ERROR_HANDLE);
  si.hStdInput = input ? inRead : GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::string mutableLine = commandLine;
  // Put into the job before it runs a single instruction.
  const BOOL started = CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE,
                                      job ? CREATE_SUSPENDED : 0, nullptr, nullptr, &si, &pi);
  if (started && job) {
    AssignProcessToJobObject(job, pi.hProcess);
    ResumeThread(pi.hThread);
  }
  CloseHandle(writeEnd);
  if (inRead) CloseHandle(inRead);
  if (!started) {
    CloseHandle(readEnd);
    if (inWrite) CloseHandle(inWrite);
    result.exitCode = static_cast<DWORD>(-1);
    return result;
  }
  std::thread writer;
  if (input)
    writer = std::thread([inWrite, input] {
      DWORD put = 0;
      for (size_t at = 0; at < input->size(); at += put)
        if (!WriteFile(inWrite, input->data() + at, static_cast<DWORD>(input->size() - at), &put, nullptr))
          break;
      CloseHandle(inWrite);
    });
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got) result.output.append(buffer, got);
  CloseHandle(readEnd);
  if (writer.joinable()) writer.join();
  WaitForSingleObject(pi.hProcess, timeoutMs);
  GetExitCodeProcess(pi.hProcess, &result.exitCode);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return result;
}

}  // namespace

ProgramResult RunProgram(const std::string& commandLine, DWORD timeoutMs) {
  return RunWithPipes(commandLine, nullptr, true, timeoutMs);
}

ProgramResult RunProgramWithInput(const std::string& commandLine, const std::string& input, DWORD timeoutMs,
                                  HANDLE job) {
  return RunWithPipes(commandLine, &input, false, timeoutMs, job);
}

}  // namespace zvtest
