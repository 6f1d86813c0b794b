// Captures what the process writes with OutputDebugStringA: the string
// arrives as a DBG_PRINTEXCEPTION_C exception, which a vectored handler can
// see and continue.
#pragma once

#include <string>
#include <vector>

namespace zv::test {

class DebugOutputCapture {
 public:
  DebugOutputCapture();
  ~DebugOutputCapture();
  DebugOutputCapture(const DebugOutputCapture&) = delete;
  DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

  // Every string written since the capture began (or the last Clear).
  std::vector<std::string> Lines() const;
  void Clear();

 private:
  void* handler_;
};

}  // namespace zv::test
