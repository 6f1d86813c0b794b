// The component's platform-free rules: Base64 of the key settings and the
// cookie, the file name from headers and cache files, the key-combination
// walk, where the settings file lies, and the command text's bytes.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "DMRules.h"
#include "Utils.h"

using namespace zv::watch;

namespace {

// A case's text in test names: printable ASCII, everything else as xHH.
std::string Shown(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c > 32 && c < 127 && c != '\\' && c != '"' && c != ';') {
      out.push_back(static_cast<char>(c));
    } else {
      out += 'x';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out.empty() ? "(empty)" : out;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// --- Base64 ---------------------------------------------------------------------

struct Base64Case {
  std::string bytes;
  std::string text;
};
void PrintTo(const Base64Case& c, std::ostream* os) { *os << Shown(c.text); }

class Base64RoundTrip : public testing::TestWithParam<Base64Case> {};

TEST_P(Base64RoundTrip, EncodesAndDecodesBack) {
  EXPECT_EQ(Base64Encode(GetParam().bytes), GetParam().text);
  EXPECT_EQ(Base64Decode(GetParam().text), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Rfc4648, Base64RoundTrip,
                         testing::Values(Base64Case{"", ""}, Base64Case{"abc", "YWJj"}, Base64Case{"A", "QQ=="},
                                         Base64Case{"f", "Zg=="}, Base64Case{"fo", "Zm8="}, Base64Case{"foo", "Zm9v"},
                                         Base64Case{"foob", "Zm9vYg=="}, Base64Case{"fooba", "Zm9vYmE="},
                                         Base64Case{"foobar", "Zm9vYmFy"},
                                         // Key codes: Alt, Ctrl; and bytes that use "+" and "/".
                                         Base64Case{Bytes({0x12, 0x11}), "EhE="},
                                         Base64Case{Bytes({0xFB, 0xFF, 0xBF}), "+/+/"},
                                         Base64Case{Bytes({0x00, 0x00, 0x00}), "AAAA"}));

TEST(Base64Decode, RejectsLengthsThatAreNotMultiplesOfFour) {
  EXPECT_EQ(Base64Decode("QQ=="), "A");
  EXPECT_EQ(Base64Decode("QQ=Q="), "");  // 5 characters
  EXPECT_EQ(Base64Decode("QQ="), "");
  EXPECT_EQ(Base64Decode("Q"), "");
}

TEST(Base64Decode, CountsForeignCharactersAndEarlyPaddingAsZero) {
  EXPECT_EQ(Base64Decode("Q*=="), Bytes({0x40}));                        // "*" is 0
  EXPECT_EQ(Base64Decode("=QQQ"), Bytes({0x01, 0x04, 0x10}));            // leading "=" is 0
  EXPECT_EQ(Base64Decode("QQ==QQ=="), Bytes({0x41, 0x00, 0x00, 0x41}));  // "=" before the last group
  EXPECT_EQ(Base64Decode("===="), Bytes({0x00}));
}

// --- File-name helpers -----------------------------------------------------------------

TEST(FileNameHelpers, LastPosIsOneBasedAndZeroWhenAbsent) {
  EXPECT_EQ(LastPos("].", "a[1].b[2].c"), 9);
  EXPECT_EQ(LastPos("[", "a[1].b"), 2);
  EXPECT_EQ(LastPos("x", "abc"), 0);
  EXPECT_EQ(LastPos("abcd", "abc"), 0);
}

TEST(FileNameHelpers, NameAfterLastSeparatorCutsAtColonBackslashAndSlash) {
  EXPECT_EQ(NameAfterLastSeparator("C:\\cache\\x\\setup.exe"), "setup.exe");
  EXPECT_EQ(NameAfterLastSeparator("C:setup.exe"), "setup.exe");
  EXPECT_EQ(NameAfterLastSeparator("a/b/c.txt"), "c.txt");
  EXPECT_EQ(NameAfterLastSeparator("a\\b/c:d.txt"), "d.txt");
  EXPECT_EQ(NameAfterLastSeparator("folder\\"), "");
}

TEST(FileNameHelpers, OnlyTheFirstPercentDecidesWhetherANameIsEscaped) {
  EXPECT_TRUE(HasPercentEscape("my%20file.txt"));
  EXPECT_TRUE(HasPercentEscape("%aF"));
  EXPECT_FALSE(HasPercentEscape("50%off.pdf"));
  EXPECT_FALSE(HasPercentEscape("50%off%20x.pdf"));
  EXPECT_FALSE(HasPercentEscape("end%2"));
  EXPECT_FALSE(HasPercentEscape("plain.txt"));
}

struct DecodeCase {
  std::string in;
  std::string out;
};
void PrintTo(const DecodeCase& c, std::ostream* os) { *os << Shown(c.in); }
class UrlDecodeNameCase : public testing::TestWithParam<DecodeCase> {};

TEST_P(UrlDecodeNameCase, Decodes) { EXPECT_EQ(UrlDecodeName(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(Escapes, UrlDecodeNameCase,
                         testing::Values(DecodeCase{"annual%20report.pdf", "annual report.pdf"},
                                         DecodeCase{"a%00b.txt", "a%00b.txt"},    // value 0 stays
                                         DecodeCase{"50%off.pdf", "50%off.pdf"},  // not two hex digits
                                         DecodeCase{"%2541.txt", "%41.txt"},      // a decoded "%" is not decoded again
                                         DecodeCase{"caf%C3%A9.txt", "caf\xC3\xA9.txt"},
                                         DecodeCase{"two%0D%0Alines.txt", "twolines.txt"},  // CR and LF removed
                                         DecodeCase{"%20%09name.txt%20", "name.txt"},       // codes up to 32 trimmed
                                         DecodeCase{"tail%4", "tail%4"}, DecodeCase{"%", "%"}));

struct Utf8Case {
  std::string text;
  bool utf8;
};
void PrintTo(const Utf8Case& c, std::ostream* os) { *os << Shown(c.text); }
class IsNonAsciiUtf8Case : public testing::TestWithParam<Utf8Case> {};

TEST_P(IsNonAsciiUtf8Case, Classifies) { EXPECT_EQ(IsNonAsciiUtf8(GetParam().text), GetParam().utf8); }

INSTANTIATE_TEST_SUITE_P(Sequences, IsNonAsciiUtf8Case,
                         testing::Values(Utf8Case{"plain.txt", false}, Utf8Case{"", false},
                                         Utf8Case{"caf\xC3\xA9.txt", true},  // two bytes
                                         Utf8Case{"caf\xE9.txt", false},     // the single byte E9
                                         Utf8Case{"\xE0\xA0\x80", true}, Utf8Case{"\xE0\x9F\x80", false},
                                         Utf8Case{"\xED\xA0\x80", true},  // ED with any continuation
                                         Utf8Case{"\xEF\xBF\xBF", true}, Utf8Case{"\xF0\x90\x80\x80", true},
                                         Utf8Case{"\xF0\x8F\x80\x80", false}, Utf8Case{"\xF3\xBF\xBF\xBF", true},
                                         Utf8Case{"\xF4\x8F\xBF\xBF", true}, Utf8Case{"\xF4\x90\x80\x80", false},
                                         Utf8Case{"\xC0\x80", false}, Utf8Case{"\xC1\xBF", false},
                                         Utf8Case{"\xF5\x80\x80\x80", false}, Utf8Case{"\x80", false},
                                         Utf8Case{"\xC3", false},  // cut off
                                         Utf8Case{"\xE4\xB8", false}, Utf8Case{"\xC3\x28", false}));

TEST(FileNameHelpers, StripEnclosingQuotesOnlyForPunctuation) {
  EXPECT_EQ(StripEnclosingQuotes("\"data.bin\""), "data.bin");
  EXPECT_EQ(StripEnclosingQuotes("'data.bin'"), "data.bin");
  EXPECT_EQ(StripEnclosingQuotes("@a@"), "a");
  EXPECT_EQ(StripEnclosingQuotes("\"\""), "\"\"");  // not longer than 2
  EXPECT_EQ(StripEnclosingQuotes("\"a\""), "a");
  EXPECT_EQ(StripEnclosingQuotes("aXa"), "aXa");    // a letter
  EXPECT_EQ(StripEnclosingQuotes("1.21"), "1.21");  // a digit
  EXPECT_EQ(StripEnclosingQuotes("\"data.bin"), "\"data.bin");
}

TEST(FileNameHelpers, ConvertUtf8ToAnsiGivesTheLatinLetter) {
  EXPECT_EQ(ConvertUtf8ToAnsi("caf\xC3\xA9.txt"), "caf\xE9.txt");
  EXPECT_EQ(ConvertUtf8ToAnsi(""), "");
}

// --- Content-Disposition and the cache file ----------------------------------------------

struct DispositionCase {
  std::string header;
  std::string fileName;
};
void PrintTo(const DispositionCase& c, std::ostream* os) { *os << Shown(c.header); }
class ContentDisposition : public testing::TestWithParam<DispositionCase> {};

TEST_P(ContentDisposition, GivesTheFileName) {
  EXPECT_EQ(FileNameFromContentDisposition(GetParam().header), GetParam().fileName);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ContentDisposition,
    testing::Values(DispositionCase{"attachment; filename=data.bin", "data.bin"},
                    DispositionCase{"attachment;filename = data.bin", "data.bin"},
                    DispositionCase{"attachment; FILENAME=\"Data.bin\"", "\"Data.bin\""},
                    DispositionCase{"attachment; FileName=a=b.txt", "a=b.txt"},
                    DispositionCase{"attachment; size=10; filename=x.zip; filename=y.zip", "x.zip"},
                    DispositionCase{"attachment; filename = a = b", "a = b"},  // only the first " = "
                    DispositionCase{"attachment", ""}, DispositionCase{"attachment; name=field", ""},
                    DispositionCase{"attachment; filename =x.bin", ""},  // "filename " is another name
                    DispositionCase{"attachment;\r\nfilename=lines.txt", "lines.txt"}, DispositionCase{"filename", ""},
                    // No folder reaches the download manager, escaped or not.
                    DispositionCase{"attachment; filename=../../Startup/x.exe", "x.exe"},
                    DispositionCase{"attachment; filename=..\\..\\x.exe", "x.exe"},
                    DispositionCase{"attachment; filename=C:x.exe", "x.exe"},
                    DispositionCase{"attachment; filename=..%2F..%2FStartup%2Fx.exe", "x.exe"},
                    DispositionCase{"attachment; filename=..%5Cx%20y.exe", "x y.exe"},
                    DispositionCase{"attachment; filename=my%20file.zip", "my%20file.zip"}));

struct CacheCase {
  std::string fromHeaders;  // what the headers gave
  std::string cachePath;
  std::string fileName;
};
void PrintTo(const CacheCase& c, std::ostream* os) {
  *os << Shown(c.fromHeaders) << "_" << Shown(NameAfterLastSeparator(c.cachePath));
}
class CacheFileName : public testing::TestWithParam<CacheCase> {};

TEST_P(CacheFileName, GivesTheFileName) {
  EXPECT_EQ(FileNameWithCacheFile(GetParam().fromHeaders, GetParam().cachePath), GetParam().fileName);
}

INSTANTIATE_TEST_SUITE_P(
    Names, CacheFileName,
    testing::Values(CacheCase{"", "C:\\cache\\AB12\\setup[1].exe", "setup.exe"},
                    CacheCase{"", "C:\\cache\\AB12\\report[12].tar.gz", "report.tar.gz"},
                    CacheCase{"", "C:\\cache\\AB12\\notes[2]", "notes[2]"},  // no dot after the bracket
                    CacheCase{"", "C:\\cache\\AB12\\a].b[1]", "a].b[1]"},    // "[" after the "]."
                    CacheCase{"", "C:\\cache\\AB12\\annual%20report[1].pdf", "annual report.pdf"},
                    CacheCase{"", "C:\\cache\\AB12\\50%off%20now[1].pdf", "50%off%20now.pdf"},
                    CacheCase{"", "C:\\cache\\AB12\\a%00b[1].txt", "a%00b.txt"},
                    CacheCase{"", "C:\\cache\\AB12\\caf%C3%A9[1].txt", "caf\xE9.txt"},
                    CacheCase{"", "C:\\cache\\AB12\\caf\xC3\xA9[1].txt", "caf\xE9.txt"},
                    CacheCase{"", "C:\\cache\\AB12\\caf\xE9[1].txt", "caf\xE9.txt"},      // not UTF-8: unchanged
                    CacheCase{"", "C:\\cache\\AB12\\%E4%B8%AD[1].txt", "%E4%B8%AD.txt"},  // not in the code page
                    CacheCase{"", "C:\\cache\\AB12\\what%3F[1].txt", "what%3F.txt"},      // "?" after decoding
                    CacheCase{"\"data.bin\"", "C:\\cache\\AB12\\get[1].php", "data.bin"},
                    CacheCase{"'my%20file.zip'", "C:\\cache\\x\\y[1].z", "my file.zip"},
                    CacheCase{"dir\\name.txt", "C:\\cache\\x\\y[1].z", "name.txt"},
                    // Separators that only decoding reveals are cut as well.
                    CacheCase{"..%5C..%5Cstartup%5Cevil.exe", "C:\\cache\\x\\y[1].z", "evil.exe"},
                    CacheCase{"C%3A%5Cwindows%5Cx.dll", "C:\\cache\\x\\y[1].z", "x.dll"},
                    CacheCase{"", "C:\\cache\\AB12\\a%5Cb[1].txt", "b.txt"},
                    CacheCase{"dir/name.txt", "C:\\cache\\x\\y[1].z", "name.txt"},
                    CacheCase{"..%2F..%2FStartup%2Fx.exe", "C:\\cache\\x\\y[1].z", "x.exe"},
                    CacheCase{"", "C:\\cache\\AB12\\..%2F..%2FStartup%2Fx[1].exe", "x.exe"},
                    // Kept escaped for a letter the code page lacks, yet without its folder.
                    CacheCase{"", "C:\\cache\\AB12\\%E4%B8%AD%2Fx[1].exe", "x.exe"}));

TEST(ContentLength, IsASigned64BitDecimalOrZero) {
  EXPECT_EQ(ContentLengthValue("1234"), 1234);
  EXPECT_EQ(ContentLengthValue("123456789012"), 123456789012LL);
  EXPECT_EQ(ContentLengthValue("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(ContentLengthValue("9223372036854775808"), 0);
  EXPECT_EQ(ContentLengthValue("-5"), -5);
  EXPECT_EQ(ContentLengthValue(""), 0);
  EXPECT_EQ(ContentLengthValue("12a"), 0);
  EXPECT_EQ(ContentLengthValue("-"), 0);
}

// --- Key combinations ---------------------------------------------------------------------

struct ComboCase {
  const char* name;
  std::vector<int> held;
  std::string codes;  // the decoded setting
  bool expected;
};
void PrintTo(const ComboCase& c, std::ostream* os) {
  *os << c.name;
  for (int key : c.held) *os << "_" << std::hex << key << std::dec;
  *os << "_list" << Shown(c.codes);
}

class KeyCombo : public testing::TestWithParam<ComboCase> {};

TEST_P(KeyCombo, IsHeldOnlyExactly) {
  KeyboardState state{};
  for (int key : GetParam().held) state[key] = 0x80;
  EXPECT_EQ(IsComboHeldInState(state, ComboCodesOrDefault(GetParam().name, GetParam().codes)), GetParam().expected);
}

constexpr int kShift = 0x10, kCtrl = 0x11, kAlt = 0x12, kLShift = 0xA0, kRShift = 0xA1, kLButton = 0x01;

INSTANTIATE_TEST_SUITE_P(
    States, KeyCombo,
    testing::Values(ComboCase{kKeysToIgnore, {kShift}, "", true},
                    ComboCase{kKeysToIgnore, {kShift, kLShift}, "", true},  // the family is cleared
                    ComboCase{kKeysToIgnore, {kLShift}, "", false},         // generic code not down
                    ComboCase{kKeysToIgnore, {kShift, 'A'}, "", false},
                    ComboCase{kKeysToIgnore, {kShift, kLButton}, "", false}, ComboCase{kKeysToIgnore, {}, "", false},
                    ComboCase{kKeysToAdd, {kCtrl, kAlt}, "", true},
                    ComboCase{kKeysToAdd, {kCtrl, kAlt, kShift}, "", false}, ComboCase{kKeysToAdd, {kCtrl}, "", false},
                    ComboCase{kKeysToAdd, {'Q', kCtrl}, Bytes({kCtrl, 'Q'}), true},
                    ComboCase{kKeysToAdd, {kCtrl, kAlt}, Bytes({kCtrl, 'Q'}), false},
                    // Generic and side-specific code of one family: the later one
                    // clears the other, so the combination is never held.
                    ComboCase{kKeysToIgnore, {kShift, kLShift}, Bytes({kShift, kLShift}), false},
                    ComboCase{kKeysToIgnore, {kRShift, kShift}, Bytes({kRShift}), true},
                    ComboCase{kKeysToIgnore, {kRShift}, Bytes({kRShift}), true}));

TEST(KeyCombo, UndecodableSettingsFallBackToTheDefaults) {
  EXPECT_EQ(ComboCodesOrDefault(kKeysToAdd, Base64Decode("EhE")), Bytes({kAlt, kCtrl}));
  EXPECT_EQ(ComboCodesOrDefault(kKeysToIgnore, Base64Decode("")), Bytes({kShift}));
  EXPECT_EQ(ComboCodesOrDefault(kKeysToAdd, Base64Decode("EQ==")), Bytes({kCtrl}));
}

// --- Settings location ------------------------------------------------------------------------

struct LocationCase {
  std::string moduleFolder;
  std::string programFiles;
  std::string programFilesShort;
  std::string expected;
};
void PrintTo(const LocationCase& c, std::ostream* os) {
  *os << Shown(c.moduleFolder) << "_short" << Shown(c.programFilesShort);
}

class SettingsLocation : public testing::TestWithParam<LocationCase> {};

TEST_P(SettingsLocation, ChoosesTheLayout) {
  const LocationCase& c = GetParam();
  EXPECT_EQ(SettingsFileNameFor(c.moduleFolder, c.programFiles, c.programFilesShort,
                                [] { return std::string("C:\\Users\\u\\AppData\\Roaming"); }),
            c.expected);
}

const char kInstalled[] = "C:\\Users\\u\\AppData\\Roaming\\Quennet\\Kestrix\\Settings.dat";

INSTANTIATE_TEST_SUITE_P(
    Layouts, SettingsLocation,
    testing::Values(
        LocationCase{"C:\\Program Files\\X\\", "C:\\Program Files\\", "C:\\PROGRA~1\\", kInstalled},
        LocationCase{"C:\\PROGRAM FILES\\X\\", "C:\\Program Files\\", "C:\\PROGRA~1\\", kInstalled},
        LocationCase{"C:\\PROGRA~1\\X\\", "C:\\Program Files\\", "C:\\PROGRA~1\\", kInstalled},
        LocationCase{"c:\\progra~1\\x", "C:\\Program Files\\", "C:\\PROGRA~1\\", kInstalled},
        LocationCase{"C:\\Program Files Extra\\X\\", "C:\\Program Files\\", "C:\\PROGRA~1\\",
                     "C:\\Program Files Extra\\X\\DATA\\Settings.dat"},
        LocationCase{"E:\\Tools\\X\\", "C:\\Program Files\\", "C:\\PROGRA~1\\", "E:\\Tools\\X\\DATA\\Settings.dat"},
        LocationCase{"E:\\Tools\\X", "C:\\Program Files\\", "C:\\PROGRA~1\\", "E:\\Tools\\X\\DATA\\Settings.dat"},
        // The short form is unknown: no folder counts as under it.
        LocationCase{"E:\\Tools\\X\\", "C:\\Program Files\\", "", "E:\\Tools\\X\\DATA\\Settings.dat"},
        LocationCase{"C:\\Program Files\\X\\", "C:\\Program Files\\", "", kInstalled}));

TEST(SettingsLocation, AnUnknownApplicationDataFolderLeavesARelativePath) {
  EXPECT_EQ(SettingsFileNameFor("C:\\Program Files\\X\\", "C:\\Program Files\\", "", [] { return std::string(); }),
            "Quennet\\Kestrix\\Settings.dat");
}

TEST(SettingsLocation, TheApplicationDataFolderIsAskedOnlyForTheInstalledLayout) {
  int asked = 0;
  SettingsFileNameFor("E:\\Tools\\X\\", "C:\\Program Files\\", "C:\\PROGRA~1\\", [&] {
    ++asked;
    return std::string("C:\\A");
  });
  EXPECT_EQ(asked, 0);
}

TEST(Paths, FolderOfPathAndTrailingBackslash) {
  EXPECT_EQ(FolderOfPath("C:\\a\\b.dll"), "C:\\a\\");
  EXPECT_EQ(FolderOfPath("C:b.dll"), "C:");
  EXPECT_EQ(FolderOfPath("b.dll"), "");
  EXPECT_EQ(IncludeTrailingBackslash("C:\\a"), "C:\\a\\");
  EXPECT_EQ(IncludeTrailingBackslash("C:\\a\\"), "C:\\a\\");
  EXPECT_EQ(IncludeTrailingBackslash(""), "");
  EXPECT_EQ(LowerAsciiLetters("C:\\PROGRAM Files\xC9"), "c:\\program files\xC9");
}

// --- Reading a value of any length --------------------------------------------------------------

// Answers as GetPrivateProfileStringA does: copies at most size - 1 bytes.
class ProfileReader {
 public:
  explicit ProfileReader(std::string value) : value_(std::move(value)) {}
  unsigned long operator()(char* buffer, unsigned long size) {
    sizes.push_back(size);
    const size_t n = value_.size() < size - 1 ? value_.size() : size - 1;
    value_.copy(buffer, n);
    buffer[n] = '\0';
    return static_cast<unsigned long>(n);
  }
  std::vector<unsigned long> sizes;

 private:
  std::string value_;
};

TEST(ReadGrowingText, ReadsValuesOfAnyLength) {
  for (size_t length : {0u, 1u, 254u, 255u, 256u, 300u, 511u, 1000u}) {
    std::string value;
    for (size_t i = 0; i < length; ++i) value.push_back(static_cast<char>('a' + i % 26));
    ProfileReader reader(value);
    EXPECT_EQ(ReadGrowingText(std::ref(reader)), value) << length;
    EXPECT_EQ(reader.sizes.front(), 256u);
    // A value that fills the buffer may have been cut: the buffer grows.
    EXPECT_EQ(reader.sizes.back(), ((length + 1) / 256 + 1) * 256) << length;
  }
}

// --- Command text ------------------------------------------------------------------------------

TEST(DownloadCommandText, CarriesTheDetailsInOrderWithCrLf) {
  TFileDetails details;
  details.referer = "http://example.org/page.html";
  details.fileName = "data.bin";
  details.mimeType = "application/octet-stream";
  details.size = 123456789012;
  details.fileDateTime = "Tue, 15 Nov 1994 08:12:31 GMT";
  details.cookie = "id=42";
  EXPECT_EQ(BuildCommandText("http://example.org/data.bin", BuildCommandBody(details), std::nullopt),
            "URL=http://example.org/data.bin\r\n"
            "Referer=http://example.org/page.html\r\n"
            "FileName=data.bin\r\n"
            "MIMEType=application/octet-stream\r\n"
            "Size=123456789012\r\n"
            "FileDateTime=Tue, 15 Nov 1994 08:12:31 GMT\r\n"
            "Cookie=aWQ9NDI=\r\n"
            "Mode=DEFAULT");
}

TEST(DownloadCommandText, WithoutDetailsIsOnlyTheUrlAndAnEmptyReferer) {
  EXPECT_EQ(BuildCommandText("http://h/x", BuildCommandBody({}), std::nullopt), "URL=http://h/x\r\nReferer=");
}

TEST(DownloadCommandText, ADetailWithoutRefererStillSetsTheMode) {
  TFileDetails details;
  details.size = -1;
  EXPECT_EQ(BuildCommandBody(details), "\r\nSize=-1\r\nMode=DEFAULT");
}

TEST(DownloadCommandText, PostDataKeepsItsNulBytesAndEndsInOne) {
  const std::string text = BuildCommandText("http://h/f", "", std::string("a\0b", 3));
  const std::string head = "URL=http://h/f\r\nReferer=\r\nPostData=";
  EXPECT_EQ(text, head + std::string("a\0b\0", 4));
  EXPECT_EQ(BuildCommandText("http://h/f", "", std::string()), head + std::string(1, '\0'));
}

}  // namespace
