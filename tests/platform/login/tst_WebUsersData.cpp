#include "app/Errors.h"
#include "app/Log.h"
#include "platform/WebUsersData.h"

#include "PlatformStubProcess.h"
#include "tests/support/LoopbackAddresses.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace {

constexpr char SignInPath[] = "/j_spring_security_check";

QString Q(const std::string &text)
{
    return QString::fromStdString(text);
}

TTeacherLoginInfo Credentials(const QString &user, const QString &password)
{
    TTeacherLoginInfo info;
    info.UserName = user;
    info.Password = password;
    return info;
}

std::vector<nlohmann::json> RequestsTo(const PlatformStubProcess &stub, const std::string &path)
{
    std::vector<nlohmann::json> found;
    for (const nlohmann::json &entry : stub.Requests()) {
        if (entry.value("path", "") == path)
            found.push_back(entry);
    }
    return found;
}


TEST(SignIn, SendsTheFormAndReadsTheTeacher)
{
    PlatformStubProcess stub;
    const TTeacherLoginResult result = TWebUsersData().Login(Q(stub.BaseUrl()), Credentials("demo", "demo"));

    EXPECT_TRUE(result.Success);
    EXPECT_FALSE(result.Failed);
    EXPECT_EQ(result.Status, 0);
    EXPECT_EQ(result.Msg, QStringLiteral("登录成功"));
    EXPECT_EQ(result.UserId, QStringLiteral("demo"));
    EXPECT_EQ(result.UserName, QStringLiteral("演示老师"));
    EXPECT_EQ(result.UserNameCopy, result.UserName);
    EXPECT_EQ(result.Photo, Q(stub.BaseUrl() + "/photo/demo.png"));
    EXPECT_EQ(result.HostUrl, Q(stub.BaseUrl()));
    EXPECT_EQ(result.ServerType, 1);
    EXPECT_FALSE(result.JSessionId.isEmpty());

    const auto requests = RequestsTo(stub, SignInPath);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["method"], "POST");
    EXPECT_EQ(requests[0]["headers"]["Content-Type"], "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[0]["body"], "j_username=demo&j_password=demo&moduleId=25&deviceType=4&isAppLogon=-1");
}

struct FormCase {
    const char *account;  // the stub's --account USER:PASSWORD
    const char *user;
    const char *password;
    const char *body;
};

class SignInForm : public testing::TestWithParam<FormCase> {};

// Every value is form-encoded, so that "&", "=", "+" and "%" in a password reach the platform
// as they were typed; plain values are sent byte for byte.
TEST_P(SignInForm, ValuesArriveUnchanged)
{
    PlatformStubProcess stub({"--account", GetParam().account});
    const TTeacherLoginResult result = TWebUsersData().Login(
        Q(stub.BaseUrl()), Credentials(QString::fromUtf8(GetParam().user), QString::fromUtf8(GetParam().password)));
    EXPECT_TRUE(result.Success) << result.Msg.toStdString();
    const auto requests = RequestsTo(stub, SignInPath);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["body"], GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SignInForm,
    testing::Values(
        FormCase{"u:", "u", "", "j_username=u&j_password=&moduleId=25&deviceType=4&isAppLogon=-1"},
        FormCase{"t.001:Pa-ss_w*rd", "t.001", "Pa-ss_w*rd",
                 "j_username=t.001&j_password=Pa-ss_w*rd&moduleId=25&deviceType=4&isAppLogon=-1"},
        FormCase{"a&b=c:p&j_password=x+y%20 z", "a&b=c", "p&j_password=x+y%20 z",
                 "j_username=a%26b%3Dc&j_password=p%26j_password%3Dx%2By%2520+z"
                 "&moduleId=25&deviceType=4&isAppLogon=-1"},
        FormCase{"张老师:密码1", "张老师", "密码1",
                 "j_username=%E5%BC%A0%E8%80%81%E5%B8%88&j_password=%E5%AF%86%E7%A0%811"
                 "&moduleId=25&deviceType=4&isAppLogon=-1"}));

