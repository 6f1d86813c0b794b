#include "zvtest.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

namespace zv::test {
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
  const win::UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
  if (!process) return;
  TerminateProcess(process.get(), 0);
  WaitForSingleObject(process.get(), 5000);
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

void ManagerRegistry::Remove(const char* name) { RemoveRegValue(HKEY_CURRENT_USER, kSettingsKey, name); }

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

StandIn::StandIn(StandInOptions options) : options_(std::move(options)) { log_ = dir_.File("standin.log"); }

StandIn::~StandIn() {
  for (const std::string& start : Records("START")) {
    const size_t at = start.find("pid=");
    if (at != std::string::npos) EndProcess(std::stoul(start.substr(at + 4)));
  }
}

std::vector<std::string> StandIn::ArgLines() const {
  std::vector<std::string> args = {"--caption=" + options_.caption,
                                   "--log=" + log_,
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
  StartProgram(commandLine);
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

std::vector<Received> StandIn::TextsThroughMarker() const {
  const HWND window = WaitForWindow();
  if (!window) {
    ADD_FAILURE() << "no window \"" << options_.caption << "\" to hand the marker to";
    return Texts();
  }
  COPYDATASTRUCT data{0, static_cast<DWORD>(sizeof(kMarkerText) - 1), const_cast<char*>(kMarkerText)};
  DWORD_PTR answer = 0;
  SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, 10000, &answer);
  // The stand-in records a text before it answers; the poll covers a
  // stand-in that answers late.
  const DWORD start = GetTickCount();
  std::vector<Received> texts;
  do {
    texts = Texts();
    for (const Received& text : texts)
      if (text.bytes == kMarkerText) return texts;
    Sleep(20);
  } while (GetTickCount() - start < 10000);
  ADD_FAILURE() << "the marker did not arrive";
  return texts;
}

std::vector<std::string> BytesOf(const std::vector<Received>& texts) {
  std::vector<std::string> bytes;
  for (const Received& text : texts) bytes.push_back(text.bytes);
  return bytes;
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
  window_.reset(CreateWindowExA(0, wc.lpszClassName, "test foreground", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                nullptr, wc.hInstance, nullptr));
  ShowWindow(window_.get(), SW_SHOW);
  Activate();
}

void ForegroundWindow::Activate() { SetForegroundWindow(window_.get()); }

win::UniqueHandle StartProgram(const std::string& commandLine) {
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::string mutableLine = commandLine;
  if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return {};
  const win::UniqueHandle thread(pi.hThread);
  return win::UniqueHandle(pi.hProcess);
}

namespace {

// Runs a program with its output on a pipe; with `input`, its standard input
// is a pipe too, fed from another thread and ended after the input.
ProgramResult RunWithPipes(const std::string& commandLine, const std::string* input, bool mergeErrors, DWORD timeoutMs,
                           HANDLE job = nullptr) {
  ProgramResult result;
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  win::UniqueHandle readEnd, writeEnd, inRead, inWrite;
  CreatePipe(readEnd.put(), writeEnd.put(), &sa, 0);
  SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  if (input) {
    CreatePipe(inRead.put(), inWrite.put(), &sa, 0);
    SetHandleInformation(inWrite.get(), HANDLE_FLAG_INHERIT, 0);
  }
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd.get();
  si.hStdError = mergeErrors ? writeEnd.get() : GetStdHandle(STD_ERROR_HANDLE);
  si.hStdInput = input ? inRead.get() : GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::string mutableLine = commandLine;
  // Put into the job before it runs a single instruction.
  const BOOL started = CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, job ? CREATE_SUSPENDED : 0,
                                      nullptr, nullptr, &si, &pi);
  const win::UniqueHandle process(started ? pi.hProcess : nullptr), thread(started ? pi.hThread : nullptr);
  if (started && job) {
    AssignProcessToJobObject(job, process.get());
    ResumeThread(thread.get());
  }
  // Only the child keeps its ends: the reads below end when it does.
  writeEnd.reset();
  inRead.reset();
  if (!started) {
    result.exitCode = static_cast<DWORD>(-1);
    return result;
  }
  std::thread writer;
  if (input)
    writer = std::thread([in = std::move(inWrite), input] {
      DWORD put = 0;
      for (size_t at = 0; at < input->size(); at += put)
        if (!WriteFile(in.get(), input->data() + at, static_cast<DWORD>(input->size() - at), &put, nullptr)) break;
    });
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(readEnd.get(), buffer, sizeof(buffer), &got, nullptr) && got) result.output.append(buffer, got);
  if (writer.joinable()) writer.join();
  WaitForSingleObject(process.get(), timeoutMs);
  GetExitCodeProcess(process.get(), &result.exitCode);
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

}  // namespace zv::test
