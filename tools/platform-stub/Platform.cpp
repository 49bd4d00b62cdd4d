#include "Platform.h"

#include "DemoPicture.h"
#include "FormCodec.h"
#include "Multipart.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

namespace stub {

namespace {

using nlohmann::json;

constexpr const char* kUploadPath = "/servlet/SingleUpload";
constexpr const char* kPrivateKey = "c4e1b8a2d7f03e9b5a6c1d2f8e0b7a95";
constexpr const char* kKeyAlphabet = "ABCDEFGHIJKLMNOPQRLSTUVWXYZ123456789";
constexpr size_t kLogLimit = 20000;

// Number of the upload request this connection thread is serving (set before its body is read).
thread_local int currentUploadRequest = 0;

const std::set<int> kSubjectIds{12, 13, 21};
const std::set<int> kGradeIds{3, 4, 7};

json CategoryDocument() {
  return json::parse(R"({
    "Category": {"categorySection": [
      {"name": "小学", "categories": [{"id": 12, "name": "语文"}, {"id": 13, "name": "数学"}]},
      {"name": "初中", "categories": [{"id": 21, "name": "物理"}]}]},
    "Grade": {"gradeSection": [
      {"name": "小学", "grades": [{"id": 3, "name": "三年级"}, {"id": 4, "name": "四年级"}]},
      {"name": "初中", "grades": [{"id": 7, "name": "七年级"}]}]}})");
}

HttpResponse Json(const json& value, int status = 200) {
  HttpResponse response;
  response.status = status;
  response.contentType = "application/json; charset=utf-8";
  response.body = value.dump();
  return response;
}

HttpResponse Text(int status, std::string body) {
  HttpResponse response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

bool IsKey(std::string_view text) {
  if (text.size() != 32) return false;
  for (char c : text)
    if (std::string_view(kKeyAlphabet).find(c) == std::string_view::npos) return false;
  return true;
}

// A name the stub may use as one file name inside its folders.
bool IsSafeFileName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 240) return false;
  for (char c : name)
    if (c == '/' || c == '\0' || c == '\\') return false;
  return true;
}

std::string MimeTypeOfAvatar(std::string extension) {
  for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
  static const std::map<std::string, std::string> table{
      {".jpg", "image/jpeg"}, {".png", "image/png"}, {".gif", "image/gif"}, {".bmp", "application/x-bmp"}};
  const auto it = table.find(extension);
  return it == table.end() ? "multipart/form-data" : it->second;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool LooksLikePicture(std::string_view type, std::string_view data) {
  if (type == "image/png") return StartsWith(data, "\x89PNG\r\n\x1a\n");
  if (type == "image/jpeg") return StartsWith(data, "\xFF\xD8\xFF");
  if (type == "image/gif") return StartsWith(data, "GIF8");
  if (type == "application/x-bmp") return StartsWith(data, "BM");
  return false;
}

std::vector<std::string> CookieValues(const HttpRequest& request, std::string_view name) {
  std::vector<std::string> values;
  for (const auto& [header, value] : request.headers) {
    if (header.size() != 6 || strncasecmp(header.c_str(), "cookie", 6) != 0) continue;
    std::string_view rest = value;
    while (!rest.empty()) {
      const size_t end = rest.find(';');
      std::string_view item = rest.substr(0, end);
      while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
      if (item.size() > name.size() && item.substr(0, name.size()) == name && item[name.size()] == '=')
        values.emplace_back(item.substr(name.size() + 1));
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
  }
  return values;
}

bool WriteAt(const std::filesystem::path& path, uint64_t position, std::string_view data, bool truncate) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0644);
  if (fd < 0) return false;
  bool ok = true;
  while (!data.empty()) {
    const ssize_t n = pwrite(fd, data.data(), data.size(), off_t(position));
    if (n <= 0) {
      ok = false;
      break;
    }
    data.remove_prefix(size_t(n));
    position += uint64_t(n);
  }
  return close(fd) == 0 && ok;
}

}  // namespace

Platform::Platform(StubOptions options) : options_(std::move(options)) {}

void Platform::Prepare(uint16_t port) {
  baseUrl_ = "http://127.0.0.1:" + std::to_string(port);
  uploadFolder_ = options_.folder / "uploads";
  photoFolder_ = options_.folder / "photo";
  std::filesystem::create_directories(uploadFolder_);
  std::filesystem::create_directories(photoFolder_);
  for (const auto& [user, account] : options_.accounts) {
    const auto photo = photoFolder_ / account.photo;
    if (std::filesystem::exists(photo) || photo.extension() != ".png") continue;
    std::ofstream out(photo, std::ios::binary);
    out << DemoAvatarPng(96);
    if (!out.flush()) throw std::runtime_error("cannot write " + photo.string());
  }
}

