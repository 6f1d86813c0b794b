#include "command_text.h"

namespace zv::handoff {
namespace {

void AppendLine(std::string& text, std::string_view key, std::string_view value) {
  text.append(key);
  const size_t start = text.size();
  text.append(value);
  for (size_t i = start; i < text.size(); ++i)
    if (text[i] == '\r' || text[i] == '\n') text[i] = ' ';
}

}  // namespace

std::string SingleLineValue(std::string_view value) {
  std::string line;
  AppendLine(line, {}, value);
  return line;
}

std::string BuildCommandText(std::string_view url, const CommandLines& lines) {
  size_t size = 4 + url.size();
  if (lines.opera) size += 11;
  if (lines.comment) size += 9 + lines.comment->size();
  if (lines.referer) size += 9 + lines.referer->size();
  if (lines.postData) size += 10 + lines.postData->size();

  std::string text;
  text.reserve(size);
  AppendLine(text, "URL=", url);
  if (lines.opera) text.append("\nOpera=True");
  if (lines.comment) AppendLine(text, "\nComment=", *lines.comment);
  if (lines.referer) AppendLine(text, "\nReferer=", *lines.referer);
  if (lines.postData) {
    text.append("\nPostData=");
    text.append(*lines.postData);
  }
  return text;
}

}  // namespace zv::handoff
