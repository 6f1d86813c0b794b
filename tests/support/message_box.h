// Answers message boxes that the code under test shows: a thread of its
// own finds each dialog (class "#32770") with the given caption, records
// its text and presses the button.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zv::test {

inline constexpr char kDialogMarker[] = "zvtest: marker dialog";

class MessageBoxAnswerer {
 public:
  explicit MessageBoxAnswerer(std::string caption, int button = IDOK);
  ~MessageBoxAnswerer();
  MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
  MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

  // The message text of each dialog answered so far, in order.
  std::vector<std::string> Texts() const;
  // The identifiers of the visible buttons of each dialog answered so far.
  std::vector<std::vector<int>> Buttons() const;
  // Waits until `count` dialogs were answered.
  bool WaitForAnswers(size_t count, DWORD timeoutMs = 10000) const;
  // Shows a dialog of the watched caption with kDialogMarker on the calling
  // thread and returns once it was answered, so that every dialog this
  // thread showed before was answered too: the texts so far, the marker
  // last. Proves that no other dialog came, without waiting for one.
  std::vector<std::string> TextsThroughMarker();

 private:
  void Watch();

  std::string caption_;
  int button_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
  std::vector<std::vector<int>> buttons_;
  std::thread thread_;
};

}  // namespace zv::test
