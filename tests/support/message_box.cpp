#include "message_box.h"

namespace zv::test {
namespace {

BOOL CALLBACK CollectStaticText(HWND child, LPARAM param) {
  char className[32] = {};
  GetClassNameA(child, className, sizeof(className));
  if (lstrcmpiA(className, "Static") != 0) return TRUE;
  char text[1024] = {};
  if (GetWindowTextA(child, text, sizeof(text)) > 0) {
    auto* collected = reinterpret_cast<std::string*>(param);
    if (!collected->empty()) collected->push_back('\n');
    collected->append(text);
  }
  return TRUE;
}

BOOL CALLBACK CollectButton(HWND child, LPARAM param) {
  char className[32] = {};
  GetClassNameA(child, className, sizeof(className));
  if (lstrcmpiA(className, "Button") == 0 && IsWindowVisible(child))
    reinterpret_cast<std::vector<int>*>(param)->push_back(GetDlgCtrlID(child));
  return TRUE;
}

}  // namespace

MessageBoxAnswerer::MessageBoxAnswerer(std::string caption, int button)
    : caption_(std::move(caption)), button_(button), thread_([this] { Watch(); }) {}

MessageBoxAnswerer::~MessageBoxAnswerer() {
  stopping_ = true;
  thread_.join();
}

void MessageBoxAnswerer::Watch() {
  HWND answered = nullptr;
  while (!stopping_) {
    HWND dialog = FindWindowA("#32770", caption_.c_str());
    // A dialog already answered may take a moment to go away; one not yet
    // shown may still be filling in its texts and buttons.
    if (dialog && dialog != answered && IsWindowVisible(dialog)) {
      std::string text;
      EnumChildWindows(dialog, CollectStaticText, reinterpret_cast<LPARAM>(&text));
      std::vector<int> buttons;
      EnumChildWindows(dialog, CollectButton, reinterpret_cast<LPARAM>(&buttons));
      {
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.push_back(text);
        buttons_.push_back(buttons);
      }
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button_, BN_CLICKED), 0);
      answered = dialog;
    }
    if (answered && !IsWindow(answered)) answered = nullptr;
    Sleep(20);
  }
}

std::vector<std::string> MessageBoxAnswerer::Texts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return texts_;
}

std::vector<std::vector<int>> MessageBoxAnswerer::Buttons() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return buttons_;
}

std::vector<std::string> MessageBoxAnswerer::TextsThroughMarker() {
  // A dialog that has the button the answerer presses.
  UINT type = MB_OK;
  if (button_ == IDYES || button_ == IDNO) type = MB_YESNO;
  if (button_ == IDCANCEL) type = MB_OKCANCEL;
  MessageBoxA(nullptr, kDialogMarker, caption_.c_str(), type | MB_SETFOREGROUND);
  return Texts();
}

bool MessageBoxAnswerer::WaitForAnswers(size_t count, DWORD timeoutMs) const {
  const DWORD start = GetTickCount();
  do {
    if (Texts().size() >= count) return true;
    Sleep(20);
  } while (GetTickCount() - start < timeoutMs);
  return Texts().size() >= count;
}

}  // namespace zv::test
