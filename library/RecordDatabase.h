#pragma once

#include "library/RecordData.h"

#include <functional>
#include <optional>

// The statements on the table FRecord of Record.mdb, all issued on the main thread through the
// data module's query. The table is created when the file or the table is missing; a file that
// is not a database is never changed: the operation reports the error instead.

// Enters a finished recording; returns its new RID. RDate is now, RDateLen "00:00:00" (the
// recording clock has been reset when a row is written). Throws EDatabaseError.
qint32 InsertRecording(const TRecordData &row);

// Writes Speaker, VideoName, CategoryGuid, GradeGuid and LessonGuid of the row with row.RID.
// Throws EDatabaseError, also when no row has that RID.
void UpdateRecordingInfo(const TRecordData &row);

// The number of rows of a user; no value when the query failed (the error is logged as
// "查询数据库出错：" + message).
std::optional<int> CountRecordings(const QString &userGuid);

// Hands the user's rows to onRow, newest first, each before the next is read.
// Throws EDatabaseError.
void ListRecordings(const QString &userGuid, const std::function<void(const TRecordData &)> &onRow);

// Deletes the row; returns true when it failed (the user was shown "数据删除错误！"). A RID
// that no longer exists is not a failure.
bool DeleteRecording(qint32 rid);

// Stores an upload state reported for the row. State 1 is never stored. Throws EDatabaseError.
void SetUploadStatus(qint32 rid, int status);

// The stored form of RDate: local time, sortable as text.
QString RecordDateText(const QDateTime &moment);
