// The decisions and texts of the download-manager component that need no
// Windows API: the modifier-key combination walk, the file name from the
// response headers and the cache file, and the command text.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "Utils.h"

namespace zv::watch {

// Setting names of the two key combinations.
inline constexpr char kKeysToAdd[] = "KeysToAdd";
inline constexpr char kKeysToIgnore[] = "KeysToIgnore";

using KeyboardState = std::array<std::uint8_t, 256>;

// The virtual-key codes of a combination setting as decoded from Base64,
// or the default when there are none: Alt, Ctrl to add; Shift to ignore.
std::string ComboCodesOrDefault(const std::string& settingName, const std::string& decodedCodes);

// Whether exactly the keys `codes` are down in `state`: each listed key is
// down (walking from the last code to the first, each code clearing its
// family of generic and side-specific codes) and no other key or mouse
// button is.
bool IsComboHeldInState(KeyboardState state, const std::string& codes);

// The file name of a Content-Disposition header: the value of its filename
// parameter (name compared ignoring case, value with its quotes) after its
// last ":", "\" or "/", also one that %-decoding reveals; empty when it has
// none.
AnsiString FileNameFromContentDisposition(const AnsiString& header);

// The file name once the cache file is known: `fileName` when the headers
// gave one, otherwise the cache file's name without its bracketed counter;
// then the part after the last separator, %-decoded and converted from
// UTF-8 unless that yields a "?", without enclosing quotes.
AnsiString FileNameWithCacheFile(const AnsiString& fileName, const AnsiString& cacheFilePath);

// A Content-Length value: signed 64-bit decimal digits, 0 for anything else.
std::int64_t ContentLengthValue(const AnsiString& text);

// What the binding told about the resource, and its record: one builder
// shared with the native-messaging host.
using TFileDetails = zv::handoff::FileDetails;

inline AnsiString BuildCommandBody(const TFileDetails& details) { return zv::handoff::BuildFileDetailsBody(details); }

inline AnsiString BuildCommandText(const AnsiString& url, const AnsiString& body,
                                   const std::optional<std::string>& postData) {
  return zv::handoff::BuildFileDetailsText(url, body, postData);
}

}  // namespace zv::watch
