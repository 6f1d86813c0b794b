// A stand-in for an Internet Explorer frame window: class "IEFrame", with
// an address bar (a combo box whose edit child holds the text) inside a
// band window, and a search box (an edit outside any combo box) before it.
#pragma once

#include <windows.h>

#include <string>

namespace zv::test {

class StandInFrame {
 public:
  explicit StandInFrame(const std::string& address, const char* frameClass = "IEFrame");
  ~StandInFrame();
  StandInFrame(const StandInFrame&) = delete;
  StandInFrame& operator=(const StandInFrame&) = delete;

  HWND frame() const { return frame_; }
  void Activate() const;

 private:
  HWND frame_ = nullptr;
};

}  // namespace zv::test
