// platform-stub: a stand-in of the school platform's HTTP interface on loopback.

#include "HttpServer.h"
#include "Platform.h"

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

namespace {

const char* kHelp = R"(Usage: platform-stub [options]

A stand-in of the school platform on 127.0.0.1, for tests, benchmarks and for running the
program without a platform. The first line on standard output is
    listening on 127.0.0.1:PORT
and nothing else is written there.

Endpoints: POST /j_spring_security_check, POST /app/user/saveAvatar.do, GET /photo/NAME,
GET /webservice/userSystem.action, GET /webservice/categoryAndGradeJson.html,
GET /webservice/addVideo.action, POST /servlet/SingleUpload, GET /redirect?to=/PATH,
GET /_stub/requests (every request seen, as JSON).

Account: user "demo", password "demo" (name "演示老师", avatar /photo/demo.png).

Options:
  --port N                  port to bind (default 0: a free port)
  --folder DIR              where uploads and avatars are stored (default: a new folder
                            under /tmp); uploads in DIR/uploads, avatars in DIR/photo
  --account USER:PASSWORD   another account (repeatable)
  --login-redirect          answer the sign-in with a 302 and a JSESSIONID cookie; the
                            reply then comes from GET /app/login/result.do with that cookie
  --watch-stdin             exit when standard input closes (tests keep a pipe open)
  --lifetime SECONDS        exit after this long
  --verbose                 one line per request on standard error
Faults:
  --drop-chunk N            cut the connection half-way through the body of the N-th
                            upload request (1-based, counting every upload request)
  --slow-chunk N            answer the N-th upload request only after --slow-ms
  --slow PATH               answer every request to PATH only after --slow-ms
  --slow-ms MS              delay of the slow answers (default 15000)
  --drop-first PATH=N       close the first N requests to PATH without any reply
  --malformed-json PATH     cut the JSON reply of PATH in half
  --reply PATH=TEXT         answer an accepted request to PATH with TEXT instead
  --reply-status PATH=CODE  answer an accepted request to PATH with this HTTP status
  --refuse-registration C   answer a valid registration with the line "ErrorCode=C"
Every request is still checked strictly first; a request that breaks the platform's
rules gets HTTP 400 (or 404/405/411/413/431/501) with the reason as text.
)";

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "platform-stub: " << message << "\n(see --help)\n";
  std::exit(2);
}

int ToInt(const std::string& text, const std::string& option) {
  try {
    size_t used = 0;
    const int value = std::stoi(text, &used);
    if (used == text.size() && value >= 0) return value;
  } catch (const std::exception&) {
  }
  Fail(option + " expects a non-negative number, got \"" + text + "\"");
}

std::pair<std::string, std::string> SplitPair(const std::string& text, char separator, const std::string& option) {
  const size_t at = text.find(separator);
  if (at == std::string::npos || at == 0) Fail(option + " expects A" + separator + "B, got \"" + text + "\"");
  return {text.substr(0, at), text.substr(at + 1)};
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  stub::StubOptions options;
  options.accounts["demo"] = {"demo", "演示老师", "demo.png"};
  int port = 0;
  bool watchStdin = false;
  int lifetime = 0;

  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Fail(option + " needs a value");
      return argv[++i];
    };
    if (option == "--help" || option == "-h") {
      std::cout << kHelp;
      return 0;
    } else if (option == "--port") {
      port = ToInt(value(), option);
      if (port > 65535) Fail("--port out of range");
    } else if (option == "--folder") {
      options.folder = value();
    } else if (option == "--account") {
      const auto [user, password] = SplitPair(value(), ':', option);
      options.accounts[user] = {password, user, ""};
    } else if (option == "--login-redirect") {
      options.loginRedirect = true;
    } else if (option == "--watch-stdin") {
      watchStdin = true;
    } else if (option == "--lifetime") {
      lifetime = ToInt(value(), option);
    } else if (option == "--verbose") {
      options.verbose = true;
    } else if (option == "--drop-chunk") {
      options.dropChunks.insert(ToInt(value(), option));
    } else if (option == "--slow-chunk") {
      options.slowChunks.insert(ToInt(value(), option));
    } else if (option == "--slow") {
      options.slowPaths.insert(value());
    } else if (option == "--slow-ms") {
      options.slowMs = ToInt(value(), option);
    } else if (option == "--drop-first") {
      const auto [path, count] = SplitPair(value(), '=', option);
      options.dropFirstRequests[path] = ToInt(count, option);
    } else if (option == "--malformed-json") {
      options.malformedJsonPaths.insert(value());
    } else if (option == "--reply") {
      const auto [path, text] = SplitPair(value(), '=', option);
      options.replyBodies[path] = text;
    } else if (option == "--reply-status") {
      const auto [path, code] = SplitPair(value(), '=', option);
      options.replyStatuses[path] = ToInt(code, option);
    } else if (option == "--refuse-registration") {
      options.refuseRegistrationCode = value();
    } else {
      Fail("unknown option " + option);
    }
  }

  try {
    if (options.folder.empty()) {
      std::string pattern = "/tmp/platform-stub-XXXXXX";
      if (!mkdtemp(pattern.data())) Fail("cannot create a folder under /tmp");
      options.folder = pattern;
    }
    stub::Platform platform(options);
    stub::HttpServer server(platform);
    const uint16_t bound = server.Listen(uint16_t(port));
    platform.Prepare(bound);
    std::cout << "listening on 127.0.0.1:" << bound << std::endl;
    if (watchStdin)
      std::thread([] {
        char byte;
        while (read(STDIN_FILENO, &byte, 1) > 0) {
        }
        std::_Exit(0);
      }).detach();
    if (lifetime > 0)
      std::thread([lifetime] {
        std::this_thread::sleep_for(std::chrono::seconds(lifetime));
        std::_Exit(0);
      }).detach();
    server.Run();
  } catch (const std::exception& error) {
    Fail(error.what());
  }
}
