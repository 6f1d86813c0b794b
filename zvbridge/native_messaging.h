// The native-messaging port: frames of a 4-byte little-endian length and
// that many bytes of UTF-8 JSON, both ways, and the loop that serves one
// port from its first message to the end of its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zv::bridge {

// Messages above this are refused: no download needs more, and the browser
// refuses replies above it.
inline constexpr std::uint32_t kMaxMessageBytes = 1024 * 1024;

// Reads up to `size` bytes; 0 only at the end of the input.
using ReadBytes = std::function<size_t(char* buffer, size_t size)>;
// Writes all bytes; false when the browser has gone.
using WriteBytes = std::function<bool(const char* data, size_t size)>;

enum class FrameStatus {
  kMessage,    // `payload` holds one message
  kEnd,        // the input ended between two frames
  kTruncated,  // the input ended inside a frame
  kTooLarge,   // the frame was skipped whole; the port stays in step
};

FrameStatus ReadFrame(const ReadBytes& read, std::string& payload);

// The length prefix and the payload.
std::string Frame(const std::string& payload);

// Answers each message of the port with one reply, until the input ends or
// the browser stops reading. A frame too large or cut short gets an error
// reply; `answer` turns a message into its reply JSON.
void ServePort(const ReadBytes& read, const WriteBytes& write,
               const std::function<std::string(const std::string& message)>& answer);

}  // namespace zv::bridge
