// A stand-in for the download manager: a real top-level window of class
// "TMainForm" that records every command text it receives.
//
// Options (on the command line, or one per line in "<exe>.args" when the
// program is started without arguments, as a start through App Paths is):
//   --caption=TEXT   caption of the main window (default: empty)
//   --log=PATH       where the record goes (default: "<exe>.log"); "-" keeps none
//   --reply=N        answer to WM_COPYDATA (default 1)
//   --fgreply=N      answer to the foreground query 0x80D4 (default 0)
//   --delay=MS       create the window only after MS milliseconds
//   --reply-delay=MS hold each WM_COPYDATA this long before answering
//   --no-window      never create the window
//   --propdlg        also show the properties dialog "Project Properties"
//   --hang           stop pumping messages once the window exists (a hung
//                    download manager); the process still ends after --lifetime
//   --lifetime=MS    end after MS milliseconds (default 120000)
//   --vanish         destroy the window on the foreground query, after
//                    recording it (a download manager closed right then)
//   --lock-check     note in each COPYDATA record whether the hand-off lock
//                    was held by another process when the message arrived
//
// Record lines, each ending in a line feed:
//   START pid=<pid>
//   READY hwnd=<hex>
//   FGQUERY fg=<0|1>
//   COPYDATA dwData=<n> cbData=<n> fg=<0|1> [lock=<held|free|none>] data=<bytes>
// where fg tells whether the main window was the foreground window when the
// message arrived, and <bytes> is the exact data with every byte outside
// 0x20..0x7E, and the backslash, written as \xHH.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "win/paths.h"
#include "win/text.h"
#include "win/unique_handles.h"

