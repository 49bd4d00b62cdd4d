#pragma once

#include <QString>

#include <stop_token>

// What the sign-in sends besides the credentials is fixed by the platform.
struct TTeacherLoginInfo {
    QString UserName;
    QString Password;
    int DeviceType = 4;
    int ModuleId = 25;
    bool IsAppLogon = true;
    QString Data;  // only written to the log
};

// The outcome of a sign-in: the platform's reply, or the error that kept it from coming.
struct TTeacherLoginResult {
    bool Failed = false;   // the last attempt raised an error, or there was no address
    bool Success = false;  // Status == 0
    QString UserNameCopy;
    QString HostUrl;
    QString ServerUrl;
    int ServerType = 0;
    QString Photo;
    int Status = -1;
    QString Msg;
    QString JSessionId;
    QString UserId;
    QString UserName;
};

// The platform's user calls: the sign-in and the avatar upload. Both block; they are made
// on worker threads and touch no program-wide object except the log.
class TWebUsersData {
public:
    // Posts the credentials to baseUrl + "/j_spring_security_check". A transport error,
    // time-out or HTTP error is retried once; a reply is never retried. A reply that is not
    // a JSON object with an integral "status" leaves Status -1 and Msg "网络异常".
    // A stop request ends the sign-in as failed without a retry.
    TTeacherLoginResult Login(const QString &baseUrl, const TTeacherLoginInfo &info,
                              std::stop_token stop = {});

    // Uploads the picture as the teacher's new avatar, with the session as its cookie, and
    // returns the platform's reply. Throws TAppError on any failure, including a session id
    // that cannot go into a Cookie header.
    QString SaveAvatar(const QString &baseUrl, const QString &picturePath,
                       const QString &sessionId, std::stop_token stop = {});

    // The content type of a file with this extension (with its dot).
    static QString MimeTypeOf(const QString &extension);
};
