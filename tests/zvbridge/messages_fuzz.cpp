// The port's frame reader and message decoding over arbitrary input: no
// crash, one reply per complete frame, every reply a frame under the limit.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

#include "native_messaging.h"
#include "web_download.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  using namespace zv::bridge;
  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t at = 0;
  const ReadBytes read = [&](char* buffer, size_t want) -> size_t {
    const size_t n = std::min(want, input.size() - at);
    std::memcpy(buffer, input.data() + at, n);
    at += n;
    return n;
  };
  std::string output;
  const WriteBytes write = [&](const char* bytes, size_t n) {
    output.append(bytes, n);
    return true;
  };
  ServePort(read, write, [](const std::string& message) {
    const DecodedMessage decoded = DecodeMessage(message);
    if (decoded.download) (void)RecordText(*decoded.download);
    return EchoAnswer(message);
  });
  size_t offset = 0;
  while (offset < output.size()) {
    if (output.size() - offset < 4) std::abort();
    std::uint32_t length = 0;
    std::memcpy(&length, output.data() + offset, 4);
    if (length >= kMaxMessageBytes || output.size() - offset - 4 < length) std::abort();
    const auto reply = nlohmann::json::parse(output.substr(offset + 4, length), nullptr, false);
    if (reply.is_discarded() || !reply.contains("result")) std::abort();
    offset += 4 + length;
  }
  return 0;
}
