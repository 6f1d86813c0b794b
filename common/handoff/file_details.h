// The file-details record: the command text of a module that knows more
// than the URL (the file name, type, size, date and cookie the browser
// learnt), each detail on a CR LF line of its own after the referrer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zv::handoff {

// What the browser told about the resource, in the ANSI code page.
struct FileDetails {
  std::string fileName;
  std::string referer;
  std::string mimeType;
  std::int64_t size = 0;
  std::string fileDateTime;
  std::string cookie;
};

// Standard alphabet, "=" padding, no line breaks.
std::string Base64Encode(const std::string& bytes);

// The text after "Referer=": the referrer, the present details each on a
// CR LF line of its own ("FileName=", "MIMEType=", "Size=", "FileDateTime=",
// "Cookie=" with the cookie in Base64), and "Mode=DEFAULT" when any of them
// is present.
std::string BuildFileDetailsBody(const FileDetails& details);

// "URL=" url CR LF "Referer=" body, and CR LF "PostData=" with the post data
// and one NUL byte after it when there is any.
std::string BuildFileDetailsText(const std::string& url, const std::string& body,
                                 const std::optional<std::string>& postData);

}  // namespace zv::handoff
