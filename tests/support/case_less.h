// The registry's order of names: case-insensitive, byte by byte.
#pragma once

#include <cctype>
#include <string>

namespace zv::test {

struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
      const int ca = std::tolower(static_cast<unsigned char>(a[i]));
      const int cb = std::tolower(static_cast<unsigned char>(b[i]));
      if (ca != cb) return ca < cb;
    }
    return a.size() < b.size();
  }
};

}  // namespace zv::test
