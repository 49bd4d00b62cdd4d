#pragma once

#include <nlohmann/json.hpp>

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// Runs platform-stub on a free loopback port for the life of this object. The stub also
// exits by itself when the owning process dies (it watches the pipe on its standard input).
class PlatformStubProcess {
 public:
  // extraArguments: fault switches and the like; folder: where the stub stores files
  // (empty: a new temporary folder, removed again with this object).
  explicit PlatformStubProcess(std::vector<std::string> extraArguments = {}, std::string folder = {});
  ~PlatformStubProcess();
  PlatformStubProcess(const PlatformStubProcess&) = delete;
  PlatformStubProcess& operator=(const PlatformStubProcess&) = delete;

  uint16_t Port() const { return port_; }
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
  const std::string& Folder() const { return folder_; }
  // Path of a file the stub received through the upload servlet, by key + cleaned name.
  std::string UploadedFile(const std::string& storedName) const { return folder_ + "/uploads/" + storedName; }
  // Every request the stub has seen so far (GET /_stub/requests).
  nlohmann::json Requests() const;

  static std::string Executable();

 private:
  void Stop();

  pid_t pid_ = -1;
  int stdinFd_ = -1;
  uint16_t port_ = 0;
  std::string folder_;
  bool ownsFolder_ = false;
};
