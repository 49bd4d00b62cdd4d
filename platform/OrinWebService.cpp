#include "platform/OrinWebService.h"

#include "app/Log.h"
#include "platform/WebClient.h"
#include "platform/UrlEncode.h"
#include "platform/WebReplies.h"

#include <thread>

namespace {

// Appends name=value with the value form-encoded: a value holding "&" or "=" cannot add
// parameters of its own.
void AppendParam(QString &address, bool &first, const char *name, const QString &value)
{
    if (!first)
        address += QLatin1Char('&');
    first = false;
    address += QLatin1String(name) + QLatin1Char('=') +
               QString::fromLatin1(UrlEncode(value.toUtf8().toStdString()));
}

QString Text(const std::string &utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }

}  // namespace

bool WebServiceSoap_java::IsTrue(const QString &text)
{
    return ::IsTrue(text.toStdString());
}

bool WebServiceSoap_java::Get(const QString &address, std::chrono::milliseconds timeout, std::string &body)
{
    THttpOptions options;
    options.inactivityLimit = timeout;
    options.stop = Stop;
    try {
        body = TWebClient(options).Get(address.toStdString());
        return true;
    } catch (const TAppError &error) {
        Notice(address + QStringLiteral(": ") + error.Message());
        return false;
    }
}

QString WebServiceSoap_java::GetWithErrorText(const QString &address)
{
    LastUrl = address;
    RequestTime = QDateTime::currentDateTime();
    DebugTrace(address);
    std::string body;
    QString reply;
    if (Get(address, RegistrationTimeout, body)) {
        LastReply = Text(body + ErrorCodeText(body));
        reply = LastReply;
    } else {
        LastReply = QStringLiteral("访问报错！");
    }
    // The platform asks for a pause between registrations.
    std::this_thread::sleep_for(PauseAfterRegistration);
    return reply;
}

TAddVideoResult WebServiceSoap_java::AddVideo(const TAddVideoParms &parms)
{
    QString address = ServiceUrl + QStringLiteral("/webservice/addVideo.action?");
    bool first = true;
    AppendParam(address, first, "managerid", parms.managerid);
    AppendParam(address, first, "token", parms.token);
    AppendParam(address, first, "title", parms.title);
    AppendParam(address, first, "speaker", parms.speaker);
    AppendParam(address, first, "category", parms.category);
    AppendParam(address, first, "grade", parms.grade);
    AppendParam(address, first, "remark", parms.remark);
    AppendParam(address, first, "fileName", parms.fileName);
    AppendParam(address, first, "sessionId", parms.sessionId);
    AppendParam(address, first, "fileSize", parms.fileSize);

    const TAddVideoReply reply = ReadAddVideoReply(GetWithErrorText(address).toStdString());
    return {Text(reply.errorCode), Text(reply.message), Text(reply.success), Text(reply.id)};
}

TCategoryAndGradeJson WebServiceSoap_java::GetCategoryAndGrade()
{
    TCategoryAndGradeJson result;
    std::string body;
    if (!Get(ServiceUrl + QStringLiteral("/webservice/categoryAndGradeJson.html"), ListTimeout, body))
        return result;
    const TCategoryAndGradeReply reply = ReadCategoryAndGradeReply(body);
    result.errorCode = Text(reply.errorCode);
    result.html = Text(reply.html);
    result.key = Text(reply.key);
    result.uri = Text(reply.uri);
    result.message = Text(reply.message);
    result.success = reply.success;
    result.id = Text(reply.id);
    result.data = Text(reply.data);
    return result;
}

TUserSystemResult WebServiceSoap_java::CheckUserSystem()
{
    std::string body;
    if (!Get(ServiceUrl + QStringLiteral("/webservice/userSystem.action"), ListTimeout, body))
        return {};
    const TUserSystemReply reply = ReadUserSystemReply(body);
    return {reply.data, reply.success};
}
