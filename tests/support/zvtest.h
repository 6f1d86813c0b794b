// Test support for the Windows test programs: the stand-in download
// manager in its own process, the download manager's registry keys, the
// keyboard state of the test thread, and programs run by the test.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "files.h"
#include "registry.h"
#include "win/unique_handles.h"

namespace zv::test {

// A Linux path of the build tree as Wine sees it (drive Z:).
std::string WinPath(const std::string& unixPath);

// Paths of the build's tool programs.
std::string StandInExe();
std::string ToolExe(const char* name);  // e.g. "zvsend.exe"

// The download manager's settings key and App Paths entry, cleared before
// and after each test.
class ManagerRegistry {
 public:
  ManagerRegistry();
  ~ManagerRegistry();
  void Set(const char* name, const std::string& value);
  void Remove(const char* name);
  void SetAppPath(const std::string& programPath);
};

// Sets the test thread's keyboard state: the given virtual keys are down,
// every other key is up (GetKeyState and GetKeyboardState read it).
void HoldKeys(std::initializer_list<int> keys);
void ReleaseAllKeys();

// A text no module sends: the test's own, after the module's calls.
inline constexpr char kMarkerText[] = "URL=zvtest:marker\nPostData=";

// The bytes of each text, in the order received.
struct Received;
std::vector<std::string> BytesOf(const std::vector<Received>& texts);

struct Received {
  unsigned long dwData = 0;
  unsigned long cbData = 0;
  bool foreground = false;
  std::string bytes;
};

struct StandInOptions {
  std::string caption = "Zorvane test";
  long reply = 1;
  long fgReply = 0;
  unsigned delayMs = 0;
  unsigned replyDelayMs = 0;
  bool window = true;
  bool propertiesDialog = false;
  bool hang = false;    // stops pumping messages once its window exists
  bool vanish = false;  // destroys its window on the foreground query
  unsigned lifetimeMs = 60000;
};

// The stand-in download manager, started by the test (Launch) or installed
// under App Paths for the hand-off to start (Install). Its processes are
// ended on destruction.
class StandIn {
 public:
  explicit StandIn(StandInOptions options = {});
  ~StandIn();
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

  // Starts it now and waits for its window (when it makes one).
  void Launch();
  // Copies it into a scratch folder (or a folder of that name in it) with
  // its options beside it and returns the program path to register under
  // App Paths.
  std::string Install(const std::string& subfolder = {});

  HWND WaitForWindow(DWORD timeoutMs = 10000) const;
  std::vector<Received> Texts() const;
  std::vector<bool> ForegroundQueries() const;  // fg flag of each query
  int Starts() const;                           // processes started so far
  // Waits until at least `count` texts arrived.
  std::vector<Received> WaitForTexts(size_t count, DWORD timeoutMs = 10000) const;
  // Hands the window kMarkerText the way the modules hand off and waits
  // until it is recorded. The hand-offs are synchronous, so whatever a
  // module sent before has arrived by then: the texts returned end with
  // the marker, and a test that expects nothing expects the marker alone.
  std::vector<Received> TextsThroughMarker() const;

 private:
  std::vector<std::string> Records(const char* kind) const;
  std::vector<std::string> ArgLines() const;

  StandInOptions options_;
  ScratchDir dir_;
  std::string log_;
};

// A top-level window of the test process made the foreground window, so
// that a hand-off that does not bring the stand-in to the front is seen.
class ForegroundWindow {
 public:
  ForegroundWindow();
  HWND get() const { return window_.get(); }
  void Activate();

 private:
  win::UniqueWindow window_;
};

// Runs a program and waits for it; returns its exit code and output.
struct ProgramResult {
  DWORD exitCode = 0;
  std::string output;
};
ProgramResult RunProgram(const std::string& commandLine, DWORD timeoutMs = 60000);
// Runs a program with `input` on its standard input, ended after it; the
// output is its standard output alone (its errors go to the test's own).
// With `job`, the program runs in that job object from its first instruction.
ProgramResult RunProgramWithInput(const std::string& commandLine, const std::string& input, DWORD timeoutMs = 60000,
                                  HANDLE job = nullptr);

// Starts a program without waiting; the handle is the process (empty when
// it did not start).
win::UniqueHandle StartProgram(const std::string& commandLine);

// Decodes \xHH escapes of a stand-in record.
std::string Unescape(const std::string& text);

}  // namespace zv::test