namespace {

struct Options {
  std::string caption;
  std::string log;
  LRESULT reply = 1;
  LRESULT fgReply = 0;
  UINT delayMs = 0;
  UINT replyDelayMs = 0;
  bool window = true;
  bool propertiesDialog = false;
  bool lockCheck = false;
  bool hang = false;
  bool vanish = false;
  UINT lifetimeMs = 120000;
};

Options g_options;
HWND g_main = nullptr;
UINT_PTR g_createTimer = 0;  // thread timers: ids are chosen by the system

std::string ExePath() { return zv::win::ToAnsi(zv::win::ModulePath(nullptr), zv::win::Unholdable::kQuestionMark); }

void AppendRecord(const std::string& line) {
  if (g_options.log == "-") return;
  const zv::win::UniqueFile file(
      CreateFileA(g_options.log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::string Escape(const BYTE* data, DWORD size) {
  std::string out;
  for (DWORD i = 0; i < size; ++i) {
    const BYTE b = data[i];
    if (b >= 0x20 && b <= 0x7E && b != '\\') {
      out.push_back(static_cast<char>(b));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\x%02X", b);
      out.append(hex);
    }
  }
  return out;
}

int IsForeground() { return GetForegroundWindow() == g_main ? 1 : 0; }

// Whether some process holds the hand-off lock right now: taking it without
// waiting fails only then (and a lock taken here is given back at once).
const char* HandoffLockState() {
  const zv::win::UniqueHandle mutex(OpenMutexA(SYNCHRONIZE, FALSE, "ZVAddURLMutex"));
  if (!mutex) return "none";
  const DWORD wait = WaitForSingleObject(mutex.get(), 0);
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(mutex.get());
  return wait == WAIT_TIMEOUT ? "held" : "free";
}

void ParseOption(const std::string& arg) {
  auto value = [&](const char* name) -> const char* {
    const size_t n = std::strlen(name);
    return arg.compare(0, n, name) == 0 ? arg.c_str() + n : nullptr;
  };
  if (const char* v = value("--caption="))
    g_options.caption = v;
  else if (const char* v = value("--log="))
    g_options.log = v;
  else if (const char* v = value("--reply="))
    g_options.reply = std::strtol(v, nullptr, 0);
  else if (const char* v = value("--fgreply="))
    g_options.fgReply = std::strtol(v, nullptr, 0);
  else if (const char* v = value("--delay="))
    g_options.delayMs = std::strtoul(v, nullptr, 0);
  else if (const char* v = value("--reply-delay="))
    g_options.replyDelayMs = std::strtoul(v, nullptr, 0);
  else if (const char* v = value("--lifetime="))
    g_options.lifetimeMs = std::strtoul(v, nullptr, 0);
  else if (arg == "--no-window")
    g_options.window = false;
  else if (arg == "--propdlg")
    g_options.propertiesDialog = true;
  else if (arg == "--lock-check")
    g_options.lockCheck = true;
  else if (arg == "--hang")
    g_options.hang = true;
  else if (arg == "--vanish")
    g_options.vanish = true;
}

void ReadArgsFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return;
  char line[4096];
  while (std::fgets(line, sizeof(line), file)) {
    std::string arg(line);
    while (!arg.empty() && (arg.back() == '\n' || arg.back() == '\r')) arg.pop_back();
    if (!arg.empty()) ParseOption(arg);
  }
  std::fclose(file);
}

LRESULT CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COPYDATA: {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      const std::string lock = g_options.lockCheck ? std::string("lock=") + HandoffLockState() + " " : "";
      char head[128];
      std::snprintf(head, sizeof(head),
                    "COPYDATA dwData=%lu cbData=%lu fg=%d %sdata=", static_cast<unsigned long>(data->dwData),
                    static_cast<unsigned long>(data->cbData), IsForeground(), lock.c_str());
      AppendRecord(head + Escape(static_cast<const BYTE*>(data->lpData), data->cbData) + "\n");
      if (g_options.replyDelayMs) Sleep(g_options.replyDelayMs);
      return g_options.reply;
    }
    case 0x80D4:
      AppendRecord(std::string("FGQUERY fg=") + (IsForeground() ? "1" : "0") + "\n");
      if (g_options.vanish) DestroyWindow(hwnd);
      return g_options.fgReply;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

HWND CreateTopLevel(const char* className, const char* caption) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = MainProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = className;
  RegisterClassA(&wc);
  HWND hwnd = CreateWindowExA(0, className, caption, WS_OVERLAPPEDWINDOW, 10, 10, 300, 200, nullptr, nullptr,
                              wc.hInstance, nullptr);
  // Shown without activation: only a hand-off may bring it to the front.
  if (hwnd) ShowWindow(hwnd, SW_SHOWNOACTIVATE);
  return hwnd;
}

// What the download manager's window must do so that a browser tab of lower
// integrity (Protected Mode) can reach it: allow the two messages of the
// protocol through the system's message filter. Looked up: Windows before 7
// lacks the call.
void AllowProtocolMessages(HWND window) {
  using FilterFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  const auto filter = reinterpret_cast<FilterFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "ChangeWindowMessageFilterEx")));
  if (!filter) return;
  constexpr DWORD kAllow = 1;  // MSGFLT_ALLOW
  filter(window, WM_COPYDATA, kAllow, nullptr);
  filter(window, 0x80D4, kAllow, nullptr);
}

void CreateMainWindow() {
  g_main = CreateTopLevel("TMainForm", g_options.caption.c_str());
  if (g_main) AllowProtocolMessages(g_main);
  char line[64];
  std::snprintf(line, sizeof(line), "READY hwnd=%p\n", static_cast<void*>(g_main));
  AppendRecord(line);
  if (g_options.hang) {
    // Messages queue up and sent ones are never answered.
    Sleep(g_options.lifetimeMs);
    ExitProcess(0);
  }
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (id == g_createTimer)
    CreateMainWindow();
  else
    PostQuitMessage(0);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::string exe = ExePath();
  if (__argc > 1) {
    for (int i = 1; i < __argc; ++i) ParseOption(__argv[i]);
  } else {
    ReadArgsFile(exe + ".args");
  }
  if (g_options.log.empty()) g_options.log = exe + ".log";

  char line[64];
  std::snprintf(line, sizeof(line), "START pid=%lu\n", GetCurrentProcessId());
  AppendRecord(line);

  if (g_options.propertiesDialog) CreateTopLevel("TdlgProp", "Project Properties");
  // The window is created from the message loop, so the program is idle
  // for input (WaitForInputIdle) at once, also while it delays.
  if (g_options.window) {
    if (g_options.delayMs == 0)
      CreateMainWindow();
    else
      g_createTimer = SetTimer(nullptr, 0, g_options.delayMs, OnTimer);
  }
  SetTimer(nullptr, 0, g_options.lifetimeMs, OnTimer);

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
