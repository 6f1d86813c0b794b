#include "native_messaging.h"

#include "web_download.h"

namespace zv::bridge {
namespace {

// Fills `buffer` completely; false when the input ends first.
bool ReadExactly(const ReadBytes& read, char* buffer, size_t size, size_t& got) {
  got = 0;
  while (got < size) {
    const size_t n = read(buffer + got, size - got);
    if (n == 0) return false;
    got += n;
  }
  return true;
}

}  // namespace

FrameStatus ReadFrame(const ReadBytes& read, std::string& payload) {
  payload.clear();
  unsigned char prefix[4];
  size_t got = 0;
  if (!ReadExactly(read, reinterpret_cast<char*>(prefix), sizeof(prefix), got))
    return got == 0 ? FrameStatus::kEnd : FrameStatus::kTruncated;
  const std::uint32_t length = static_cast<std::uint32_t>(prefix[0]) | static_cast<std::uint32_t>(prefix[1]) << 8 |
                               static_cast<std::uint32_t>(prefix[2]) << 16 |
                               static_cast<std::uint32_t>(prefix[3]) << 24;
  if (length > kMaxMessageBytes) {
    // Skipped in pieces, never held whole.
    char scrap[64 * 1024];
    std::uint32_t left = length;
    while (left > 0) {
      const size_t piece = left < sizeof(scrap) ? left : sizeof(scrap);
      if (!ReadExactly(read, scrap, piece, got)) return FrameStatus::kTruncated;
      left -= static_cast<std::uint32_t>(piece);
    }
    return FrameStatus::kTooLarge;
  }
  payload.resize(length);
  if (!ReadExactly(read, payload.data(), length, got)) {
    payload.clear();
    return FrameStatus::kTruncated;
  }
  return FrameStatus::kMessage;
}

std::string Frame(const std::string& payload) {
  const auto length = static_cast<std::uint32_t>(payload.size());
  std::string frame;
  frame.reserve(4 + payload.size());
  for (int shift = 0; shift < 32; shift += 8) frame.push_back(static_cast<char>(length >> shift & 0xFF));
  frame += payload;
  return frame;
}

void ServePort(const ReadBytes& read, const WriteBytes& write,
               const std::function<std::string(const std::string& message)>& answer) {
  std::string payload;
  for (;;) {
    std::string reply;
    switch (ReadFrame(read, payload)) {
      case FrameStatus::kEnd:
        return;
      case FrameStatus::kMessage:
        reply = answer(payload);
        break;
      case FrameStatus::kTooLarge:
        reply = FailedReply("", "message too large");
        break;
      case FrameStatus::kTruncated: {
        // The browser may still read though it sent no more.
        const std::string frame = Frame(FailedReply("", "message cut short"));
        write(frame.data(), frame.size());
        return;
      }
    }
    const std::string frame = Frame(reply);
    if (!write(frame.data(), frame.size())) return;
  }
}

}  // namespace zv::bridge
