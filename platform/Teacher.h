#pragma once

#include "platform/WebUsersData.h"

#include <QString>

// The signed-in teacher. One instance, `Teacher`, lives for the whole program; it is empty
// until a sign-in and is read and written on the main thread only.
class TTeacher {
public:
    QString PhotoUrl;      // address of the avatar picture on the platform
    int LoginStatus = -1;  // status of the last sign-in reply, -1 when there was none
    QString LastMessage;   // msg of the last reply, or the error text
    QString SessionId;     // session of the platform, sent as a cookie by the avatar upload
    QString UserId;        // the account
    QString DisplayName;   // the teacher's name
    QString LocalFolder;   // folder of the local avatar file, with trailing separator
    QString HomeUrl;       // platform address the sign-in went to

    // Takes over what a sign-in returned; every member is overwritten, also after a failure.
    void TakeLoginResult(const TTeacherLoginResult &result, const QString &homeUrl,
                         const QString &localFolder);

    // LocalFolder + "teacher.png": where the avatar dialog keeps the teacher's own picture.
    QString DefaultAvatarPath() const;
    // LocalFolder + the file name of PhotoUrl; the default avatar path when PhotoUrl gives
    // no usable file name.
    QString AvatarPath() const;
};

// The file name the avatar at `photoUrl` is stored under: the text after the last "/",
// without query or fragment. Empty when that is no safe name for a file in the avatar
// folder (empty, "." or "..", a backslash, control characters, too long).
QString AvatarFileNameOf(const QString &photoUrl);

extern TTeacher Teacher;
