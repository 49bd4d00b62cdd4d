#pragma once

#include <QDateTime>
#include <QString>

#include <chrono>
#include <stop_token>

// Registration parameters; the upload task leaves managerid and token empty.
struct TAddVideoParms {
    QString managerid;
    QString token;
    QString title;
    QString speaker;
    QString category;  // decimal subject id
    QString grade;     // decimal grade id
    QString remark;
    QString fileName;  // the cleaned name the upload reported
    QString sessionId; // the upload's key
    QString fileSize;  // decimal
};

struct TAddVideoResult {
    QString errorCode;
    QString message;
    QString success;  // "true" or "false"
    QString id;
};

struct TCategoryAndGradeJson {
    QString errorCode, html, key, uri, message;
    bool success = false;
    QString id;
    QString data;  // the category document (JSON text)
};

struct TUserSystemResult {
    bool data = false;
    bool success = false;
};

// The platform's web service: the platform check, the grade and subject lists, and the
// registration of an uploaded video. One object per use, on a worker thread; each call
// blocks. Every failure is reported in the result, never thrown.
class WebServiceSoap_java {
public:
    QString ServiceUrl;  // base address, without a trailing "/"
    std::stop_token Stop;  // ends a waiting call early, as a failed one

    TAddVideoResult AddVideo(const TAddVideoParms &parms);
    TCategoryAndGradeJson GetCategoryAndGrade();
    TUserSystemResult CheckUserSystem();

    static bool IsTrue(const QString &text);

    // The last registration request and its reply with the error description appended.
    QString LastUrl;
    QString LastReply;
    QDateTime RequestTime;

    // Read time-outs; tests shorten them.
    std::chrono::milliseconds RegistrationTimeout{30000};
    std::chrono::milliseconds ListTimeout{7000};
    std::chrono::milliseconds PauseAfterRegistration{500};

private:
    QString GetWithErrorText(const QString &address);
    // The reply body of a GET, or nullopt-like empty with ok false on any failure.
    bool Get(const QString &address, std::chrono::milliseconds timeout, std::string &body);
};
