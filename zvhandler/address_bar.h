// The referrer of a request: the text of the address bar of the foreground
// Internet Explorer window.
#pragma once

#include <optional>
#include <string>

namespace zv::handler {

// Absent when the foreground window is no browser frame or shows no
// address bar. Read anew for every request.
std::optional<std::string> ReadAddressBarText();

}  // namespace zv::handler
