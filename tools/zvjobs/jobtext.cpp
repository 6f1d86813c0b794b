#include "jobtext.h"

#include <cstdint>
#include <cstdio>

namespace zv::jobs {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

class LineReader {
 public:
  explicit LineReader(const std::string& line) : line_(line) {}

  bool AtEnd() {
    SkipBlanks();
    return at_ == line_.size();
  }

  // A word up to the next blank.
  bool Word(std::string& word) {
    SkipBlanks();
    const size_t start = at_;
    while (at_ < line_.size() && !IsBlank(line_[at_])) ++at_;
    word = line_.substr(start, at_ - start);
    return !word.empty();
  }

  bool Text(std::string& text, std::string& error) {
    SkipBlanks();
    text.clear();
    if (at_ == line_.size()) {
      error = "missing text";
      return false;
    }
    const bool quoted = line_[at_] == '"';
    if (quoted) ++at_;
    for (;;) {
      if (at_ == line_.size()) {
        if (quoted) {
          error = "unterminated quoted text";
          return false;
        }
        return true;
      }
      const char c = line_[at_];
      if (quoted ? c == '"' : IsBlank(c)) break;
      if (!quoted && c == '"') {
        error = "quote inside an unquoted text (write ^22)";
        return false;
      }
      ++at_;
      if (c != '^') {
        text.push_back(c);
        continue;
      }
      if (at_ < line_.size() && line_[at_] == '^') {
        text.push_back('^');
        ++at_;
        continue;
      }
      const int high = at_ < line_.size() ? HexValue(line_[at_]) : -1;
      const int low = at_ + 1 < line_.size() ? HexValue(line_[at_ + 1]) : -1;
      if (high < 0 || low < 0) {
        error = "^ must be followed by two hexadecimal digits or another ^";
        return false;
      }
      text.push_back(static_cast<char>(high * 16 + low));
      at_ += 2;
    }
    if (quoted) ++at_;
    if (at_ < line_.size() && !IsBlank(line_[at_])) {
      error = "no blank after the closing quote";
      return false;
    }
    return true;
  }

 private:
  void SkipBlanks() {
    while (at_ < line_.size() && IsBlank(line_[at_])) ++at_;
  }
  const std::string& line_;
  size_t at_ = 0;
};

// An unsigned decimal or 0x-hexadecimal number up to `max`.
bool ParseUnsigned(const std::string& word, uint64_t max, uint64_t& value) {
  const bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
  const size_t start = hex ? 2 : 0;
  if (word.size() == start) return false;
  value = 0;
  for (size_t i = start; i < word.size(); ++i) {
    const int digit = hex ? HexValue(word[i]) : (word[i] >= '0' && word[i] <= '9' ? word[i] - '0' : -1);
    if (digit < 0) return false;
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (value > max) return false;
  }
  return true;
}

bool ParseResult(const std::string& word, int32_t& result) {
  uint64_t value = 0;
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
    if (!ParseUnsigned(word, UINT32_MAX, value)) return false;
    result = static_cast<int32_t>(static_cast<uint32_t>(value));
    return true;
  }
  const bool negative = !word.empty() && word[0] == '-';
  if (!ParseUnsigned(negative ? word.substr(1) : word, negative ? 2147483648u : 2147483647u, value)) return false;
  result = static_cast<int32_t>(negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value));
  return true;
}

bool ParseLine(const std::string& line, Job& job, std::string& error) {
  LineReader reader(line);
  std::string word;
  uint64_t value = 0;
  if (!reader.Word(word) || !ParseUnsigned(word, 255, value)) {
    error = "kind must be a number from 0 to 255";
    return false;
  }
  job.kind = static_cast<uint8_t>(value);
  if (!reader.Word(word) || !ParseUnsigned(word, UINT32_MAX, value)) {
    error = "tag must be a 32-bit number";
    return false;
  }
  job.tag = static_cast<uint32_t>(value);
  if (!reader.Text(job.param1, error) || !reader.Text(job.param2, error)) return false;
  job.result = 0;
  if (!reader.AtEnd()) {
    if (!reader.Word(word) || !ParseResult(word, job.result)) {
      error = "result must be a signed 32-bit number";
      return false;
    }
  }
  if (!reader.AtEnd()) {
    error = "text after the result";
    return false;
  }
  return true;
}

}  // namespace

bool ParseJobText(const std::string& text, std::vector<Job>& jobs, std::string& error) {
  jobs.clear();
  size_t start = 0;
  for (int number = 1; start <= text.size(); ++number) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = 0;
    while (first < line.size() && IsBlank(line[first])) ++first;
    if (first == line.size() || line[first] == '#') continue;
    Job job;
    std::string why;
    if (!ParseLine(line, job, why)) {
      error = "line " + std::to_string(number) + ": " + why;
      jobs.clear();
      return false;
    }
    jobs.push_back(std::move(job));
  }
  return true;
}

std::string QuoteText(const std::string& bytes) {
  std::string out = "\"";
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b <= 0x7E && c != '^' && c != '"') {
      out.push_back(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof(hex), "^%02X", b);
      out += hex;
    }
  }
  return out + "\"";
}

std::string FormatJob(const Job& job) {
  char head[48];
  std::snprintf(head, sizeof(head), "%u 0x%08X ", static_cast<unsigned>(job.kind), static_cast<unsigned>(job.tag));
  return head + QuoteText(job.param1) + " " + QuoteText(job.param2) + " " + std::to_string(job.result);
}

const char* KindName(unsigned kind) {
  static const char* const kNames[] = {
      "jkCallExport",
      "jkDeleteRegistry",
      "jkWriteRegSz",
      "jkWriteRegDword",
      "jkWriteRegBinary",
      "jkWriteRegExpandSz",
      "jkRemoveUserIntegration",
      "jkRemoveUserData",
      "no action",
      "no action",
      "jkDeleteFile",
      "jkDeleteFileAtRestart",
      "jkRemoveFolder",
      "jkRemoveSelf",
      "jkMessageBox",
      "jkShellFileOperation",
      "jkCreateUserShortcuts",
      "jkCreateFolder",
      "jkPutHelperObjectFirst",
      "jkAllowLowRightsLaunch",
      "jkReplaceFile",
      "jkSetIntegrationMethod",
      "jkWriteUserValue",
      "jkWriteIniString",
  };
  return kind < sizeof(kNames) / sizeof(kNames[0]) ? kNames[kind] : "unknown";
}

}  // namespace zv::jobs
