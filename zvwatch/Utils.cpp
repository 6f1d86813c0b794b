// The platform-free helpers of Utils.h.
#include "Utils.h"

#include <vector>

#include "win/paths.h"

namespace zv::watch {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

unsigned Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned>(c - 'A');
  if (c >= 'a' && c <= 'z') return static_cast<unsigned>(c - 'a' + 26);
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0' + 52);
  if (c == '+') return 62;
  if (c == '/') return 63;
  return 0;
}

bool InRange(unsigned char b, unsigned char low, unsigned char high) { return b >= low && b <= high; }

// Length of the well-formed UTF-8 sequence at `at`, 0 when there is none.
size_t Utf8SequenceLength(const AnsiString& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const size_t left = text.size() - at;
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  auto continuation = [&](size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i)
      if (!InRange(byte(at + i), 0x80, 0xBF)) return false;
    return true;
  };
  if (InRange(lead, 0xC2, 0xDF)) return left >= 2 && continuation(1, 1) ? 2 : 0;
  if (lead == 0xE0) return left >= 3 && InRange(byte(at + 1), 0xA0, 0xBF) && continuation(2, 1) ? 3 : 0;
  if (InRange(lead, 0xE1, 0xEF)) return left >= 3 && continuation(1, 2) ? 3 : 0;
  if (lead == 0xF0) return left >= 4 && InRange(byte(at + 1), 0x90, 0xBF) && continuation(2, 2) ? 4 : 0;
  if (InRange(lead, 0xF1, 0xF3)) return left >= 4 && continuation(1, 3) ? 4 : 0;
  if (lead == 0xF4) return left >= 4 && InRange(byte(at + 1), 0x80, 0x8F) && continuation(2, 2) ? 4 : 0;
  return 0;
}

}  // namespace

int LastPos(const AnsiString& sub, const AnsiString& text) {
  if (sub.empty() || sub.size() > text.size()) return 0;
  const size_t at = text.rfind(sub);
  return at == AnsiString::npos ? 0 : static_cast<int>(at) + 1;
}

AnsiString NameAfterLastSeparator(const AnsiString& text) {
  // "/" separates folders for every Windows file function too.
  const size_t at = text.find_last_of(":\\/");
  return at == AnsiString::npos ? text : text.substr(at + 1);
}

bool HasPercentEscape(const AnsiString& text) {
  const size_t at = text.find('%');
  if (at == AnsiString::npos || text.size() - at < 3) return false;
  return HexValue(text[at + 1]) >= 0 && HexValue(text[at + 2]) >= 0;
}

AnsiString UrlDecodeName(const AnsiString& text) {
  AnsiString out = text;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] != '%' || out.size() - i < 3) continue;
    const int high = HexValue(out[i + 1]);
    const int low = HexValue(out[i + 2]);
    if (high < 0 || low < 0) continue;
    const int value = high * 16 + low;
    if (value == 0) continue;  // a NUL would cut the name short
    out[i] = static_cast<char>(value);
    out.erase(i + 1, 2);
  }
  AnsiString joined;
  for (char c : out)
    if (c != '\r' && c != '\n') joined.push_back(c);
  size_t begin = 0, end = joined.size();
  while (begin < end && static_cast<unsigned char>(joined[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(joined[end - 1]) <= 32) --end;
  return joined.substr(begin, end - begin);
}

bool IsNonAsciiUtf8(const AnsiString& text) {
  bool nonAscii = false;
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return false;
    if (length > 1) nonAscii = true;
    i += length;
  }
  return nonAscii;
}

AnsiString StripEnclosingQuotes(const AnsiString& text) {
  if (text.size() <= 2) return text;
  const unsigned char first = static_cast<unsigned char>(text.front());
  const bool digit = first >= '0' && first <= '9';
  if (text.front() != text.back() || digit || first > 0x40) return text;
  return text.substr(1, text.size() - 2);
}

std::string Base64Decode(const AnsiString& text) {
  if (text.empty() || text.size() % 4 != 0) return {};
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const unsigned group = Base64Value(text[i]) << 18 | Base64Value(text[i + 1]) << 12 | Base64Value(text[i + 2]) << 6 |
                           Base64Value(text[i + 3]);
    out.push_back(static_cast<char>(group >> 16));
    out.push_back(static_cast<char>(group >> 8));
    out.push_back(static_cast<char>(group));
  }
  if (text.compare(text.size() - 2, 2, "==") == 0)
    out.resize(out.size() - 2);
  else if (text.back() == '=')
    out.resize(out.size() - 1);
  return out;
}

AnsiString FolderOfPath(const AnsiString& path) { return zv::win::FolderOfPath(path); }

AnsiString IncludeTrailingBackslash(const AnsiString& text) { return zv::win::IncludeTrailingBackslash(text); }

AnsiString LowerAsciiLetters(AnsiString text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool BeginsWithPrefix(const AnsiString& text, const AnsiString& prefix) {
  return !prefix.empty() && text.compare(0, prefix.size(), prefix) == 0;
}

AnsiString SettingsFileNameFor(const AnsiString& moduleFolder, const AnsiString& programFilesFolder,
                               const AnsiString& programFilesShortForm,
                               const std::function<AnsiString()>& appDataFolder) {
  return zv::win::DataFolderFor<char>(moduleFolder, {programFilesFolder, programFilesShortForm}, appDataFolder) +
         "Settings.dat";
}

AnsiString ReadGrowingText(const std::function<unsigned long(char* buffer, unsigned long size)>& read) {
  std::vector<char> buffer(256, '\0');
  unsigned long length = read(buffer.data(), static_cast<unsigned long>(buffer.size()));
  while (length == buffer.size() - 1) {
    buffer.assign(buffer.size() + 256, '\0');
    length = read(buffer.data(), static_cast<unsigned long>(buffer.size()));
  }
  const size_t limit = length < buffer.size() ? length : buffer.size();
  AnsiString text(buffer.data(), limit);
  return text.substr(0, text.find('\0'));
}

}  // namespace zv::watch
