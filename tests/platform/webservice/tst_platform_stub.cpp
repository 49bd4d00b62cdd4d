// platform-stub's own rules: other tests trust it to refuse a request the platform would
// refuse, so what it refuses is checked here with plain libcurl requests.

#include "PlatformStubProcess.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace {

struct Reply {
    long status = 0;
    std::string body;
};

size_t Keep(char *data, size_t size, size_t count, void *user)
{
    static_cast<std::string *>(user)->append(data, size * count);
    return size * count;
}

struct Part {
    std::string field, fileName, type, data;
};

// One request; a form body when `form` is set, a multipart body when `part` is.
Reply Send(const std::string &url, const std::vector<std::string> &headers = {}, const std::string *form = nullptr,
           const Part *part = nullptr, bool follow = false)
{
    CURL *curl = curl_easy_init();
    Reply reply;
    curl_slist *list = nullptr;
    for (const auto &header : headers)
        list = curl_slist_append(list, header.c_str());
    curl_mime *mime = nullptr;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Keep);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    if (follow) {
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");
    }
    if (form)
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, form->c_str());
    if (part) {
        mime = curl_mime_init(curl);
        curl_mimepart *p = curl_mime_addpart(mime);
        curl_mime_name(p, part->field.c_str());
        curl_mime_filename(p, part->fileName.c_str());
        curl_mime_type(p, part->type.c_str());
        curl_mime_data(p, part->data.data(), part->data.size());
        curl_easy_setopt(curl, CURLOPT_MIMEPOST, mime);
    }
    if (curl_easy_perform(curl) == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_mime_free(mime);
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return reply;
}

int JsonStatus(const Reply &reply)
{
    const auto json = nlohmann::json::parse(reply.body, nullptr, false);
    return json.is_object() && json.contains("status") ? json["status"].get<int>() : -100;
}

const std::string Png = std::string("\x89PNG\r\n\x1a\n", 8) + "rest of a picture";
const std::string PrivateKeyCookie = "; PrivateKey=c4e1b8a2d7f03e9b5a6c1d2f8e0b7a95";

std::string SignInForm(const std::string &user, const std::string &password)
{
    return "j_username=" + user + "&j_password=" + password + "&moduleId=25&deviceType=4&isAppLogon=-1";
}

std::string SessionOf(const Reply &reply)
{
    return nlohmann::json::parse(reply.body)["result"]["jsessionid"];
}

}  // namespace

TEST(PlatformStub, SignInChecksTheFormAndTheAccount)
{
    PlatformStubProcess stub;
    const std::string url = stub.BaseUrl() + "/j_spring_security_check";
    const struct {
        const char *name;
        std::string form;
        long status;
        int jsonStatus;  // -100: not JSON
    } cases[] = {
        {"demo account", SignInForm("demo", "demo"), 200, 0},
        {"wrong password", SignInForm("demo", "x"), 200, 1},
        {"unknown account", SignInForm("nobody", "demo"), 200, 1},
        {"fields out of order", "j_password=demo&j_username=demo&moduleId=25&deviceType=4&isAppLogon=-1", 400, -100},
        {"wrong module", "j_username=demo&j_password=demo&moduleId=24&deviceType=4&isAppLogon=-1", 400, -100},
        {"extra field", SignInForm("demo", "demo") + "&x=1", 400, -100},
        {"broken escape", "j_username=demo&j_password=%G1&moduleId=25&deviceType=4&isAppLogon=-1", 400, -100},
    };
    for (const auto &c : cases) {
        const Reply reply = Send(url, {}, &c.form);
        EXPECT_EQ(reply.status, c.status) << c.name << ": " << reply.body;
        EXPECT_EQ(JsonStatus(reply), c.jsonStatus) << c.name;
    }
    const std::string form = SignInForm("demo", "demo");
    EXPECT_EQ(Send(url, {"Content-Type: text/plain"}, &form).status, 400);
}

TEST(PlatformStub, SignInThroughARedirectNeedsItsCookie)
{
    PlatformStubProcess stub({"--login-redirect"});
    const std::string url = stub.BaseUrl() + "/j_spring_security_check";
    const std::string form = SignInForm("demo", "demo");
    const Reply direct = Send(url, {}, &form);
    EXPECT_EQ(direct.status, 302);
    EXPECT_EQ(JsonStatus(Send(url, {}, &form, nullptr, true)), 0);
    EXPECT_EQ(Send(stub.BaseUrl() + "/app/login/result.do").status, 401);
}

