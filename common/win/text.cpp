#include "text.h"

namespace zv::win {
namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

constexpr char32_t kReplacement = 0xFFFD;

char32_t CodePointOf(std::u16string_view character) {
  if (character.size() == 2 && IsHighSurrogate(character[0]) && IsLowSurrogate(character[1]))
    return 0x10000 + ((static_cast<char32_t>(character[0]) - 0xD800) << 10) + (character[1] - 0xDC00);
  if (character.size() != 1 || IsHighSurrogate(character[0]) || IsLowSurrogate(character[0])) return kReplacement;
  return character[0];
}

void AppendUtf8(char32_t code, std::string& out) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

void AppendUtf16(char32_t code, std::u16string& out) {
  if (code < 0x10000) {
    out.push_back(static_cast<char16_t>(code));
  } else {
    out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
  }
}

void AppendPercentEncoded(std::u16string_view character, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char byte : Utf8Of(character)) {
    const auto b = static_cast<unsigned char>(byte);
    out.push_back('%');
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 0x0F]);
  }
}

// Length of the UTF-8 sequence at `at` and its code point; 0 when invalid.
size_t DecodeUtf8(std::string_view text, size_t at, char32_t& code) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  size_t length = 0;
  if (lead < 0x80) return code = lead, 1;
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2, code = lead & 0x1F;
  else if (lead >= 0xE0 && lead <= 0xEF)
    length = 3, code = lead & 0x0F;
  else if (lead >= 0xF0 && lead <= 0xF4)
    length = 4, code = lead & 0x07;
  else
    return 0;
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3F);
  }
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string Utf8Of(std::u16string_view character) {
  std::string out;
  AppendUtf8(CodePointOf(character), out);
  return out;
}

std::u16string Utf16OfUtf8(std::string_view text) {
  std::u16string out;
  for (size_t at = 0; at < text.size();) {
    char32_t code = 0;
    const size_t length = DecodeUtf8(text, at, code);
    AppendUtf16(length ? code : kReplacement, out);
    at += length ? length : 1;
  }
  return out;
}

std::string Utf8OfUtf16(std::u16string_view text) {
  return ConvertCharacters(text, Unholdable::kQuestionMark, [](std::u16string_view character, std::string& out) {
    out += Utf8Of(character);
    return true;  // UTF-8 holds every character
  });
}

std::string ConvertCharacters(std::u16string_view text, Unholdable rule, const EncodeInCodePage& encode) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const size_t length = IsHighSurrogate(text[at]) && at + 1 < text.size() && IsLowSurrogate(text[at + 1]) ? 2 : 1;
    const std::u16string_view character = text.substr(at, length);
    at += length;
    if (encode(character, out)) continue;
    switch (rule) {
      case Unholdable::kPercentEncoded:
        AppendPercentEncoded(character, out);
        break;
      case Unholdable::kUnderscore:
        out.push_back('_');
        break;
      case Unholdable::kQuestionMark:
        out.push_back('?');
        break;
    }
  }
  return out;
}

}  // namespace zv::win
