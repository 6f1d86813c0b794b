#include "loopback_http.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace zv::test {
namespace {

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// False when the client closed the connection first.
bool SendAll(SOCKET s, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const int n = send(s, data.data() + sent, static_cast<int>(data.size() - sent), 0);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// Sends `data` without blocking for long, so that a client that stops
// reading without closing cannot hold a stopping server; `sent` counts what
// the socket took. False when the client closed the connection or the
// server stops.
bool SendWhileRunning(SOCKET s, const std::string& data, const std::atomic<bool>& stopping, size_t& sent) {
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  size_t done = 0;
  while (done < data.size()) {
    const int n = send(s, data.data() + done, static_cast<int>(data.size() - done), 0);
    if (n > 0) {
      done += static_cast<size_t>(n);
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK || stopping) return false;
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    timeval wake{0, 200 * 1000};
    select(0, nullptr, &writable, nullptr, &wake);
  }
  return true;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

}  // namespace

std::optional<std::string> HttpRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers)
    if (SameText(key, name)) return value;
  return std::nullopt;
}

LoopbackHttpServer::LoopbackHttpServer() {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  listen(listener_, 16);
  int size = sizeof(address);
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { AcceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  stopping_ = true;
  closesocket(listener_);  // wakes the accept
  if (thread_.joinable()) thread_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (SOCKET client : clients_) shutdown(client, SD_BOTH);  // wakes the handlers
  }
  for (std::thread& handler : handlers_) handler.join();
  for (SOCKET client : clients_) closesocket(client);
  WSACleanup();
}

void LoopbackHttpServer::Serve(const std::string& target, HttpResponse response) {
  std::lock_guard<std::mutex> lock(mutex_);
  responses_[target] = std::move(response);
}

std::string LoopbackHttpServer::Url(const std::string& target) const {
  return "http://127.0.0.1:" + std::to_string(port_) + target;
}

std::optional<size_t> LoopbackHttpServer::BodyBytesSent(const std::string& target) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = bodyBytesSent_.find(target);
  if (it == bodyBytesSent_.end()) return std::nullopt;
  return it->second;
}

std::vector<HttpRequest> LoopbackHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void LoopbackHttpServer::AcceptLoop() {
  while (!stopping_) {
    SOCKET client = accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) {
      if (stopping_) return;
      Sleep(10);
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    clients_.push_back(client);
    handlers_.emplace_back([this, client] {
      Handle(client);
      shutdown(client, SD_BOTH);
    });
  }
}

void LoopbackHttpServer::Handle(SOCKET client) {
  std::string buffer;
  char chunk[4096];
  // Reads wake up now and then so that a stopping server is not held up.
  DWORD timeoutMs = 200;
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof(timeoutMs));
  auto receive = [&]() -> int {
    for (;;) {
      const int n = recv(client, chunk, sizeof(chunk), 0);
      if (n >= 0 || WSAGetLastError() != WSAETIMEDOUT || stopping_) return n;
    }
  };
  for (;;) {
    size_t headerEnd;
    while ((headerEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
      const int n = receive();
      if (n <= 0) return;
      buffer.append(chunk, static_cast<size_t>(n));
    }
    HttpRequest request;
    const std::string head = buffer.substr(0, headerEnd);
    size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const size_t sp1 = requestLine.find(' ');
    const size_t sp2 = requestLine.find(' ', sp1 + 1);
    request.method = requestLine.substr(0, sp1);
    request.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
      size_t next = head.find("\r\n", pos);
      if (next == std::string::npos) next = head.size();
      const std::string line = head.substr(pos, next - pos);
      const size_t colon = line.find(':');
      if (colon != std::string::npos)
        request.headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
      pos = next + 2;
    }
    size_t length = 0;
    if (const auto cl = request.Header("Content-Length")) length = std::strtoul(cl->c_str(), nullptr, 10);
    buffer.erase(0, headerEnd + 4);
    while (buffer.size() < length) {
      const int n = receive();
      if (n <= 0) return;
      buffer.append(chunk, static_cast<size_t>(n));
    }
    request.body = buffer.substr(0, length);
    buffer.erase(0, length);

    HttpResponse response;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
      const auto it = responses_.find(request.target);
      if (it != responses_.end()) {
        response = it->second;
      } else {
        response.status = 404;
        response.reason = "Not Found";
        response.body = "not found";
      }
    }
    if (response.delayMs) Sleep(response.delayMs);
    std::string out = "HTTP/1.1 " + std::to_string(response.status) + " " + response.reason + "\r\n";
    for (const auto& [key, value] : response.headers) out += key + ": " + value + "\r\n";
    if (response.contentLength) out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    // One request per connection: a client's idle pooled connection would
    // otherwise keep a handler (and the test's end) waiting.
    out += "Connection: close\r\n\r\n";
    size_t sent = 0;
    if (request.method == "HEAD") {
      SendAll(client, out);
    } else if (!response.pieceBytes) {
      SendAll(client, out + response.body);
      sent = response.body.size();
    } else if (SendAll(client, out)) {
      while (sent < response.body.size() && !stopping_) {
        const size_t piece = std::min(response.pieceBytes, response.body.size() - sent);
        if (!SendWhileRunning(client, response.body.substr(sent, piece), stopping_, sent)) break;
        Sleep(1);
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    bodyBytesSent_[request.target] = sent;
    return;
  }
}

}  // namespace zv::test
