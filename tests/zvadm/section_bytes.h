// Writing job-list sections byte by byte in tests, independently of the
// reader and writer under test.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace zv::test::adm {

using Bytes = std::vector<uint8_t>;

// Concatenates pieces: Cat({Le32(1), Str("ab"), {0, 0}}).
inline Bytes Cat(std::initializer_list<Bytes> pieces) {
  Bytes out;
  for (const Bytes& piece : pieces) out.insert(out.end(), piece.begin(), piece.end());
  return out;
}

inline Bytes Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

inline Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A 20-byte record; `padding` is what the sender left in the three bytes.
inline Bytes Record(uint32_t tag, uint8_t kind, uint32_t offset1, uint32_t offset2, int32_t result,
                    Bytes padding = {0, 0, 0}) {
  return Cat({Le32(tag), {kind}, padding, Le32(offset1), Le32(offset2), Le32(static_cast<uint32_t>(result))});
}

// A stored text: its length and its bytes.
inline Bytes Text(const std::string& s) { return Cat({Le32(static_cast<uint32_t>(s.size())), Str(s)}); }

inline Bytes Zeros(size_t n, uint8_t fill = 0) { return Bytes(n, fill); }

}  // namespace zv::test::adm
