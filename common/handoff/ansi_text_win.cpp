#include "ansi_text.h"

#include <windows.h>

namespace zv::handoff {

std::string UpperAnsi(std::string_view text) {
  std::string upper(text);
  if (!upper.empty()) CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
  return upper;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  const int n = static_cast<int>(prefix.size());
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, text.data(), n, prefix.data(), n) == CSTR_EQUAL;
}

}  // namespace zv::handoff