TEST(SignIn, RedirectKeepsTheSessionCookie)
{
    PlatformStubProcess stub({"--login-redirect"});
    const TTeacherLoginResult result = TWebUsersData().Login(Q(stub.BaseUrl()), Credentials("demo", "demo"));
    ASSERT_TRUE(result.Success) << result.Msg.toStdString();
    const auto followed = RequestsTo(stub, "/app/login/result.do");
    ASSERT_EQ(followed.size(), 1u);
    EXPECT_EQ(followed[0]["status"], 200);
    EXPECT_EQ(followed[0]["headers"]["Cookie"], "JSESSIONID=" + result.JSessionId.toStdString());
}

TEST(SignIn, WrongPasswordIsTheReplyAndNotRetried)
{
    PlatformStubProcess stub;
    const TTeacherLoginResult result = TWebUsersData().Login(Q(stub.BaseUrl()), Credentials("demo", "nope"));
    EXPECT_FALSE(result.Success);
    EXPECT_FALSE(result.Failed);
    EXPECT_EQ(result.Status, 1);
    EXPECT_EQ(result.Msg, QStringLiteral("用户名或密码错误"));
    EXPECT_TRUE(result.JSessionId.isEmpty());
    EXPECT_EQ(RequestsTo(stub, SignInPath).size(), 1u);
}

struct TransportCase {
    const char *fault;
    const char *argument;
    bool succeeds;       // the second attempt gets through
    const char *message;  // part of Msg after a failure
};

class SignInTransport : public testing::TestWithParam<TransportCase> {};

