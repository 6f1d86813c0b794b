// The locale-dependent text helpers for the native build, where the ANSI
// code page is taken to be Latin-1 and case is folded for ASCII letters.
#include "Utils.h"

namespace zv::watch {
namespace {

bool EncodeLatin1(std::u16string_view character, std::string& out) {
  if (character.size() != 1 || character[0] > 0xFF) return false;
  out.push_back(static_cast<char>(character[0]));
  return true;
}

}  // namespace

bool SameTextIgnoringCase(const AnsiString& a, const AnsiString& b) {
  return LowerAsciiLetters(a) == LowerAsciiLetters(b);
}

AnsiString ConvertUtf8ToAnsi(const AnsiString& text) {
  return zv::win::ConvertCharacters(zv::win::Utf16OfUtf8(text), zv::win::Unholdable::kUnderscore, EncodeLatin1);
}

std::optional<AnsiString> ConvertUtf8ToAnsiExactly(const AnsiString& text) {
  bool held = true;
  AnsiString out = zv::win::ConvertCharacters(zv::win::Utf16OfUtf8(text), zv::win::Unholdable::kUnderscore,
                                              [&](std::u16string_view character, std::string& bytes) {
                                                if (EncodeLatin1(character, bytes)) return true;
                                                held = false;
                                                return false;
                                              });
  if (!held) return std::nullopt;
  return out;
}

}  // namespace zv::watch
