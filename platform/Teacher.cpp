#include "platform/Teacher.h"

#include "platform/TrimBlanks.h"

TTeacher Teacher;

namespace {
constexpr auto DefaultAvatarName = "teacher.png";
// Longest file name the usual Linux file systems accept, in bytes.
constexpr qsizetype MaxFileNameBytes = 255;

bool HasControlCharacter(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    }
    return false;
}
}  // namespace

void TTeacher::TakeLoginResult(const TTeacherLoginResult &result, const QString &homeUrl,
                               const QString &localFolder)
{
    PhotoUrl = result.Photo;
    LoginStatus = result.Status;
    SessionId = result.JSessionId;
    LastMessage = result.Msg;
    DisplayName = result.UserName;
    UserId = result.UserId;
    HomeUrl = homeUrl;
    LocalFolder = localFolder;
}

QString TTeacher::DefaultAvatarPath() const
{
    return LocalFolder + QLatin1String(DefaultAvatarName);
}

QString TTeacher::AvatarPath() const
{
    const QString name = AvatarFileNameOf(PhotoUrl);
    return name.isEmpty() ? DefaultAvatarPath() : LocalFolder + name;
}

QString AvatarFileNameOf(const QString &photoUrl)
{
    QString address = TrimBlanks(photoUrl);
    for (qsizetype i = 0; i < address.size(); ++i) {
        if (address.at(i) == QLatin1Char('?') || address.at(i) == QLatin1Char('#')) {
            address.truncate(i);
            break;
        }
    }
    const QString name = address.mid(address.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")
        || name.contains(QLatin1Char('\\')) || HasControlCharacter(name)
        || name.toUtf8().size() > MaxFileNameBytes)
        return {};
    return name;
}
