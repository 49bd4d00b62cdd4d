#pragma once

#include "HttpServer.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace stub {

struct Account {
  std::string password;
  std::string displayName;
  std::string photo;  // file name under <folder>/photo
};

// Behaviour of the stand-in platform, including the faults it is told to inject.
struct StubOptions {
  std::filesystem::path folder;
  std::map<std::string, Account> accounts;
  bool loginRedirect = false;
  std::set<int> dropChunks;  // upload requests (1-based) whose connection is cut mid-body
  std::set<int> slowChunks;  // upload requests answered only after slowMs
  int slowMs = 15000;
  std::set<std::string> slowPaths;
  std::set<std::string> malformedJsonPaths;
  std::map<std::string, int> dropFirstRequests;  // path -> the first n requests get no reply
  std::map<std::string, std::string> replyBodies;
  std::map<std::string, int> replyStatuses;
  std::optional<std::string> refuseRegistrationCode;
  bool verbose = false;
};

class Platform : public HttpHandler {
 public:
  explicit Platform(StubOptions options);
  // Prepares the storage folders and the demo avatar; throws when the folder is unusable.
  void Prepare(uint16_t port);

  BodyPlan PlanBody(const HttpRequest& head) override;
  HttpResponse Handle(const HttpRequest& request) override;

 private:
  struct Upload {
    uint64_t finalSize = 0;
    uint64_t received = 0;  // bytes stored without a gap from the start
    bool complete = false;
  };

  HttpResponse Route(const HttpRequest& request, nlohmann::json& entry);
  HttpResponse SignIn(const HttpRequest& request);
  HttpResponse SignInResult(const HttpRequest& request);
  HttpResponse SaveAvatar(const HttpRequest& request, nlohmann::json& entry);
  HttpResponse Photo(const HttpRequest& request);
  HttpResponse Redirect(const HttpRequest& request);
  HttpResponse UserSystem(const HttpRequest& request);
  HttpResponse CategoryAndGrade(const HttpRequest& request);
  HttpResponse AddVideo(const HttpRequest& request, nlohmann::json& entry);
  HttpResponse SingleUpload(const HttpRequest& request, nlohmann::json& entry);
  HttpResponse RequestLog();
  void ApplyFaults(const HttpRequest& request, HttpResponse& response, nlohmann::json& entry);

  nlohmann::json SignInReply(const std::string& user, const std::string& session) const;
  std::string SessionUser(const HttpRequest& request) const;  // empty when not signed in
  std::string NewSessionId();

  StubOptions options_;
  std::string baseUrl_;
  std::filesystem::path uploadFolder_, photoFolder_;
  mutable std::mutex mutex_;
  std::map<std::string, std::string> sessions_;         // session id -> account
  std::map<std::string, std::string> pendingSignIns_;   // redirect cookie -> account
  std::map<std::string, Upload> uploads_;               // key + cleaned name -> state
  std::map<std::string, int> requestCounts_;            // path -> requests seen
  int uploadRequests_ = 0;
  int nextVideoId_ = 17;
  int nextPhoto_ = 1;
  std::vector<nlohmann::json> log_;
};

}  // namespace stub
