// The web service calls against platform-stub: addresses as the platform reads them, the
// registration of an uploaded file, and every way a call can fail.

#include "PlatformStubProcess.h"
#include "tests/support/LoopbackAddresses.h"
#include "platform/OrinHttpClients.h"
#include "platform/OrinWebService.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace std::chrono_literals;

namespace {

// A file uploaded to the stub, ready to be registered.
struct TUploaded {
    QString key, name, size;
};

TUploaded UploadSmallFile(const PlatformStubProcess &stub)
{
    const std::string path = stub.Folder() + "/课 1.mp4";
    std::ofstream(path, std::ios::binary) << std::string(5000, 'v');
    OrinHttpClients::THttpClient client;
    const std::string result = client.UploadFile(stub.BaseUrl() + "/servlet/SingleUpload", path);
    EXPECT_EQ(result, "ErrorCode=0\r\nFileName=课_1.mp4");
    return {QString::fromStdString(client.SessionKey()), QStringLiteral("课_1.mp4"), QStringLiteral("5000")};
}

TAddVideoParms Registration(const TUploaded &file)
{
    TAddVideoParms parms;
    parms.title = QStringLiteral("课 1");
    parms.speaker = QStringLiteral("张老师");
    parms.category = QStringLiteral("12");
    parms.grade = QStringLiteral("3");
    parms.remark = QStringLiteral("a&b=c");
    parms.fileName = file.name;
    parms.sessionId = file.key;
    parms.fileSize = file.size;
    return parms;
}

WebServiceSoap_java Service(const QString &baseUrl)
{
    WebServiceSoap_java service;
    service.ServiceUrl = baseUrl;
    service.PauseAfterRegistration = 0ms;
    service.ListTimeout = 1000ms;
    service.RegistrationTimeout = 1000ms;
    return service;
}

QString Base(const PlatformStubProcess &stub) { return QString::fromStdString(stub.BaseUrl()); }

QString ClosedAddress() { return QString::fromStdString(sc_test::ClosedPortUrl()); }

}  // namespace

TEST(AddVideo, RegistersAnUploadedFileWithEveryValueEncoded)
{
    PlatformStubProcess stub;
    const TUploaded file = UploadSmallFile(stub);
    WebServiceSoap_java service = Service(Base(stub));
    const TAddVideoResult result = service.AddVideo(Registration(file));
    EXPECT_EQ(result.success, QStringLiteral("true"));
    EXPECT_TRUE(WebServiceSoap_java::IsTrue(result.success));
    EXPECT_EQ(result.errorCode, QStringLiteral("0"));
    EXPECT_EQ(result.message, QStringLiteral("ok"));
    EXPECT_EQ(result.id, QStringLiteral("17"));
    EXPECT_EQ(service.LastUrl, Base(stub) + QStringLiteral("/webservice/addVideo.action?managerid=&token=&title=%E8%AF%BE+1"
                                                           "&speaker=%E5%BC%A0%E8%80%81%E5%B8%88&category=12&grade=3"
                                                           "&remark=a%26b%3Dc&fileName=%E8%AF%BE_1.mp4&sessionId=") +
                                   file.key + QStringLiteral("&fileSize=5000"));
    EXPECT_TRUE(service.LastReply.endsWith(QStringLiteral("No such ErrorCode ")));
    const auto requests = stub.Requests();
    EXPECT_EQ(requests.back()["params"]["remark"], "a&b=c");
    EXPECT_EQ(requests.back()["params"]["title"], "课 1");
}

TEST(AddVideo, ReportsEveryRefusalOfThePlatform)
{
    const struct {
        const char *code, *text;
    } codes[] = {{"0", "成功"},       {"1", "没有此接口"},   {"2", "频道已用完"},     {"3", "参数不正确"},
                 {"4", "启动失败"},   {"5", "停止失败"},     {"6", "会话ID错误"},     {"104", "RTSP流连接错误"},
                 {"109", "未检测到该设备"}, {"42", "No such ErrorCode "}};
    for (const auto &c : codes) {
        PlatformStubProcess stub({"--refuse-registration", c.code});
        WebServiceSoap_java service = Service(Base(stub));
        const TAddVideoResult result = service.AddVideo(Registration(UploadSmallFile(stub)));
        const QString expected = QStringLiteral("ErrorCode=") + QLatin1String(c.code) + QStringLiteral("\r\n") +
                                 QString::fromUtf8(c.text);
        EXPECT_EQ(result.message, expected) << c.code;
        EXPECT_EQ(service.LastReply, expected) << c.code;
        EXPECT_EQ(result.success, QStringLiteral("false")) << c.code;
        EXPECT_EQ(result.errorCode, QStringLiteral("55")) << c.code;
    }
}

