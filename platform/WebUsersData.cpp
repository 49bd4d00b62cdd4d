#include "platform/WebUsersData.h"

#include "app/Log.h"
#include "platform/WebClient.h"
#include "platform/UpLoadFileFilters.h"
#include "platform/UrlEncode.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <nlohmann/json.hpp>

#include <charconv>
#include <limits>
#include <optional>

using nlohmann::json;

namespace {
constexpr std::chrono::milliseconds SignInInactivityLimit{4000};
constexpr std::chrono::milliseconds AvatarInactivityLimit{7000};
constexpr int SignInAttempts = 2;
const QString NoReplyMessage = QStringLiteral("网络异常");
const QString Masked = QStringLiteral("***");

std::string SignInForm(const TTeacherLoginInfo &info)
{
    return "j_username=" + UrlEncode(info.UserName.toStdString())
           + "&j_password=" + UrlEncode(info.Password.toStdString())
           + "&moduleId=" + std::to_string(info.ModuleId)
           + "&deviceType=" + std::to_string(info.DeviceType)
           + "&isAppLogon=" + (info.IsAppLogon ? "-1" : "0");
}

// The text of a member as the platform's replies mean it: strings as they are, numbers and
// booleans in their JSON spelling, anything else (missing, null, objects) empty.
QString TextMember(const json &object, const char *name)
{
    const auto member = object.find(name);
    if (member == object.end())
        return {};
    if (member->is_string())
        return QString::fromStdString(member->get<std::string>());
    if (member->is_number() || member->is_boolean())
        return QString::fromStdString(member->dump());
    return {};
}

// A 32-bit integer given as a JSON integer or as decimal text; nothing for anything else,
// so that a missing or malformed value is never read as 0.
std::optional<int> IntegerMember(const json &object, const char *name)
{
    const auto member = object.find(name);
    if (member == object.end())
        return std::nullopt;
    long long value = 0;
    if (member->is_number_unsigned()) {
        if (member->get<unsigned long long>() > unsigned(std::numeric_limits<int>::max()))
            return std::nullopt;
        value = member->get<long long>();
    } else if (member->is_number_integer()) {
        value = member->get<long long>();
    } else if (member->is_string()) {
        const auto &text = member->get_ref<const std::string &>();
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || error != std::errc() || end != text.data() + text.size())
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(value);
}

// Reads a sign-in reply into the result. When the reply is not a JSON object with an integral
// status, Status stays -1 and Msg "网络异常", and the returned text says what was wrong.
QString ReadSignInReply(const std::string &reply, TTeacherLoginResult &result)
{
    const json object = json::parse(reply, nullptr, false);
    if (!object.is_object())
        return QStringLiteral("登录回复不是 JSON 对象");
    const std::optional<int> status = IntegerMember(object, "status");
    if (!status)
        return QStringLiteral("登录回复没有整数 status");
    result.Status = *status;
    result.Msg = TextMember(object, "msg");
    if (result.Status != 0)
        return {};
    const auto found = object.find("result");
    const json session = found != object.end() && found->is_object() ? *found : json::object();
    result.JSessionId = TextMember(session, "jsessionid");
    result.UserId = TextMember(session, "userId");
    result.UserName = TextMember(session, "userName");
    result.UserNameCopy = result.UserName;
    result.HostUrl = TextMember(session, "hostUrl");
    result.ServerUrl = TextMember(session, "serverUrl");
    result.ServerType = IntegerMember(session, "serverType").value_or(0);
    result.Photo = TextMember(session, "photo");
    return {};
}

// The text as it may go to the log: the value of any "jsessionid" member, and every copy of
// the password and of the session id, replaced.
QString WithoutSecrets(QString text, const QString &password, const QString &sessionId = {})
{
    static const QRegularExpression sessionMember(
        QStringLiteral(R"(("jsessionid"\s*:\s*)("(?:[^"\\]|\\.)*"|[^,}\]\s]+))"),
        QRegularExpression::CaseInsensitiveOption);
    text.replace(sessionMember, QStringLiteral("\\1\"***\""));
    for (const QString &secret : {password, sessionId}) {
        if (!secret.isEmpty())
            text.replace(secret, Masked);
    }
    return text;
}

bool FitsInCookie(const QString &value)
{
    for (QChar c : value) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QLatin1Char(';'))
            return false;
    }
    return true;
}
}  // namespace

TTeacherLoginResult TWebUsersData::Login(const QString &baseUrl, const TTeacherLoginInfo &info,
                                         std::stop_token stop)
{
    TTeacherLoginResult result;
    for (int attempt = 1; attempt <= SignInAttempts; ++attempt) {
        result = TTeacherLoginResult{};
        result.Msg = NoReplyMessage;
        if (baseUrl.isEmpty()) {
            result.Failed = true;
            return result;
        }
        const QString address = baseUrl + QStringLiteral("/j_spring_security_check");
        try {
            THttpOptions options;
            options.inactivityLimit = SignInInactivityLimit;
            options.followRedirects = true;
            options.cookieEngine = true;
            options.stop = stop;
            TWebClient http(std::move(options));
            Notice(WithoutSecrets(address, info.Password));
            Notice(WithoutSecrets(QStringLiteral("提交data = ") + info.Data, info.Password));
            const std::string reply = http.PostForm(address.toStdString(), SignInForm(info));
            const QString problem = ReadSignInReply(reply, result);
            Notice(WithoutSecrets(QString::fromStdString(reply), info.Password, result.JSessionId));
            if (!problem.isEmpty())
                Notice(problem);
        } catch (const TAppError &error) {
            result.Msg = error.Message();
            Notice(WithoutSecrets(address + QStringLiteral(": ") + result.Msg, info.Password));
            result.Failed = true;
        }
        result.Success = result.Status == 0;
        if (!result.Failed || stop.stop_requested())
            break;
    }
    return result;
}

QString TWebUsersData::SaveAvatar(const QString &baseUrl, const QString &picturePath,
                                  const QString &sessionId, std::stop_token stop)
{
    if (!FitsInCookie(sessionId))
        throw EHttpError(QStringLiteral("会话ID含有不允许的字符，头像未上传"));
    THttpOptions options;
    options.inactivityLimit = AvatarInactivityLimit;
    options.followRedirects = true;
    options.cookieEngine = true;
    options.forceHttp11 = true;
    options.extraHeaders = {"Cookie: JSESSIONID=" + sessionId.toStdString()};
    options.stop = stop;
    TWebClient http(std::move(options));
    const QString extension = QStringLiteral(".") + QFileInfo(picturePath).suffix();
    const std::string reply =
        http.PostFile((baseUrl + QStringLiteral("/app/user/saveAvatar.do")).toStdString(), "avatar",
                      picturePath.toStdString(), MimeTypeOf(extension).toStdString());
    return QString::fromStdString(reply);
}

QString TWebUsersData::MimeTypeOf(const QString &extension)
{
    return TUpLoadFileFilters::MimeTypeOf(extension);
}
