#include "standin_frame.h"

namespace zv::test {
namespace {

LRESULT CALLBACK PlainProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

void Register(const char* name) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = PlainProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = name;
  RegisterClassA(&wc);  // already registered is fine
}

}  // namespace

StandInFrame::StandInFrame(const std::string& address, const char* frameClass) {
  Register(frameClass);
  Register("ZvTestBand");
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  frame_ = CreateWindowExA(0, frameClass, "stand-in browser", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 640, 480,
                           nullptr, nullptr, instance, nullptr);
  HWND band =
      CreateWindowExA(0, "ZvTestBand", "", WS_CHILD | WS_VISIBLE, 0, 0, 600, 60, frame_, nullptr, instance, nullptr);
  // The search box comes first among the children: it must not be taken.
  HWND search = CreateWindowExA(0, "Edit", "search words", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20, band, nullptr,
                                instance, nullptr);
  (void)search;
  HWND combo = CreateWindowExA(0, "ComboBox", "", WS_CHILD | WS_VISIBLE | CBS_DROPDOWN, 110, 0, 400, 200, band, nullptr,
                               instance, nullptr);
  SetWindowTextA(combo, address.c_str());
  ShowWindow(frame_, SW_SHOW);
  Activate();
}

StandInFrame::~StandInFrame() { DestroyWindow(frame_); }

void StandInFrame::Activate() const { SetForegroundWindow(frame_); }

}  // namespace zv::test