TEST(AddVideo, FailuresNeverReadAsSuccess)
{
    const QString gone = QStringLiteral("访问报错");
    const struct {
        const char *name;
        std::vector<std::string> switches;
        bool unknownKey, closed;
        QString errorCode, message;  // a null message: any non-empty text
    } cases[] = {
        {"no such upload", {}, true, false, QStringLiteral("6"), QStringLiteral("会话ID错误")},
        {"platform gone", {}, false, true, QStringLiteral("55"), gone},
        {"HTTP 500", {"--reply-status", "/webservice/addVideo.action=500"}, false, false, QStringLiteral("55"), gone},
        {"too slow", {"--slow", "/webservice/addVideo.action", "--slow-ms", "20000"}, false, false,
         QStringLiteral("55"), gone},
        {"malformed JSON", {"--malformed-json", "/webservice/addVideo.action"}, false, false, QStringLiteral("55"),
         QString()},
        {"stray percent", {"--reply", "/webservice/addVideo.action={\"success\":true,\"message\":\"100%\"}"},
         false, false, QStringLiteral("55"), QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PlatformStubProcess stub(c.switches);
        TUploaded file = UploadSmallFile(stub);
        if (c.unknownKey)
            file.key = QString(32, QLatin1Char('A'));
        WebServiceSoap_java service = Service(c.closed ? ClosedAddress() : Base(stub));
        const TAddVideoResult result = service.AddVideo(Registration(file));
        EXPECT_EQ(result.success, QStringLiteral("false"));
        EXPECT_EQ(result.errorCode, c.errorCode);
        if (c.message.isNull()) {
            EXPECT_FALSE(result.message.isEmpty());
        } else {
            EXPECT_EQ(result.message, c.message);
        }
        if (c.message == gone) {
            EXPECT_EQ(service.LastReply, QStringLiteral("访问报错！"));
        }
    }
}

TEST(PlatformCheckAndLists, SucceedAgainstThePlatform)
{
    PlatformStubProcess stub;
    WebServiceSoap_java service = Service(Base(stub));
    const TUserSystemResult check = service.CheckUserSystem();
    EXPECT_TRUE(check.success);
    EXPECT_TRUE(check.data);
    const TCategoryAndGradeJson lists = service.GetCategoryAndGrade();
    EXPECT_TRUE(lists.success);
    EXPECT_EQ(lists.errorCode, QStringLiteral("0"));
    EXPECT_TRUE(lists.data.contains(QStringLiteral("\"categorySection\"")));
    EXPECT_TRUE(lists.data.contains(QStringLiteral("三年级")));
}

TEST(PlatformCheckAndLists, AnyFailureIsAFailedLink)
{
    const struct {
        const char *name;
        std::vector<std::string> switches;  // {PATH} stands for each of the two addresses
        bool closed;
    } cases[] = {
        {"platform gone", {}, true},
        {"malformed JSON", {"--malformed-json", "{PATH}"}, false},
        {"HTTP 500", {"--reply-status", "{PATH}=500"}, false},
        {"too slow", {"--slow", "{PATH}", "--slow-ms", "20000"}, false},
        {"says no", {"--reply", "{PATH}={\"data\":true,\"success\":false}"}, false},
        {"stray percent", {"--reply", "{PATH}={\"data\":true,\"success\":true,\"message\":\"5%\"}"}, false},
    };
    for (const auto &c : cases) {
        for (const std::string path : {"/webservice/userSystem.action", "/webservice/categoryAndGradeJson.html"}) {
            SCOPED_TRACE(std::string(c.name) + " " + path);
            std::vector<std::string> switches;
            for (std::string s : c.switches) {
                if (const size_t at = s.find("{PATH}"); at != std::string::npos)
                    s.replace(at, 6, path);
                switches.push_back(s);
            }
            PlatformStubProcess stub(switches);
            WebServiceSoap_java service = Service(c.closed ? ClosedAddress() : Base(stub));
            if (path == "/webservice/userSystem.action")
                EXPECT_FALSE(service.CheckUserSystem().success);
            else
                EXPECT_FALSE(service.GetCategoryAndGrade().success);
        }
    }
}
