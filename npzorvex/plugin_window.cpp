#include "plugin_window.h"

#include <cstring>

namespace zv::npzorvex {
namespace {

constexpr int kTextX = 60;
constexpr int kTextY = 28;
constexpr int kIconX = 20;
constexpr int kIconY = 20;

PluginInstance* PaintedRecord(HWND hwnd) {
  return reinterpret_cast<PluginInstance*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

void Paint(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  if (const PluginInstance* record = PaintedRecord(hwnd)) {
    if (const char* text = record->CurrentText())
      TextOutA(dc, kTextX, kTextY, text, static_cast<int>(std::strlen(text)));
    if (record->icon) DrawIcon(dc, kIconX, kIconY, record->icon);
  }
  EndPaint(hwnd, &ps);
  ValidateRect(hwnd, nullptr);
}

LRESULT CALLBACK PluginWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      auto* record = static_cast<PluginInstance*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
      SetWindowLongPtrA(hwnd, 0, reinterpret_cast<LONG_PTR>(record));
      if (record) SetWindowTextA(hwnd, record->title);
      return 0;
    }
    case WM_PAINT:
      Paint(hwnd);
      return 0;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      return 0;
    case WM_NCDESTROY:
      // The window can also go with its parent, before NPP_Destroy: the
      // record must not keep a handle that may later name another window.
      if (PluginInstance* record = PaintedRecord(hwnd); record && record->window == hwnd) {
        record->window = nullptr;
        record->created = 0;
      }
      break;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

bool RegisterPluginWindowClass(HINSTANCE module) {
  WNDCLASSA wc{};
  wc.style = 0;
  wc.lpfnWndProc = PluginWindowProc;
  wc.cbClsExtra = 0;
  wc.cbWndExtra = sizeof(LONG_PTR);  // slot 0: the record (4 bytes on 32-bit Windows)
  wc.hInstance = module;
  wc.hIcon = nullptr;
  wc.hCursor = nullptr;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  wc.lpszMenuName = nullptr;
  wc.lpszClassName = kWindowClass;
  return RegisterClassA(&wc) != 0;
}

void UnregisterPluginWindowClass(HINSTANCE module) { UnregisterClassA(kWindowClass, module); }

HWND CreatePluginWindow(PluginInstance& record, const NPWindow& npwindow) {
  HWND hwnd = CreateWindowExA(0, kWindowClass, record.title, WS_CHILD | WS_VISIBLE, npwindow.x, npwindow.y,
                              static_cast<int>(npwindow.width), static_cast<int>(npwindow.height), record.parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(-1)), record.module, &record);
  if (!hwnd) return nullptr;
  SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&record));
  record.window = hwnd;
  record.created = 1;
  return hwnd;
}

}  // namespace zv::npzorvex
