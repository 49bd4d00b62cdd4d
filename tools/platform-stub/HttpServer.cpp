#include "HttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace stub {

namespace {

constexpr size_t kMaxHead = 64 * 1024;
constexpr int kIdleMs = 60000;

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool ContainsToken(std::string_view value, std::string_view token) {
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find(',', start);
    if (end == std::string_view::npos) end = value.size();
    std::string_view item = value.substr(start, end - start);
    while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
    if (EqualsIgnoreCase(item, token)) return true;
    start = end + 1;
  }
  return false;
}

// Reads what is there, waiting at most kIdleMs; 0 on close, time-out or error.
ssize_t ReadSome(int fd, char* data, size_t size) {
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    const int ready = poll(&p, 1, kIdleMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return 0;
    const ssize_t n = recv(fd, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? 0 : n;
  }
}

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(size_t(n));
  }
  return true;
}

std::string Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return std::string(text);
}

// Parses the request line and headers; returns an error text, empty on success.
std::string ParseHead(std::string_view head, HttpRequest& request) {
  size_t lineEnd = head.find("\r\n");
  const std::string_view requestLine = head.substr(0, lineEnd);
  const size_t sp1 = requestLine.find(' ');
  const size_t sp2 = sp1 == std::string_view::npos ? sp1 : requestLine.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || requestLine.find(' ', sp2 + 1) != std::string_view::npos)
    return "malformed request line";
  request.method = std::string(requestLine.substr(0, sp1));
  request.target = std::string(requestLine.substr(sp1 + 1, sp2 - sp1 - 1));
  request.version = std::string(requestLine.substr(sp2 + 1));
  if (request.version != "HTTP/1.1" && request.version != "HTTP/1.0") return "unsupported version";
  if (request.target.empty() || request.target[0] != '/') return "request target is not a path";
  const size_t q = request.target.find('?');
  request.path = request.target.substr(0, q);
  if (q != std::string::npos) {
    request.hasQuery = true;
    request.query = request.target.substr(q + 1);
  }
  while (lineEnd != std::string_view::npos && lineEnd + 2 < head.size()) {
    const size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    const std::string_view line = head.substr(start, lineEnd == std::string_view::npos ? head.npos : lineEnd - start);
    if (line.empty()) break;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return "malformed header line";
    request.headers.emplace_back(std::string(line.substr(0, colon)), Trim(line.substr(colon + 1)));
  }
  return {};
}

std::string Serialize(const HttpResponse& response, bool keepAlive) {
  std::string out = "HTTP/1.1 " + std::to_string(response.status) + " " + ReasonPhrase(response.status) + "\r\n";
  out += "Content-Type: " + response.contentType + "\r\n";
  out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
  out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  for (const auto& [name, value] : response.headers) out += name + ": " + value + "\r\n";
  out += "\r\n";
  out += response.body;
  return out;
}

HttpResponse PlainError(int status, std::string text) {
  HttpResponse response;
  response.status = status;
  response.body = std::move(text);
  return response;
}

}  // namespace

const std::string* HttpRequest::Header(std::string_view name) const {
  for (const auto& header : headers)
    if (EqualsIgnoreCase(header.first, name)) return &header.second;
  return nullptr;
}

std::string ReasonPhrase(int status) {
  switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

HttpServer::~HttpServer() {
  if (listenFd_ >= 0) close(listenFd_);
}

uint16_t HttpServer::Listen(uint16_t port) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  const int on = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error("bind 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno));
  if (listen(listenFd_, 128) != 0) throw std::runtime_error(std::string("listen: ") + std::strerror(errno));
  socklen_t length = sizeof address;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

void HttpServer::Run() {
  for (;;) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno != EINTR && errno != ECONNABORTED)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // e.g. out of descriptors
      continue;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::thread([this, fd] {
      Serve(fd);
      close(fd);
    }).detach();
  }
}

void HttpServer::Serve(int fd) {
  std::string buffer;
  std::string piece(256 * 1024, '\0');
  for (;;) {
    size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (buffer.size() > kMaxHead) {
        SendAll(fd, Serialize(PlainError(431, "request head too large"), false));
        return;
      }
      const ssize_t n = ReadSome(fd, piece.data(), piece.size());
      if (n <= 0) return;  // closed, idle or a probe connection that never spoke
      buffer.append(piece.data(), size_t(n));
    }
    HttpRequest request;
    if (const std::string error = ParseHead(std::string_view(buffer).substr(0, headEnd + 2), request); !error.empty()) {
      SendAll(fd, Serialize(PlainError(400, error), false));
      return;
    }
    buffer.erase(0, headEnd + 4);

    if (const std::string* te = request.Header("Transfer-Encoding"); te && !EqualsIgnoreCase(*te, "identity")) {
      SendAll(fd, Serialize(PlainError(501, "chunked request bodies are not accepted"), false));
      return;
    }
    size_t contentLength = 0;
    if (const std::string* cl = request.Header("Content-Length")) {
      const auto [end, ec] = std::from_chars(cl->data(), cl->data() + cl->size(), contentLength);
      if (ec != std::errc() || end != cl->data() + cl->size()) {
        SendAll(fd, Serialize(PlainError(400, "bad Content-Length"), false));
        return;
      }
    } else if (request.method == "POST" || request.method == "PUT") {
      SendAll(fd, Serialize(PlainError(411, "Content-Length required"), false));
      return;
    }

    const BodyPlan plan = handler_.PlanBody(request);
    if (contentLength > plan.maxBody) {
      SendAll(fd, Serialize(PlainError(413, "body of " + std::to_string(contentLength) + " bytes exceeds " +
                                                std::to_string(plan.maxBody)), false));
      return;
    }
    if (const std::string* expect = request.Header("Expect"); expect && EqualsIgnoreCase(*expect, "100-continue"))
      if (!SendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n")) return;

    const size_t wanted = plan.dropMidBody ? contentLength / 2 : contentLength;
    while (buffer.size() < wanted) {
      const ssize_t n = ReadSome(fd, piece.data(), std::min(piece.size(), wanted - buffer.size()));
      if (n <= 0) return;
      buffer.append(piece.data(), size_t(n));
    }
    if (plan.dropMidBody) return;
    request.body = buffer.substr(0, contentLength);
    buffer.erase(0, contentLength);

    const HttpResponse response = handler_.Handle(request);
    if (response.closeWithoutReply) return;
    if (response.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(response.delayMs));
    const std::string* connection = request.Header("Connection");
    const bool keepAlive = request.version == "HTTP/1.1" ? !(connection && ContainsToken(*connection, "close"))
                                                         : (connection && ContainsToken(*connection, "keep-alive"));
    if (!SendAll(fd, Serialize(response, keepAlive)) || !keepAlive) return;
  }
}

}  // namespace stub