std::string Platform::NewSessionId() {
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  static const char* digits = "0123456789ABCDEF";
  std::string id;
  for (int i = 0; i < 32; ++i) id += digits[generator() % 16];
  return id;
}

BodyPlan Platform::PlanBody(const HttpRequest& head) {
  BodyPlan plan;
  plan.maxBody = 64 * 1024;
  if (head.path == kUploadPath) {
    plan.maxBody = (1 << 20) + 64 * 1024;
    std::lock_guard lock(mutex_);
    const int number = ++uploadRequests_;
    currentUploadRequest = number;
    if (options_.dropChunks.count(number)) {
      plan.dropMidBody = true;
      log_.push_back({{"method", head.method}, {"path", head.path}, {"query", head.query},
                      {"uploadRequest", number}, {"fault", "dropped mid-body"}});
    }
  } else if (head.path == "/app/user/saveAvatar.do") {
    plan.maxBody = 16 << 20;
  }
  return plan;
}

HttpResponse Platform::Handle(const HttpRequest& request) {
  json entry{{"method", request.method}, {"path", request.path}, {"query", request.query}};
  for (const char* name : {"Content-Type", "Cookie", "Host"})
    if (const std::string* value = request.Header(name)) entry["headers"][name] = *value;
  if (const std::string* type = request.Header("Content-Type");
      type && StartsWith(*type, "application/x-www-form-urlencoded") && request.body.size() <= 4096)
    entry["body"] = request.body;
  HttpResponse response = Route(request, entry);
  ApplyFaults(request, response, entry);
  entry["status"] = response.status;
  if (response.body.size() <= 4096) entry["reply"] = response.body;
  if (options_.verbose)
    std::cerr << request.method << ' ' << request.target.substr(0, 300) << " -> " << response.status << '\n';
  std::lock_guard lock(mutex_);
  if (request.path != "/_stub/requests") {
    if (log_.size() >= kLogLimit) log_.erase(log_.begin());
    log_.push_back(std::move(entry));
  }
  return response;
}

void Platform::ApplyFaults(const HttpRequest& request, HttpResponse& response, json& entry) {
  std::lock_guard lock(mutex_);
  const int seen = ++requestCounts_[request.path];
  if (auto it = options_.dropFirstRequests.find(request.path); it != options_.dropFirstRequests.end() && seen <= it->second) {
    response.closeWithoutReply = true;
    entry["fault"] = "closed without reply";
    return;
  }
  if (request.path == kUploadPath) {
    entry["uploadRequest"] = currentUploadRequest;
    if (options_.slowChunks.count(currentUploadRequest)) {
      response.delayMs = options_.slowMs;
      entry["fault"] = "slow";
    }
  }
  if (options_.slowPaths.count(request.path)) {
    response.delayMs = options_.slowMs;
    entry["fault"] = "slow";
  }
  if (response.status >= 400) return;  // a refused request keeps its explanation
  if (auto it = options_.replyBodies.find(request.path); it != options_.replyBodies.end()) {
    response.body = it->second;
    entry["fault"] = "scripted reply";
  }
  if (auto it = options_.replyStatuses.find(request.path); it != options_.replyStatuses.end()) {
    response.status = it->second;
    entry["fault"] = "scripted status";
  }
  if (options_.malformedJsonPaths.count(request.path) && StartsWith(response.contentType, "application/json")) {
    response.body.resize(response.body.size() / 2);
    entry["fault"] = "malformed JSON";
  }
}

