// The locale-dependent text helpers for the native build, where the ANSI
// code page is taken to be Latin-1 and case is folded for ASCII letters.
#include "Utils.h"

namespace zvwatch {

bool SameTextIgnoringCase(const AnsiString& a, const AnsiString& b) {
  return LowerAsciiLetters(a) == LowerAsciiLetters(b);
}

AnsiString ConvertUtf8ToAnsi(const AnsiString& text) {
  AnsiString out;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (i + length > text.size()) break;
    unsigned long code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) code = code << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out.push_back(code <= 0xFF ? static_cast<char>(code) : '?');
    i += length;
  }
  return out;
}

}  // namespace zvwatch
