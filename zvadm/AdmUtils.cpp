#include "AdmUtils.h"

namespace zv::adm {
namespace {

struct NamedRoot {
  const char* name;
  int32_t root;
};

constexpr NamedRoot kNamedRoots[] = {
    {"HKCU", kHkeyCurrentUser}, {"HKLM", kHkeyLocalMachine},  {"HKCR", kHkeyClassesRoot},
    {"HKUS", kHkeyUsers},       {"HKCC", kHkeyCurrentConfig},
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseRootNumber(const std::string& text, int32_t& value) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  bool hex = false;
  if (i < text.size() && text[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == text.size()) return false;
  // Accumulated in 64 bits; stops as soon as it leaves the range.
  const uint64_t limit = hex ? UINT32_MAX : (negative ? 2147483648u : 2147483647u);
  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int digit = hex ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (digit < 0) return false;
    magnitude = magnitude * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (magnitude > limit) return false;
  }
  const uint32_t pattern = static_cast<uint32_t>(magnitude);
  value = static_cast<int32_t>(negative ? 0u - pattern : pattern);
  return true;
}

TRegistryPath ParseRegistryPath(const std::string& text) {
  TRegistryPath path;
  const size_t first = text.find('\\');
  if (first == std::string::npos) return path;
  const size_t last = text.rfind('\\');
  const std::string rootName = text.substr(0, first);
  path.subkey = first == last ? std::string() : text.substr(first + 1, last - first - 1);
  path.valueName = text.substr(last + 1);

  if (rootName == "HKEU") {
    path.usable = path.emulated = true;
    return path;
  }
  for (const NamedRoot& named : kNamedRoots) {
    if (rootName == named.name) {
      path.root = named.root;
      path.usable = true;
      return path;
    }
  }
  int32_t number = 0;
  if (ParseRootNumber(rootName, number) && number != 0) {
    path.root = number;
    path.usable = true;
  }
  return path;
}

}  // namespace zv::adm
