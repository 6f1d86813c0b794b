// The host's frames, messages, decision and record, without a browser.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "../handoff/map_settings.h"
#include "native_messaging.h"
#include "web_download.h"

namespace {

using namespace zv::bridge;
using nlohmann::json;
using zv::test::MapSettings;

// A byte source that hands out at most `chunk` bytes per read, as a pipe may.
ReadBytes Source(const std::string& bytes, size_t chunk = 3) {
  auto at = std::make_shared<size_t>(0);
  return [bytes, chunk, at](char* buffer, size_t size) -> size_t {
    size_t n = std::min({size, chunk, bytes.size() - *at});
    std::copy_n(bytes.data() + *at, n, buffer);
    *at += n;
    return n;
  };
}

std::string Length(std::uint32_t n) {
  return std::string{static_cast<char>(n & 0xFF), static_cast<char>(n >> 8 & 0xFF), static_cast<char>(n >> 16 & 0xFF),
                     static_cast<char>(n >> 24 & 0xFF)};
}

// Everything a port answers to `input`, reply by reply.
std::vector<json> Serve(const std::string& input) {
  std::string output;
  ServePort(
      Source(input, 4096),
      [&](const char* data, size_t size) {
        output.append(data, size);
        return true;
      },
      EchoAnswer);
  std::vector<json> replies;
  std::string payload;
  const ReadBytes read = Source(output, 4096);
  while (ReadFrame(read, payload) == FrameStatus::kMessage) replies.push_back(json::parse(payload));
  return replies;
}

TEST(BridgeFrames, ReadSplitAcrossReadsAndInLittleEndianOrder) {
  const std::string body(300, 'x');  // 300 = 0x012C: both prefix bytes matter
  const ReadBytes read = Source(Frame(body) + Frame("{}"), 7);
  std::string payload;
  ASSERT_EQ(ReadFrame(read, payload), FrameStatus::kMessage);
  EXPECT_EQ(payload, body);
  ASSERT_EQ(ReadFrame(read, payload), FrameStatus::kMessage);
  EXPECT_EQ(payload, "{}");
  EXPECT_EQ(ReadFrame(read, payload), FrameStatus::kEnd);
  EXPECT_EQ(Frame("ab").substr(0, 4), Length(2));
}

TEST(BridgeFrames, ShortOrOversizedInput) {
  struct Case {
    const char* what;
    std::string input;
    FrameStatus first;
  };
  const Case cases[] = {
      {"prefix cut", std::string("\x05\x00", 2), FrameStatus::kTruncated},
      {"body cut", Length(5) + "abc", FrameStatus::kTruncated},
      {"oversized, skipped whole", Length(kMaxMessageBytes + 1) + std::string(kMaxMessageBytes + 1, 'a'),
       FrameStatus::kTooLarge},
      {"oversized and cut", Length(0xFFFFFFFF) + "abc", FrameStatus::kTruncated},
      {"exactly the limit", Length(kMaxMessageBytes) + std::string(kMaxMessageBytes, 'a'), FrameStatus::kMessage},
  };
  for (const Case& c : cases) {
    std::string payload;
    const ReadBytes read = Source(c.input, 1 << 16);
    EXPECT_EQ(ReadFrame(read, payload), c.first) << c.what;
    if (c.first != FrameStatus::kTruncated) {
      EXPECT_EQ(ReadFrame(read, payload), FrameStatus::kEnd) << c.what;
    }
  }
}

TEST(BridgePort, AnswersEveryMessageAndStaysInStepAfterAnError) {
  const std::string input = Frame(R"({"id":1,"url":"http://h/a.zip"})") + Length(kMaxMessageBytes + 10) +
                            std::string(kMaxMessageBytes + 10, ' ') + Frame("not json") +
                            Frame(R"({"id":"b","url":"http://h/b.zip"})") + Length(50) +
                            "{";  // cut short: answered, then the port ends
  const std::vector<json> replies = Serve(input);
  ASSERT_EQ(replies.size(), 5u);
  EXPECT_EQ(replies[0], json({{"id", 1}, {"result", "taken"}}));
  EXPECT_EQ(replies[1], json({{"result", "failed"}, {"reason", "message too large"}}));
  EXPECT_EQ(replies[2], json({{"result", "failed"}, {"reason", "not a JSON object"}}));
  EXPECT_EQ(replies[3], json({{"id", "b"}, {"result", "taken"}}));
  EXPECT_EQ(replies[4], json({{"result", "failed"}, {"reason", "message cut short"}}));
}

TEST(BridgePort, StopsWhenTheBrowserStopsReading) {
  int answered = 0;
  ServePort(
      Source(Frame("{}") + Frame("{}"), 4096), [](const char*, size_t) { return false; },
      [&](const std::string&) {
        ++answered;
        return std::string("{}");
      });
  EXPECT_EQ(answered, 1);
}

TEST(BridgeMessages, DecodeFieldsAndRefuseWrongTypes) {
  const DecodedMessage full = DecodeMessage(
      R"({"type":"download","id":7,"url":"https://h/f.zip","referrer":"https://h/","filename":"/home/u/Downloads/f\u00e9.zip",
          "mime":"application/zip","size":1234,"method":"POST","postData":"a=1","cookie":"s=1; t=2","forced":true})");
  ASSERT_TRUE(full.download);
  EXPECT_EQ(full.idJson, "7");
  EXPECT_EQ(full.download->url, "https://h/f.zip");
  EXPECT_EQ(full.download->fileName, "/home/u/Downloads/f\xC3\xA9.zip");
  EXPECT_EQ(full.download->size, 1234);
  EXPECT_EQ(full.download->postData, std::optional<std::string>("a=1"));
  EXPECT_TRUE(full.download->forced);

  struct Case {
    const char* json;
    const char* error;  // empty: decodes
    std::int64_t size;
  };
  const Case cases[] = {
      {R"({"url":"http://h/a","size":-1})", "", 0},
      {R"({"url":"http://h/a","size":1.5})", "", 0},
      {R"({"url":"http://h/a","size":null,"referrer":null})", "", 0},
      {R"({"url":"http://h/a","size":"12"})", "size is not a number", 0},
      {R"({"url":"http://h/a","forced":"yes"})", "forced is not true or false", 0},
      {R"({"url":"http://h/a","filename":5})", "a field is not text", 0},
      {R"({"url":""})", "no url", 0},
      {R"({"referrer":"x"})", "no url", 0},
      {R"({"type":"ping","url":"http://h/a"})", "unknown message type", 0},
      {R"([1,2])", "not a JSON object", 0},
      {"{\"url\":\"http://h/\xFF\"}", "not a JSON object", 0},  // not UTF-8
  };
  for (const Case& c : cases) {
    const DecodedMessage decoded = DecodeMessage(c.json);
    EXPECT_EQ(decoded.error, c.error) << c.json;
    EXPECT_EQ(decoded.download.has_value(), *c.error == '\0') << c.json;
    if (decoded.download) {
      EXPECT_EQ(decoded.download->size, c.size) << c.json;
    }
  }
}

TEST(BridgeMessages, RepliesEchoOnlyASmallId) {
  EXPECT_EQ(json::parse(TakenReply(DecodeMessage(R"({"id":"abc","url":"x"})").idJson)),
            json({{"id", "abc"}, {"result", "taken"}}));
  const std::string longId = "{\"id\":\"" + std::string(100000, 'i') + "\",\"url\":\"x\"}";
  EXPECT_EQ(DecodeMessage(longId).idJson, "");
  EXPECT_EQ(json::parse(DeclinedReply("3", "AcceptingTypes")),
            json({{"id", 3}, {"result", "declined"}, {"rule", "AcceptingTypes"}}));
  EXPECT_EQ(json::parse(PendingReply("4")), json({{"id", 4}, {"result", "pending"}}));
  EXPECT_EQ(DecodeMessage(R"({"url":"x","deadline":1796940917949})").deadlineMs,
            std::optional<std::int64_t>(1796940917949));
  EXPECT_EQ(DecodeMessage(R"({"url":"x","deadline":"soon"})").deadlineMs, std::nullopt);
}

// Only "taken" makes the extension give the download up. A send the system
// refused (which Wine never does) is a failure with its own reason, even
// though nothing answered it.
TEST(BridgeMessages, TheReplyToEachEndOfAHandOff) {
  struct Case {
    const char* what;
    BridgeStatus status;
    bool taken;
    json reply;
  };
  const Case cases[] = {
      {"taken", BridgeStatus::kSent, true, {{"id", 8}, {"result", "taken"}}},
      {"answered 0", BridgeStatus::kSent, false, {{"id", 8}, {"result", "declined"}, {"rule", "download manager"}}},
      {"refused",
       BridgeStatus::kRefused,
       false,
       {{"id", 8}, {"result", "failed"}, {"reason", "the download manager's window refused the message"}}},
      {"lock held elsewhere",
       BridgeStatus::kLockNotObtained,
       false,
       {{"id", 8}, {"result", "failed"}, {"reason", "another hand-off did not end"}}},
  };
  for (const Case& c : cases) EXPECT_EQ(json::parse(HandoffReply("8", c.status, c.taken)), c.reply) << c.what;
}

TEST(BridgeDecision, SettingsAndForcedDownloads) {
  struct Case {
    const char* what;
    std::map<std::string, std::string> settings;
    WebDownload download;
    std::optional<std::string> rule;
  };
  const std::map<std::string, std::string> zipOnly{{"AcceptingTypes", "ZIP,EXE"}};
  WebDownload zip{"http://h/get?id=1", "", "C:\\Users\\u\\Downloads\\setup.zip"};
  WebDownload html{"http://h/page.html", "", "page.html"};
  WebDownload nameless{"http://h/files/tool.exe"};
  WebDownload typeless{"http://h/files/tool.exe", "", "README"};
  WebDownload forcedHtml = html;
  forcedHtml.forced = true;
  WebDownload ftp{"ftp://h/a.zip", "", "a.zip"};
  WebDownload fileHost{"http://www.filedepot.net/a.zip", "", "a.zip"};
  const Case cases[] = {
      {"name's type accepted though the URL has none", zipOnly, zip, std::nullopt},
      {"type not accepted", zipOnly, html, "AcceptingTypes"},
      {"URL's type when the browser gave no name", zipOnly, nameless, std::nullopt},
      {"a name without a type", zipOnly, typeless, "no extension"},
      {"no accept list", {}, zip, "AcceptingTypes"},
      {"ignore list", {{"AcceptFileTypes", "FALSE"}, {"IgnoringTypes", "HTML"}}, html, "IgnoringTypes"},
      {"ignore list passes others", {{"AcceptFileTypes", "FALSE"}, {"IgnoringTypes", "HTML"}}, zip, std::nullopt},
      {"forced skips the type lists", zipOnly, forcedHtml, std::nullopt},
      {"own switch off", {{"AcceptingTypes", "ZIP"}, {"WebUrlCatch", "FALSE"}}, zip, "WebUrlCatch"},
      {"own switch off, forced too", {{"WebUrlCatch", "FALSE"}}, forcedHtml, "WebUrlCatch"},
      {"own switch TRUE", {{"AcceptingTypes", "ZIP"}, {"WebUrlCatch", "TRUE"}}, zip, std::nullopt},
      {"integration off",
       {{"AcceptingTypes", "ZIP"}, {"IntegrationTemporaryOff", "FALSE"}},
       zip,
       "IntegrationTemporaryOff"},
      {"integration off, forced", {{"IntegrationTemporaryOff", "FALSE"}}, forcedHtml, std::nullopt},
      {"not http", zipOnly, ftp, "scheme"},
      {"file host", zipOnly, fileHost, "file host"},
  };
  for (const Case& c : cases) {
    MapSettings settings(c.settings);
    EXPECT_EQ(DecliningRule(c.download, settings), c.rule) << c.what;
  }
}

// The keys held when the message arrived, and a form's download whose body
// the extension did not see.
TEST(BridgeDecision, ModifierKeysAndPostsWithoutTheirData) {
  using zv::handoff::ModifierKeys;
  struct Case {
    const char* what;
    std::map<std::string, std::string> settings;
    WebDownload download;
    ModifierKeys keys;
    std::optional<std::string> rule;
  };
  const std::map<std::string, std::string> zipOnly{{"AcceptingTypes", "ZIP"}};
  WebDownload zip{"http://h/a.zip", "", "a.zip"};
  WebDownload html{"http://h/page.html", "", "page.html"};
  WebDownload forcedZip = zip;
  forcedZip.forced = true;
  WebDownload postUnknown = zip;
  postUnknown.method = "POST";
  WebDownload postKnown = postUnknown;
  postKnown.postData = "";
  WebDownload get = zip;
  get.method = "GET";
  const Case cases[] = {
      {"Shift leaves it to the browser", zipOnly, zip, {true, false, false}, "Shift"},
      {"Shift beats the context menu", zipOnly, forcedZip, {true, false, false}, "Shift"},
      {"Ctrl+Alt forces past the type lists", zipOnly, html, {false, true, true}, std::nullopt},
      {"Ctrl+Alt passes integration off",
       {{"IntegrationTemporaryOff", "FALSE"}},
       html,
       {false, true, true},
       std::nullopt},
      {"Ctrl alone does not", zipOnly, html, {false, true, false}, "AcceptingTypes"},
      {"Ctrl+Alt with the own switch off", {{"WebUrlCatch", "FALSE"}}, html, {false, true, true}, "WebUrlCatch"},
      {"a POST without its data", zipOnly, postUnknown, {}, "post data unknown"},
      {"a POST without its data, forced",
       zipOnly,
       [&] {
         auto d = postUnknown;
         d.forced = true;
         return d;
       }(),
       {},
       "post data unknown"},
      {"a POST with an empty body", zipOnly, postKnown, {}, std::nullopt},
      {"a GET", zipOnly, get, {}, std::nullopt},
  };
  for (const Case& c : cases) {
    MapSettings settings(c.settings);
    EXPECT_EQ(DecliningRule(c.download, settings, c.keys), c.rule) << c.what;
  }
}

TEST(BridgeRecord, CarriesTheFileDetailsOnOneLineEach) {
  WebDownload d;
  d.url = "http://h/get?id=1";
  d.referrer = "http://h/page.html";
  d.fileName = "/tmp/dl/setup.zip";
  d.mimeType = "application/zip";
  d.size = 1234;
  d.cookie = "session=abc";
  EXPECT_EQ(RecordText(d),
            "URL=http://h/get?id=1\r\nReferer=http://h/page.html\r\nFileName=setup.zip\r\n"
            "MIMEType=application/zip\r\nSize=1234\r\nCookie=c2Vzc2lvbj1hYmM=\r\nMode=DEFAULT");

  WebDownload forged;
  forged.url = "http://h/a.zip";
  forged.fileName = "a.zip\r\nURL=http://evil/x.exe";
  forged.mimeType = std::string("text\0x", 6);
  const std::string text = RecordText(forged);
  EXPECT_EQ(text.find("\nURL="), std::string::npos);
  EXPECT_EQ(text.find('\0'), std::string::npos);

  WebDownload post;
  post.url = "http://h/a.zip";
  post.postData = "a=1";
  EXPECT_EQ(RecordText(post), std::string("URL=http://h/a.zip\r\nReferer=\r\nPostData=a=1") + '\0');
}

}  // namespace