// A transport error, time-out or HTTP error is tried once more, then reported with its text.
TEST_P(SignInTransport, ErrorIsRetriedOnce)
{
    PlatformStubProcess stub({GetParam().fault, GetParam().argument});
    const TTeacherLoginResult result = TWebUsersData().Login(Q(stub.BaseUrl()), Credentials("demo", "demo"));
    EXPECT_EQ(RequestsTo(stub, SignInPath).size(), 2u);
    EXPECT_EQ(result.Success, GetParam().succeeds);
    EXPECT_EQ(result.Failed, !GetParam().succeeds);
    if (!GetParam().succeeds) {
        EXPECT_EQ(result.Status, -1);
        EXPECT_TRUE(result.Msg.contains(QString::fromUtf8(GetParam().message))) << result.Msg.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SignInTransport,
    testing::Values(TransportCase{"--drop-first", "/j_spring_security_check=1", true, ""},
                    TransportCase{"--drop-first", "/j_spring_security_check=2", false, "Empty reply"},
                    TransportCase{"--reply-status", "/j_spring_security_check=500", false, "HTTP 500"},
                    TransportCase{"--reply-status", "/j_spring_security_check=404", false, "HTTP 404"}));

TEST(SignIn, RefusedConnectionIsRetriedOnceAndLogged)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    OpenProgramLog(folder.path() + QStringLiteral("/Logs/"), QStringLiteral("log.txt"));
    const QString address = Q(sc_test::ClosedPortUrl());
    const TTeacherLoginResult result = TWebUsersData().Login(address, Credentials("demo", "demo"));
    CloseProgramLog();

    EXPECT_TRUE(result.Failed);
    EXPECT_FALSE(result.Success);
    EXPECT_TRUE(result.Msg.contains(QStringLiteral("onnect"))) << result.Msg.toStdString();
    QFile log(folder.path() + QStringLiteral("/Logs/log.txt"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    const QString errorLine = address + QStringLiteral("/j_spring_security_check: ") + result.Msg;
    EXPECT_EQ(text.count(errorLine), 2) << text.toStdString();
}

TEST(SignIn, StalledServerTimesOutTwice)
{
    PlatformStubProcess stub({"--slow", SignInPath, "--slow-ms", "60000"});
    const TTeacherLoginResult result = TWebUsersData().Login(Q(stub.BaseUrl()), Credentials("demo", "demo"));
    EXPECT_TRUE(result.Failed);
    EXPECT_TRUE(result.Msg.startsWith(QStringLiteral("Read timed out after 4000 ms"))) << result.Msg.toStdString();
    EXPECT_EQ(RequestsTo(stub, SignInPath).size(), 2u);
}

TEST(SignIn, StopRequestEndsTheSignInWithoutRetry)
{
    PlatformStubProcess stub({"--slow", SignInPath, "--slow-ms", "60000"});
    std::stop_source stop;
    auto signIn = std::async(std::launch::async, [&] {
        return TWebUsersData().Login(Q(stub.BaseUrl()), Credentials("demo", "demo"), stop.get_token());
    });
    while (RequestsTo(stub, SignInPath).empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop.request_stop();
    const TTeacherLoginResult result = signIn.get();
    EXPECT_TRUE(result.Failed);
    EXPECT_EQ(result.Msg, QStringLiteral("Request cancelled"));
    EXPECT_EQ(RequestsTo(stub, SignInPath).size(), 1u);
}

TEST(SignIn, NoAddressSendsNothing)
{
    const TTeacherLoginResult result = TWebUsersData().Login(QString(), Credentials("demo", "demo"));
    EXPECT_TRUE(result.Failed);
    EXPECT_FALSE(result.Success);
    EXPECT_EQ(result.Status, -1);
    EXPECT_EQ(result.Msg, QStringLiteral("网络异常"));
}

struct ReplyCase {
    const char *reply;
    int status;       // expected Status
    const char *msg;  // expected Msg
};

class SignInReply : public testing::TestWithParam<ReplyCase> {};

// Only a JSON object with an integral status is a reply; anything else reads as no reply
// ("网络异常"), never as a success, and is not retried.
TEST_P(SignInReply, IsReadStrictly)
{
    PlatformStubProcess stub({"--reply", std::string(SignInPath) + "=" + GetParam().reply});
    const TTeacherLoginResult result = TWebUsersData().Login(Q(stub.BaseUrl()), Credentials("demo", "demo"));
    EXPECT_EQ(result.Status, GetParam().status);
    EXPECT_EQ(result.Msg, QString::fromUtf8(GetParam().msg));
    EXPECT_EQ(result.Success, GetParam().status == 0);
    EXPECT_FALSE(result.Failed);
    EXPECT_EQ(RequestsTo(stub, SignInPath).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SignInReply,
    testing::Values(ReplyCase{"<html><body>Login</body></html>", -1, "网络异常"},
                    ReplyCase{"", -1, "网络异常"},
                    ReplyCase{R"({"status":0,"msg":"ok")", -1, "网络异常"},
                    ReplyCase{R"({"msg":"ok","result":{"jsessionid":"S"}})", -1, "网络异常"},
                    ReplyCase{R"({"status":"abc","msg":"ok"})", -1, "网络异常"},
                    ReplyCase{R"({"status":null,"msg":"ok"})", -1, "网络异常"},
                    ReplyCase{R"({"status":0.5,"msg":"ok"})", -1, "网络异常"},
                    ReplyCase{R"({"status":true,"msg":"ok"})", -1, "网络异常"},
                    ReplyCase{R"({"status":4294967296,"msg":"ok"})", -1, "网络异常"},
                    ReplyCase{R"([{"status":0}])", -1, "网络异常"},
                    ReplyCase{R"({"status":"3","msg":"账号已停用"})", 3, "账号已停用"},
                    ReplyCase{R"({"status":-2})", -2, ""},
                    ReplyCase{R"({"status":0,"msg":"ok","result":{"jsessionid":"S","userId":7}})", 0, "ok"}));

TEST(SignIn, LogKeepsNeitherPasswordNorSession)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    PlatformStubProcess stub({"--account", "t9:Secr3t&pw"});
    OpenProgramLog(folder.path() + QStringLiteral("/Logs/"), QStringLiteral("log.txt"));
    const TTeacherLoginResult result = TWebUsersData().Login(Q(stub.BaseUrl()), Credentials("t9", "Secr3t&pw"));
    CloseProgramLog();
    ASSERT_TRUE(result.Success);
    ASSERT_GE(result.JSessionId.size(), 8);

    QFile log(folder.path() + QStringLiteral("/Logs/log.txt"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(text.contains(Q(stub.BaseUrl()) + QStringLiteral("/j_spring_security_check")));
    EXPECT_TRUE(text.contains(QStringLiteral("提交data = ")));
    EXPECT_TRUE(text.contains(QStringLiteral(R"("jsessionid":"***")"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("登录成功")));
    EXPECT_FALSE(text.contains(result.JSessionId));
    EXPECT_FALSE(text.contains(QStringLiteral("Secr3t")));
}

TEST(SignIn, LogMasksASessionIdGivenAsNumber)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    PlatformStubProcess stub(
        {"--reply", std::string(SignInPath) + R"(={"status":0,"msg":"ok","result":{"jsessionid":987654321,"data":"987654321"}})"});
    OpenProgramLog(folder.path() + QStringLiteral("/Logs/"), QStringLiteral("log.txt"));
    const TTeacherLoginResult result = TWebUsersData().Login(Q(stub.BaseUrl()), Credentials("demo", "demo"));
    CloseProgramLog();
    ASSERT_EQ(result.JSessionId, QStringLiteral("987654321"));

    QFile log(folder.path() + QStringLiteral("/Logs/log.txt"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral(R"("jsessionid":"***")"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("987654321"))) << text.toStdString();
}

class AvatarUpload : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        picture = folder.filePath(QStringLiteral("teacher.png"));
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::red);
        ASSERT_TRUE(image.save(picture, "PNG"));
    }

    PlatformStubProcess stub;
    QTemporaryDir folder;
    QString picture;
};

TEST_F(AvatarUpload, SendsThePictureWithTheSessionCookie)
{
    const TTeacherLoginResult signIn = TWebUsersData().Login(Q(stub.BaseUrl()), Credentials("demo", "demo"));
    ASSERT_TRUE(signIn.Success);
    const QString reply = TWebUsersData().SaveAvatar(Q(stub.BaseUrl()), picture, signIn.JSessionId);

    const auto replyJson = nlohmann::json::parse(reply.toStdString());
    EXPECT_EQ(replyJson["status"], 0);
    EXPECT_EQ(replyJson["result"].get<std::string>().rfind(stub.BaseUrl() + "/photo/", 0), 0u);
    const auto requests = RequestsTo(stub, "/app/user/saveAvatar.do");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["headers"]["Cookie"], "JSESSIONID=" + signIn.JSessionId.toStdString());
    EXPECT_EQ(requests[0]["part"]["name"], "avatar");
    EXPECT_EQ(requests[0]["part"]["filename"], "teacher.png");
    EXPECT_EQ(requests[0]["part"]["type"], "image/png");
}

TEST_F(AvatarUpload, HttpErrorIsRaised)
{
    PlatformStubProcess failing({"--reply-status", "/app/user/saveAvatar.do=500"});
    const TTeacherLoginResult signIn = TWebUsersData().Login(Q(failing.BaseUrl()), Credentials("demo", "demo"));
    ASSERT_TRUE(signIn.Success);
    EXPECT_THROW(TWebUsersData().SaveAvatar(Q(failing.BaseUrl()), picture, signIn.JSessionId), TAppError);
}

TEST_F(AvatarUpload, MissingPictureIsRaised)
{
    EXPECT_THROW(TWebUsersData().SaveAvatar(Q(stub.BaseUrl()), folder.filePath(QStringLiteral("none.png")),
                                            QStringLiteral("S")),
                 TAppError);
    EXPECT_TRUE(RequestsTo(stub, "/app/user/saveAvatar.do").empty());
}

// A session id from the server that could end the Cookie header or add another one is never sent.
TEST_F(AvatarUpload, UnsafeSessionIdIsRefusedBeforeSending)
{
    for (const char *session : {"S\r\nX-Injected: 1", "S; Path=/", "S\n", "a\x01" "b", "\x7f"}) {
        EXPECT_THROW(TWebUsersData().SaveAvatar(Q(stub.BaseUrl()), picture, QString::fromUtf8(session)),
                     TAppError)
            << session;
    }
    EXPECT_TRUE(RequestsTo(stub, "/app/user/saveAvatar.do").empty());
}

}  // namespace
