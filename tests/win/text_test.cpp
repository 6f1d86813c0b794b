// Text outside the ANSI code page. Natively against a code page that holds
// Latin-1 only; under Wine against the real code page (1252), without best
// fit. Neither may put a "?" or an ASCII look-alike where a character was.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "win/text.h"

using zv::win::Unholdable;

namespace {

struct TextCase {
  const char* name;
  std::u16string wide;
  Unholdable rule;
  std::string ansi;
};

// Cases whose result is the same for Latin-1 and code page 1252.
const TextCase kCases[] = {
    {"UrlCharactersPercentEncodedAsUtf8", u"http://h/\u4E2D\uFF0F.zip", Unholdable::kPercentEncoded,
     "http://h/%E4%B8%AD%EF%BC%8F.zip"},
    {"FileNameCharacterBecomesUnderscore", u"a\uFF1Ab.zip", Unholdable::kUnderscore, "a_b.zip"},
    {"HeldTextComesOutAsItWas", u"caf\u00E9 r?sum.zip", Unholdable::kPercentEncoded, "caf\xE9 r?sum.zip"},
    {"PairIsOneCharacterInAUrl", u"x\U0001F600y", Unholdable::kPercentEncoded, "x%F0%9F%98%80y"},
    {"PairIsOneUnderscoreInAName", u"x\U0001F600y", Unholdable::kUnderscore, "x_y"},
    {"UnpairedSurrogateIsTheReplacementCharacter", std::u16string(u"a") + char16_t(0xD800) + u"b",
     Unholdable::kPercentEncoded, "a%EF%BF%BDb"},
    {"FreeTextKeepsTheQuestionMark", u"\u0141\u00F3d\u017A", Unholdable::kQuestionMark,
     "?\xF3"
     "d?"},
    {"EmptyStaysEmpty", u"", Unholdable::kUnderscore, ""},
};

void PrintTo(const TextCase& c, std::ostream* out) { *out << c.name; }

class TextOutsideTheCodePage : public testing::TestWithParam<TextCase> {};

#ifdef _WIN32
TEST_P(TextOutsideTheCodePage, InTheAnsiCodePage) {
  ASSERT_EQ(GetACP(), 1252u);
  const std::wstring wide(GetParam().wide.begin(), GetParam().wide.end());
  EXPECT_EQ(zv::win::ToAnsi(wide, GetParam().rule), GetParam().ansi);
  EXPECT_EQ(zv::win::ToAnsi(wide.c_str(), GetParam().rule), GetParam().ansi);
}
#else
// A code page of the first 256 code points.
bool EncodeLatin1(std::u16string_view character, std::string& out) {
  if (character.size() != 1 || character[0] > 0xFF) return false;
  out.push_back(static_cast<char>(character[0]));
  return true;
}

TEST_P(TextOutsideTheCodePage, InLatin1) {
  EXPECT_EQ(zv::win::ConvertCharacters(GetParam().wide, GetParam().rule, EncodeLatin1), GetParam().ansi);
}
#endif

INSTANTIATE_TEST_SUITE_P(Cases, TextOutsideTheCodePage, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<TextCase>& info) { return info.param.name; });

TEST(Utf8Text, DecodesWellFormedAndReplacesTheRest) {
  EXPECT_EQ(zv::win::Utf16OfUtf8("caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80"), u"caf\u00E9 \u4E2D \U0001F600");
  // Overlong, a surrogate, a cut sequence: one U+FFFD per byte that starts none.
  EXPECT_EQ(zv::win::Utf16OfUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(zv::win::Utf16OfUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(zv::win::Utf16OfUtf8("a\xE4\xB8"), u"a\uFFFD\uFFFD");
}

TEST(Utf8Text, EncodesEveryCharacterAndReplacesOnlyUnpairedSurrogates) {
  EXPECT_EQ(zv::win::Utf8OfUtf16(u"C:\\caf\u00E9\\\u4E2D\U0001F600.exe"),
            "C:\\caf\xC3\xA9\\\xE4\xB8\xAD\xF0\x9F\x98\x80.exe");
  EXPECT_EQ(zv::win::Utf8OfUtf16(std::u16string(u"a") + char16_t(0xDC00) + char16_t(0xD800)),
            "a\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(zv::win::Utf8OfUtf16(u""), "");
#ifdef _WIN32
  EXPECT_EQ(zv::win::Utf8OfWide(L"\u0141\u00F3d\u017A"),
            "\xC5\x81\xC3\xB3"
            "d\xC5\xBA");
#endif
}

#ifdef _WIN32
TEST(Utf8Text, InTheCodePageOnlyWhenEveryCharacterIsHeld) {
  EXPECT_EQ(zv::win::Utf8ToAnsiExactly("\xE2\x82\xAC caf\xC3\xA9"), std::optional<std::string>("\x80 caf\xE9"));
  EXPECT_FALSE(
      zv::win::Utf8ToAnsiExactly("a\xEF\xBC\x8F"
                                 "b"));  // no "/" for the fullwidth one
  EXPECT_EQ(zv::win::Utf8ToAnsi("a\xEF\xBC\x9A"
                                "b",
                                Unholdable::kUnderscore),
            "a_b");
  EXPECT_FALSE(zv::win::ToAnsi(static_cast<const wchar_t*>(nullptr), Unholdable::kUnderscore));
  EXPECT_EQ(zv::win::WideFromAnsi("caf\xE9"), L"caf\u00E9");
}
#endif

}  // namespace
