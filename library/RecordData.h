#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

struct TGrade;
struct TCategory;

// Upload states of a recording row. 1 lives only in memory while a task runs.
namespace UploadStatus {
constexpr int NotUploaded = 0;
constexpr int Uploading = 1;
constexpr int Uploaded = 2;
constexpr int UploadFailed = 3;
constexpr int RegistrationFailed = 4;
constexpr int StoppedByUser = 5;
constexpr int Registering = 6;
}  // namespace UploadStatus

// One recording row in memory, copied by value: the history keeps one per entry, the main
// window one for the recording just made, each upload task its own.
struct TRecordData {
    QString PlatformUrl;
    QString Title;
    QString UploadSession;
    qint64 FileSize = 0;
    const QList<TGrade> *GradeList = nullptr;        // not owned
    const QList<TCategory> *CategoryList = nullptr;  // not owned
    qint32 RID = -1;
    QString RFileName;
    QString RFilePath;
    QString RDateText;
    QString RDateLen;
    QString RRemark;
    QString CreateUserGuid;
    QString Speaker;
    QString Summary;
    QString Description;
    QString CategoryGuid;
    QString TextBookGuid;
    QString GradeGuid;
    QString LessonGuid;
    QString ApplicationGuid;
    QString userGuid;
    qint32 Period = 0;
    QString UploadUrl;
    QString VideoName;
    QDateTime RDateValue;
    QString UploadId;
    qint32 UploadStatus = 0;
};
