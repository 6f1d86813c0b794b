// A small HTTP/1.1 server on 127.0.0.1 for tests that bind real URLs
// through Wine's urlmon. It answers each request from a table of canned
// responses and records what it received.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zv::test {

struct HttpResponse {
  int status = 200;
  std::string reason = "OK";
  std::vector<std::pair<std::string, std::string>> headers;  // sent as given, in order
  std::string body;
  bool contentLength = true;  // add a Content-Length header for the body
  unsigned delayMs = 0;       // wait before answering
  // Sends the body in pieces of this size, one per millisecond, so that a
  // client that closes early is seen doing so (0: all at once).
  size_t pieceBytes = 0;
};

struct HttpRequest {
  std::string method;
  std::string target;  // path and query as sent
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // The first header of that name (case-insensitive), if any.
  std::optional<std::string> Header(const std::string& name) const;
};

class LoopbackHttpServer {
 public:
  LoopbackHttpServer();  // listens on an ephemeral port at once
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  // Answers requests for `target` (path and query, exact) with `response`;
  // anything else gets 404.
  void Serve(const std::string& target, HttpResponse response);
  std::string Url(const std::string& target) const;
  unsigned short port() const { return port_; }
  std::vector<HttpRequest> Requests() const;
  // How many body bytes of `target`'s last answer went out before the
  // client closed the connection or the body ended; absent until then.
  std::optional<size_t> BodyBytesSent(const std::string& target) const;

 private:
  void AcceptLoop();
  void Handle(SOCKET client);

  SOCKET listener_ = INVALID_SOCKET;
  unsigned short port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::map<std::string, HttpResponse> responses_;
  std::vector<HttpRequest> requests_;
  std::map<std::string, size_t> bodyBytesSent_;
  std::vector<SOCKET> clients_;        // open connections, closed on destruction
  std::vector<std::thread> handlers_;  // one per connection (clients keep them alive)
  std::thread thread_;
};

}  // namespace zv::test
