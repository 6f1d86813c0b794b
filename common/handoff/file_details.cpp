#include "file_details.h"

namespace zv::handoff {
namespace {
constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}  // namespace

std::string Base64Encode(const std::string& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
    if (n > 1) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (n > 2) group |= static_cast<unsigned char>(bytes[i + 2]);
    out.push_back(kBase64Alphabet[(group >> 18) & 63]);
    out.push_back(kBase64Alphabet[(group >> 12) & 63]);
    out.push_back(n > 1 ? kBase64Alphabet[(group >> 6) & 63] : '=');
    out.push_back(n > 2 ? kBase64Alphabet[group & 63] : '=');
  }
  return out;
}

std::string BuildFileDetailsBody(const FileDetails& details) {
  std::string body = details.referer;
  if (!details.fileName.empty()) body += "\r\nFileName=" + details.fileName;
  if (!details.mimeType.empty()) body += "\r\nMIMEType=" + details.mimeType;
  if (details.size != 0) body += "\r\nSize=" + std::to_string(details.size);
  if (!details.fileDateTime.empty()) body += "\r\nFileDateTime=" + details.fileDateTime;
  if (!details.cookie.empty()) body += "\r\nCookie=" + Base64Encode(details.cookie);
  if (!body.empty()) body += "\r\nMode=DEFAULT";
  return body;
}

std::string BuildFileDetailsText(const std::string& url, const std::string& body,
                                 const std::optional<std::string>& postData) {
  std::string text = "URL=" + url + "\r\nReferer=" + body;
  if (postData) {
    text += "\r\nPostData=";
    text += *postData;
    text.push_back('\0');
  }
  return text;
}

}  // namespace zv::handoff