HttpResponse Platform::Route(const HttpRequest& request, json& entry) {
  const std::string& path = request.path;
  auto method = [&](const char* wanted) { return request.method == wanted; };
  if (path == "/j_spring_security_check") return method("POST") ? SignIn(request) : Text(405, "POST only");
  if (path == "/app/login/result.do") return method("GET") ? SignInResult(request) : Text(405, "GET only");
  if (path == "/app/user/saveAvatar.do") return method("POST") ? SaveAvatar(request, entry) : Text(405, "POST only");
  if (StartsWith(path, "/photo/")) return method("GET") ? Photo(request) : Text(405, "GET only");
  if (path == "/redirect") return method("GET") ? Redirect(request) : Text(405, "GET only");
  if (path == "/webservice/userSystem.action") return method("GET") ? UserSystem(request) : Text(405, "GET only");
  if (path == "/webservice/categoryAndGradeJson.html")
    return method("GET") ? CategoryAndGrade(request) : Text(405, "GET only");
  if (path == "/webservice/addVideo.action") return method("GET") ? AddVideo(request, entry) : Text(405, "GET only");
  if (path == kUploadPath) return method("POST") ? SingleUpload(request, entry) : Text(405, "POST only");
  if (path == "/_stub/requests") return RequestLog();
  return Text(404, "no such page: " + path);
}

json Platform::SignInReply(const std::string& user, const std::string& session) const {
  const Account& account = options_.accounts.at(user);
  return {{"status", 0},
          {"msg", "登录成功"},
          {"result",
           {{"jsessionid", session},
            {"userId", user},
            {"userName", account.displayName},
            {"hostUrl", baseUrl_},
            {"serverUrl", baseUrl_},
            {"serverType", 1},
            {"photo", account.photo.empty() ? "" : baseUrl_ + "/photo/" + account.photo},
            {"data", json::object()}}}};
}

HttpResponse Platform::SignIn(const HttpRequest& request) {
  const std::string* type = request.Header("Content-Type");
  if (!type || !StartsWith(*type, "application/x-www-form-urlencoded"))
    return Text(400, "sign-in expects a form (application/x-www-form-urlencoded)");
  const auto fields = ParseForm(request.body);
  if (!fields) return Text(400, "sign-in form does not decode");
  if (const std::string error =
          CheckFieldOrder(*fields, {"j_username", "j_password", "moduleId", "deviceType", "isAppLogon"});
      !error.empty())
    return Text(400, "sign-in form: " + error);
  if (FieldValue(*fields, "moduleId") != "25" || FieldValue(*fields, "deviceType") != "4" ||
      FieldValue(*fields, "isAppLogon") != "-1")
    return Text(400, "sign-in form: moduleId must be 25, deviceType 4, isAppLogon -1");

  const std::string& user = FieldValue(*fields, "j_username");
  const std::string& password = FieldValue(*fields, "j_password");
  const auto account = options_.accounts.find(user);
  if (account == options_.accounts.end() || account->second.password != password)
    return Json({{"status", 1}, {"msg", "用户名或密码错误"}});

  std::lock_guard lock(mutex_);
  const std::string session = NewSessionId();
  if (options_.loginRedirect) {
    pendingSignIns_[session] = user;
    HttpResponse response = Text(302, "");
    response.headers = {{"Set-Cookie", "JSESSIONID=" + session + "; Path=/"}, {"Location", "/app/login/result.do"}};
    return response;
  }
  sessions_[session] = user;
  return Json(SignInReply(user, session));
}

HttpResponse Platform::SignInResult(const HttpRequest& request) {
  std::lock_guard lock(mutex_);
  for (const std::string& session : CookieValues(request, "JSESSIONID")) {
    const auto pending = pendingSignIns_.find(session);
    if (pending == pendingSignIns_.end()) continue;
    const std::string user = pending->second;
    pendingSignIns_.erase(pending);
    sessions_[session] = user;
    return Json(SignInReply(user, session));
  }
  return Json({{"status", 2}, {"msg", "会话丢失"}}, 401);
}

std::string Platform::SessionUser(const HttpRequest& request) const {
  for (const std::string& session : CookieValues(request, "JSESSIONID"))
    if (const auto it = sessions_.find(session); it != sessions_.end()) return it->second;
  return {};
}

