#include "address_bar.h"

#include <windows.h>

#include <vector>

#include "handoff/handoff.h"

namespace zv::handler {
namespace {

constexpr int kClassNameChars = 255;
// An address bar holds a URL; a page cannot make the module allocate more.
constexpr LRESULT kMaxTextChars = 64 * 1024;

std::string ClassNameOf(HWND window) {
  char name[kClassNameChars + 1] = {};
  const int length = GetClassNameA(window, name, sizeof(name));
  return std::string(name, length > 0 ? static_cast<size_t>(length) : 0);
}

bool Holds(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

struct Search {
  std::optional<std::string> text;
};

// False once the address bar was read.
bool VisitChildWindow(HWND child, Search* search) {
  const std::string name = ClassNameOf(child);
  if (name.empty() || !Holds(name, "Edit")) return true;
  if (!Holds(ClassNameOf(GetParent(child)), "ComboBox")) return true;
  // The frame may belong to another process that stopped answering.
  using zv::handoff::SendWithinBound;
  LRESULT length = 0, got = 0;
  SendWithinBound(child, WM_GETTEXTLENGTH, 0, 0, zv::handoff::kSendTimeoutMs, length);
  if (length > kMaxTextChars) length = kMaxTextChars;
  std::vector<char> buffer(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
  SendWithinBound(child, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                  zv::handoff::kSendTimeoutMs, got);
  const size_t copied = got > 0 ? static_cast<size_t>(got) : 0;
  search->text = std::string(buffer.data(), copied < buffer.size() ? copied : buffer.size() - 1);
  return false;
}

// The address bar is an edit control inside a combo box. Called by the
// system: nothing may be thrown out of it.
BOOL CALLBACK VisitChild(HWND child, LPARAM param) {
  try {
    return VisitChildWindow(child, reinterpret_cast<Search*>(param)) ? TRUE : FALSE;
  } catch (...) {
    return FALSE;  // no referrer
  }
}

}  // namespace

std::optional<std::string> ReadAddressBarText() {
  HWND frame = GetForegroundWindow();
  if (!frame) return std::nullopt;
  if (!Holds(ClassNameOf(frame), "IEFrame")) return std::nullopt;
  Search search;
  EnumChildWindows(frame, VisitChild, reinterpret_cast<LPARAM>(&search));
  return search.text;
}

}  // namespace zv::handler
