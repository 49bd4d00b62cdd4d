#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A small HTTP/1.1 server on loopback: one thread per connection, kept-alive connections
// without a request limit, bounded heads and bodies.
namespace stub {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::string method;
  std::string target;  // as sent: path and query
  std::string path;
  std::string query;   // text after "?", without it
  bool hasQuery = false;
  std::string version;
  HeaderList headers;
  std::string body;

  // Case-insensitive header lookup; nullptr when absent.
  const std::string* Header(std::string_view name) const;
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  HeaderList headers;
  std::string body;
  int delayMs = 0;                // hold the reply back this long
  bool closeWithoutReply = false;  // drop the connection instead of answering
};

// What to do with a request body, decided once the head is known.
struct BodyPlan {
  size_t maxBody = 1 << 20;
  bool dropMidBody = false;  // read half of it, then close the connection
};

class HttpHandler {
 public:
  virtual ~HttpHandler() = default;
  virtual BodyPlan PlanBody(const HttpRequest& head) = 0;
  virtual HttpResponse Handle(const HttpRequest& request) = 0;
};

class HttpServer {
 public:
  explicit HttpServer(HttpHandler& handler) : handler_(handler) {}
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds 127.0.0.1:port (0 = a free port) and returns the bound port; throws on failure.
  uint16_t Listen(uint16_t port);
  // Accepts connections for ever, each on its own thread.
  [[noreturn]] void Run();

 private:
  void Serve(int fd);

  HttpHandler& handler_;
  int listenFd_ = -1;
};

std::string ReasonPhrase(int status);

}  // namespace stub