HttpResponse Platform::SaveAvatar(const HttpRequest& request, json& entry) {
  const std::string* type = request.Header("Content-Type");
  FilePart part;
  if (const std::string error = ParseSingleFilePart(type ? *type : "", request.body, part); !error.empty())
    return Text(400, "avatar upload: " + error);
  entry["part"] = {{"name", part.fieldName}, {"filename", part.fileName}, {"type", part.contentType},
                   {"bytes", part.data.size()}};
  if (part.fieldName != "avatar") return Text(400, "avatar upload: field must be named avatar");
  const std::string extension = std::filesystem::path(part.fileName).extension().string();
  if (part.contentType != MimeTypeOfAvatar(extension))
    return Text(400, "avatar upload: type " + part.contentType + " does not fit " + part.fileName);
  if (!LooksLikePicture(part.contentType, part.data))
    return Json({{"status", 3}, {"msg", "不是有效的图片"}});

  std::lock_guard lock(mutex_);
  const std::string user = SessionUser(request);
  if (user.empty()) return Json({{"status", 1}, {"msg", "未登录或会话已过期"}});
  std::string lowerExtension = extension;
  for (char& c : lowerExtension) c = char(std::tolower(static_cast<unsigned char>(c)));
  const std::string name = user + "-" + std::to_string(nextPhoto_++) + lowerExtension;
  if (!IsSafeFileName(name) || !WriteAt(photoFolder_ / name, 0, part.data, true))
    return Json({{"status", 4}, {"msg", "保存头像失败"}});
  options_.accounts[user].photo = name;
  return Json({{"status", 0}, {"msg", "上传成功"}, {"result", baseUrl_ + "/photo/" + name}});
}

HttpResponse Platform::Photo(const HttpRequest& request) {
  const std::string name = request.path.substr(7);
  if (!IsSafeFileName(name)) return Text(404, "no such picture");
  std::ifstream in(photoFolder_ / name, std::ios::binary);
  if (!in) return Text(404, "no such picture: " + name);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  HttpResponse response;
  std::string type = MimeTypeOfAvatar(std::filesystem::path(name).extension().string());
  response.contentType = type == "multipart/form-data" ? "application/octet-stream" : type;
  response.body = bytes.str();
  return response;
}

HttpResponse Platform::Redirect(const HttpRequest& request) {
  const auto fields = ParseForm(request.query);
  if (!fields || fields->size() != 1 || fields->front().first != "to" || !StartsWith(fields->front().second, "/"))
    return Text(400, "redirect expects ?to=/path");
  HttpResponse response = Text(302, "");
  response.headers = {{"Location", fields->front().second}};
  return response;
}

HttpResponse Platform::UserSystem(const HttpRequest& request) {
  if (request.hasQuery) return Text(400, "the platform check takes no parameters");
  return Json({{"data", true}, {"success", true}});
}

HttpResponse Platform::CategoryAndGrade(const HttpRequest& request) {
  if (request.hasQuery) return Text(400, "the category list takes no parameters");
  return Json({{"errorCode", "0"},
               {"html", ""},
               {"key", ""},
               {"uri", ""},
               {"message", "ok"},
               {"success", true},
               {"id", ""},
               {"data", CategoryDocument()}});
}

HttpResponse Platform::AddVideo(const HttpRequest& request, json& entry) {
  const auto fields = ParseForm(request.query);
  if (!fields) return Text(400, "registration: query does not decode");
  if (const std::string error = CheckFieldOrder(*fields, {"managerid", "token", "title", "speaker", "category", "grade",
                                                          "remark", "fileName", "sessionId", "fileSize"});
      !error.empty())
    return Text(400, "registration: " + error);
  json params = json::object();
  for (const auto& [name, value] : *fields) params[name] = value;
  entry["params"] = params;

  const auto refuse = [](const char* code, const char* message) {
    return Json({{"errorCode", code}, {"message", message}, {"success", false}});
  };
  const std::string& sessionId = FieldValue(*fields, "sessionId");
  const std::string& fileName = FieldValue(*fields, "fileName");
  const std::string& fileSize = FieldValue(*fields, "fileSize");
  const std::string& category = FieldValue(*fields, "category");
  const std::string& grade = FieldValue(*fields, "grade");
  if (!IsKey(sessionId)) return refuse("6", "会话ID错误");
  if (FieldValue(*fields, "title").empty() || !IsPlainDecimal(fileSize)) return refuse("3", "参数不正确");
  if (!IsPlainDecimal(category) || !kSubjectIds.count(std::stoi(category)) || !IsPlainDecimal(grade) ||
      !kGradeIds.count(std::stoi(grade)))
    return refuse("3", "参数不正确");

  std::lock_guard lock(mutex_);
  const auto upload = uploads_.find(sessionId + fileName);
  if (upload == uploads_.end() || !upload->second.complete) return refuse("6", "会话ID错误");
  if (std::to_string(upload->second.finalSize) != fileSize) return refuse("3", "参数不正确");
  if (options_.refuseRegistrationCode) return Text(200, "ErrorCode=" + *options_.refuseRegistrationCode + "\r\n");
  const std::string id = std::to_string(nextVideoId_++);
  return Json({{"errorCode", "0"}, {"message", "ok"}, {"success", true}, {"list", {{"id", id}}}});
}

