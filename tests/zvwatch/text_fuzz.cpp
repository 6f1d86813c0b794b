// Arbitrary bytes through the decoders that see server-chosen text (the
// Content-Disposition header, the cache file's name) and the settings'
// Base64, checking the properties the command text relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "DMRules.h"
#include "Utils.h"

using namespace zv::watch;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  // Base64 of any bytes decodes back; any text decodes to 3 bytes per 4
  // characters less the padding, or to nothing.
  Check(Base64Decode(Base64Encode(input)) == input);
  const std::string decoded = Base64Decode(input);
  Check(decoded.empty() || decoded.size() + 2 >= input.size() / 4 * 3);

  const std::string name = UrlDecodeName(input);
  Check(name.size() <= input.size());
  Check(name.find('\r') == std::string::npos && name.find('\n') == std::string::npos);
  Check(name.empty() ||
        (static_cast<unsigned char>(name.front()) > 32 && static_cast<unsigned char>(name.back()) > 32));

  if (IsNonAsciiUtf8(input)) Check(!ConvertUtf8ToAnsi(input).empty());

  // A parameter value never spans parameters or lines.
  Check(FileNameFromContentDisposition(input).find_first_of(";\r\n") == std::string::npos);
  // Decoding, conversion and unquoting only ever shorten a name.
  Check(FileNameWithCacheFile("", input).size() <= input.size());
  if (!input.empty()) Check(FileNameWithCacheFile(input, "C:\\cache\\x[1].bin").size() <= input.size());

  KeyboardState state{};
  for (std::size_t i = 0; i < size && i < state.size(); ++i) state[i] = data[i];
  IsComboHeldInState(state, input);
  // An empty combination is held exactly when nothing is down.
  bool anyDown = false;
  for (std::uint8_t byte : state) anyDown = anyDown || (byte & 0x80) != 0;
  Check(IsComboHeldInState(state, "") == !anyDown);
  return 0;
}