TEST(PlatformStub, AvatarUploadNeedsASessionAndAFittingPicture)
{
    PlatformStubProcess stub;
    const std::string form = SignInForm("demo", "demo");
    const std::string cookie = "Cookie: JSESSIONID=" + SessionOf(Send(stub.BaseUrl() + "/j_spring_security_check", {}, &form));
    const std::string url = stub.BaseUrl() + "/app/user/saveAvatar.do";
    const struct {
        const char *name;
        std::string cookie;
        Part part;
        long status;
        int jsonStatus;
    } cases[] = {
        {"not signed in", "Cookie: JSESSIONID=0123", {"avatar", "teacher.png", "image/png", Png}, 200, 1},
        {"wrong field", cookie, {"file", "teacher.png", "image/png", Png}, 400, -100},
        {"type does not fit", cookie, {"avatar", "teacher.png", "image/jpeg", Png}, 400, -100},
        {"not a picture", cookie, {"avatar", "teacher.png", "image/png", "text"}, 200, 3},
        {"accepted", cookie, {"avatar", "teacher.png", "image/png", Png}, 200, 0},
    };
    for (const auto &c : cases) {
        const Reply reply = Send(url, {c.cookie}, nullptr, &c.part);
        EXPECT_EQ(reply.status, c.status) << c.name << ": " << reply.body;
        EXPECT_EQ(JsonStatus(reply), c.jsonStatus) << c.name;
    }
    // The new avatar is served at the address the reply gives, and named in the next sign-in.
    const Reply accepted = Send(url, {cookie}, nullptr, &cases[4].part);
    const std::string photo = nlohmann::json::parse(accepted.body)["result"];
    EXPECT_EQ(Send(photo).body, Png);
    EXPECT_EQ(nlohmann::json::parse(Send(stub.BaseUrl() + "/j_spring_security_check", {}, &form).body)["result"]["photo"],
              photo);
    EXPECT_EQ(Send(stub.BaseUrl() + "/photo/..").status, 404);
    EXPECT_EQ(Send(stub.BaseUrl() + "/photo/missing.png").status, 404);
    EXPECT_EQ(Send(stub.BaseUrl() + "/redirect?to=/photo/demo.png", {}, nullptr, nullptr, true).body.substr(1, 3), "PNG");
}

TEST(PlatformStub, UploadServletRefusesChunksOutOfPlace)
{
    PlatformStubProcess stub;
    const std::string key = "ABCDEFGHIJKLMNOPQRLSTUVWXYZ12345";
    const std::string cookie = "Cookie: JSESSIONID=" + key + PrivateKeyCookie;
    const auto post = [&](const std::string &query, const std::string &data, const std::string &withCookie) {
        const Part part{"file1", "x.avi", "application/octet-stream", data};
        return Send(stub.BaseUrl() + "/servlet/SingleUpload?" + query, {withCookie, "Expect:"}, nullptr, &part).status;
    };
    const std::string name = "&FileName=" + key + "v.mp4";
    EXPECT_EQ(post("FileSize=2" + name + "&UploadState=0&Pos=2&FileFinalSize=6", "cd", cookie), 400) << "not started";
    EXPECT_EQ(post("FileSize=2" + name + "&UploadState=-1&Pos=0&FileFinalSize=6", "ab", cookie), 200);
    EXPECT_EQ(post("FileSize=2" + name + "&UploadState=0&Pos=4&FileFinalSize=6", "ef", cookie), 400) << "gap";
    EXPECT_EQ(post("FileSize=3" + name + "&UploadState=0&Pos=2&FileFinalSize=6", "cd", cookie), 400) << "size";
    EXPECT_EQ(post("FileSize=2" + name + "&UploadState=0&Pos=2&FileFinalSize=6", "cd",
                   "Cookie: JSESSIONID=" + std::string(32, 'A') + PrivateKeyCookie),
              400)
        << "key";
    EXPECT_EQ(post("FileSize=2" + name + "&Pos=2&UploadState=0&FileFinalSize=6", "cd", cookie), 400) << "order";
    EXPECT_EQ(post("FileSize=2" + name + "&UploadState=0&Pos=02&FileFinalSize=6", "cd", cookie), 400) << "number";
    EXPECT_EQ(post("FileSize=2" + name + "&UploadState=0&Pos=2&FileFinalSize=6", "cd", cookie), 200);
    EXPECT_EQ(post("FileSize=2" + name + "&UploadState=0&Pos=2&FileFinalSize=6", "cd", cookie), 200) << "sent again";
    EXPECT_EQ(post("FileSize=1" + name + "&UploadState=1&Pos=4&FileFinalSize=6", "e", cookie), 400) << "short end";
    EXPECT_EQ(post("FileSize=2" + name + "&UploadState=1&Pos=4&FileFinalSize=6", "ef", cookie), 200);
    std::ifstream stored(stub.UploadedFile(key + "v.mp4"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(stored), {}), "abcdef");
}