HttpResponse Platform::SingleUpload(const HttpRequest& request, json& entry) {
  const auto fields = ParseForm(request.query);
  if (!fields) return Text(400, "error: query does not decode");
  if (const std::string error = CheckFieldOrder(*fields, {"FileSize", "FileName", "UploadState", "Pos", "FileFinalSize"});
      !error.empty())
    return Text(400, "error: " + error);
  const std::string& sizeText = FieldValue(*fields, "FileSize");
  const std::string& stateText = FieldValue(*fields, "UploadState");
  const std::string& posText = FieldValue(*fields, "Pos");
  const std::string& totalText = FieldValue(*fields, "FileFinalSize");
  const std::string& fileName = FieldValue(*fields, "FileName");
  if (!IsPlainDecimal(sizeText) || !IsPlainDecimal(posText) || !IsPlainDecimal(totalText))
    return Text(400, "error: sizes and positions must be plain decimal numbers");
  if (stateText != "-1" && stateText != "0" && stateText != "1") return Text(400, "error: UploadState must be -1, 0 or 1");
  const uint64_t size = std::stoull(sizeText), pos = std::stoull(posText), total = std::stoull(totalText);
  const int state = std::stoi(stateText);
  entry["upload"] = {{"state", state}, {"pos", pos}, {"size", size}, {"total", total}, {"name", fileName}};

  const std::string key = fileName.substr(0, 32);
  if (!IsKey(key) || !IsSafeFileName(fileName.substr(std::min<size_t>(32, fileName.size()))))
    return Text(400, "error: FileName must be a 32-character key followed by a file name");
  const std::string* cookie = request.Header("Cookie");
  if (!cookie || *cookie != "JSESSIONID=" + key + "; PrivateKey=" + kPrivateKey)
    return Text(400, "error: Cookie must carry the key as JSESSIONID and the private key");
  const std::string* host = request.Header("Host");
  if (!host || host->find(':') == std::string::npos) return Text(400, "error: Host must name the port");

  FilePart part;
  const std::string* type = request.Header("Content-Type");
  if (const std::string error = ParseSingleFilePart(type ? *type : "", request.body, part); !error.empty())
    return Text(400, "error: " + error);
  if (part.fieldName != "file1" || part.contentType != "application/octet-stream")
    return Text(400, "error: the data must come as field file1 of type application/octet-stream");
  if (part.data.size() != size)
    return Text(400, "error: FileSize " + sizeText + " but the part holds " + std::to_string(part.data.size()));
  if (pos + size > total) return Text(400, "error: chunk ends beyond FileFinalSize");

  std::lock_guard lock(mutex_);
  const auto stored = uploadFolder_ / fileName;
  const auto partial = uploadFolder_ / (fileName + ".part");
  if (state == -1) {
    if (pos != 0) return Text(400, "error: the first chunk must start at 0");
    std::error_code ignored;
    std::filesystem::remove(stored, ignored);
    uploads_[fileName] = Upload{total, 0, false};
    if (!WriteAt(partial, 0, part.data, true)) return Text(500, "error: cannot store the chunk");
    uploads_[fileName].received = size;
  } else {
    const auto it = uploads_.find(fileName);
    if (it == uploads_.end()) return Text(400, "error: no upload was started under this FileName");
    Upload& upload = it->second;
    if (upload.finalSize != total) return Text(400, "error: FileFinalSize changed during the upload");
    if (upload.complete) {
      // The last request again, after its reply was lost: nothing left to store.
      if (state == 1 && pos + size == total) return Text(200, "success");
      return Text(400, "error: the upload is already complete");
    }
    if (pos > upload.received) return Text(400, "error: chunk at " + posText + " leaves a gap after " +
                                                std::to_string(upload.received));
    if (!WriteAt(partial, pos, part.data, false)) return Text(500, "error: cannot store the chunk");
    upload.received = std::max(upload.received, pos + size);
  }
  if (state == 1) {
    Upload& upload = uploads_[fileName];
    if (pos + size != total || upload.received != total)
      return Text(400, "error: the last request does not end the file");
    std::error_code error;
    std::filesystem::rename(partial, stored, error);
    if (error) return Text(500, "error: cannot store the file: " + error.message());
    upload.complete = true;
  }
  return Text(200, "success");
}

HttpResponse Platform::RequestLog() {
  std::lock_guard lock(mutex_);
  return Json(json(log_));
}

}  // namespace stub
