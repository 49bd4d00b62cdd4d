#include "PlatformStubProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace {

constexpr int kStartTimeoutMs = 20000;

std::string ReadFirstLine(int fd) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw std::runtime_error("platform-stub did not report its port in time");
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, int(left.count())) <= 0) continue;
    char c;
    const ssize_t n = read(fd, &c, 1);
    if (n <= 0) throw std::runtime_error("platform-stub exited before reporting its port");
    if (c == '\n') return line;
    line += c;
  }
}

}  // namespace

std::string PlatformStubProcess::Executable() { return PLATFORM_STUB_EXECUTABLE; }

PlatformStubProcess::PlatformStubProcess(std::vector<std::string> extraArguments, std::string folder)
    : folder_(std::move(folder)) {
  if (folder_.empty()) {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/stub-files-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a folder for platform-stub");
    folder_ = pattern;
    ownsFolder_ = true;
  }
  std::vector<std::string> arguments{Executable(), "--port", "0", "--folder", folder_, "--watch-stdin"};
  arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int out[2], in[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  stdinFd_ = in[1];
  if (spawned != 0) {
    close(out[0]);
    close(stdinFd_);
    throw std::runtime_error("cannot start " + Executable() + ": " + std::strerror(spawned));
  }
  try {
    const std::string line = ReadFirstLine(out[0]);
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.rfind(prefix, 0) != 0) throw std::runtime_error("unexpected first line from platform-stub: " + line);
    port_ = uint16_t(std::stoi(line.substr(prefix.size())));
  } catch (...) {
    close(out[0]);
    Stop();
    throw;
  }
  close(out[0]);  // nothing else is written there
}

PlatformStubProcess::~PlatformStubProcess() { Stop(); }

void PlatformStubProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  if (stdinFd_ >= 0) close(stdinFd_);
  stdinFd_ = -1;
  if (ownsFolder_) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    ownsFolder_ = false;
  }
}

nlohmann::json PlatformStubProcess::Requests() const {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port_);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("cannot reach platform-stub");
  }
  const std::string request = "GET /_stub/requests HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string reply;
  char buffer[65536];
  ssize_t n;
  while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) reply.append(buffer, size_t(n));
  close(fd);
  const size_t bodyAt = reply.find("\r\n\r\n");
  if (reply.rfind("HTTP/1.1 200", 0) != 0 || bodyAt == std::string::npos)
    throw std::runtime_error("platform-stub request log unavailable");
  return nlohmann::json::parse(reply.substr(bodyAt + 4));
}
