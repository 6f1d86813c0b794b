#include <windows.h>

#include "text.h"

namespace zv::win {
namespace {

// On a UTF-8 code page every character is held, and the flags and the
// default-character argument that other code pages need are invalid there.
bool AnsiIsUtf8() { return GetACP() == CP_UTF8; }

const char16_t* Units(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }
const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// The whole text in one call; false when some character was not held.
bool ConvertHeld(const wchar_t* text, int length, std::string& out) {
  const bool utf8 = AnsiIsUtf8();
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* used = utf8 ? nullptr : &usedDefault;
  const int size = WideCharToMultiByte(CP_ACP, flags, text, length, nullptr, 0, nullptr, used);
  if (size <= 0) return length == 0;
  if (usedDefault) return false;
  out.assign(static_cast<size_t>(size), '\0');
  return WideCharToMultiByte(CP_ACP, flags, text, length, out.data(), size, nullptr, used) == size && !usedDefault;
}

bool EncodeCharacter(std::u16string_view character, std::string& out) {
  std::string bytes;
  if (!ConvertHeld(Wide(character.data()), static_cast<int>(character.size()), bytes)) return false;
  out += bytes;
  return true;
}

}  // namespace

std::string ToAnsi(std::wstring_view text, Unholdable rule) {
  std::string out;
  if (text.empty() || ConvertHeld(text.data(), static_cast<int>(text.size()), out)) return out;
  // Text the code page holds took one call; only text that it does not
  // hold is written character by character.
  return ConvertCharacters(std::u16string_view(Units(text.data()), text.size()), rule, EncodeCharacter);
}

std::optional<std::string> ToAnsi(const wchar_t* text, Unholdable rule) {
  if (!text) return std::nullopt;
  return ToAnsi(std::wstring_view(text), rule);
}

std::optional<std::string> Utf8ToAnsiExactly(std::string_view text) {
  const std::u16string wide = Utf16OfUtf8(text);
  std::string out;
  if (!ConvertHeld(Wide(wide.data()), static_cast<int>(wide.size()), out)) return std::nullopt;
  return out;
}

std::string Utf8ToAnsi(std::string_view text, Unholdable rule) {
  const std::u16string wide = Utf16OfUtf8(text);
  return ToAnsi(std::wstring_view(Wide(wide.data()), wide.size()), rule);
}

std::wstring WideFromAnsi(std::string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), size);
  return wide;
}

std::string Utf8OfWide(std::wstring_view text) {
  return Utf8OfUtf16(std::u16string_view(Units(text.data()), text.size()));
}

}  // namespace zv::win
