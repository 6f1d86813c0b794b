// Text between UTF-16 and the ANSI code page, written once for every
// module. A character the code page cannot hold never becomes "?" in a URL
// (it would start a query) nor an ASCII look-alike anywhere (best fit turns
// a fullwidth "/" into a real one); each use says what it becomes instead.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zv::win {

// What a character the code page cannot hold is written as.
enum class Unholdable {
  kPercentEncoded,  // in a URL: its UTF-8 bytes as %XX, as a browser sends it
  kUnderscore,      // in a file name: "_"
  kQuestionMark,    // in free text (a link's comment): the code page's "?"
};

// Writes one character (one UTF-16 unit, or a surrogate pair) in the code
// page; false when the code page cannot hold it.
using EncodeInCodePage = std::function<bool(std::u16string_view character, std::string& out)>;

// The platform-free conversion: each character through `encode`, and each
// one it cannot hold written as `rule` says.
std::string ConvertCharacters(std::u16string_view text, Unholdable rule, const EncodeInCodePage& encode);

// UTF-8 of one character; an unpaired surrogate counts as U+FFFD.
std::string Utf8Of(std::u16string_view character);

// UTF-16 of UTF-8 text; an invalid sequence counts as U+FFFD.
std::u16string Utf16OfUtf8(std::string_view text);
// UTF-8 of UTF-16 text; an unpaired surrogate counts as U+FFFD.
std::string Utf8OfUtf16(std::u16string_view text);

#ifdef _WIN32
// `text` in the ANSI code page, without best fit; absent for null.
std::optional<std::string> ToAnsi(const wchar_t* text, Unholdable rule);
std::string ToAnsi(std::wstring_view text, Unholdable rule);
// UTF-8 text in the ANSI code page; absent when some character could not be
// held (the caller keeps the text as it came).
std::optional<std::string> Utf8ToAnsiExactly(std::string_view text);
std::string Utf8ToAnsi(std::string_view text, Unholdable rule);
// ANSI text (a value handed on to a wide function) in UTF-16.
std::wstring WideFromAnsi(std::string_view text);
// Wide text as UTF-8 (JSON, a console's diagnostics): every character kept.
std::string Utf8OfWide(std::wstring_view text);
#endif

}  // namespace zv::win
