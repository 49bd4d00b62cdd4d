#include "library/RecordDatabase.h"

#include "app/DataModule.h"
#include "app/Errors.h"
#include "app/Log.h"
#include "app/MessageBox.h"

namespace {

const QString StoredDateFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");
const QString ShortDateFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

// Auto-numbers are never reused (AUTOINCREMENT), as the Access tables this replaces did: an
// upload still reporting for a deleted row must not reach a newer one.
const QString CreateTable = QStringLiteral(
    "create table if not exists FRecord ("
    "RID integer primary key autoincrement, RFileName text, RFilePath text, RDate text, RDateLen text, "
    "RRemark text, CreateUserGuid text, Speaker text, Summary text, Description text, CategoryGuid text, "
    "GradeGuid text, TextBookGuid text, LessonGuid text, ApplicationGuid text, UserGuid text, "
    "Period integer, VideoName text, UploadStatus integer)");

TRDM &DataModule()
{
    if (!RDM)
        throw EDatabaseError(QStringLiteral("数据库尚未准备好：数据模块不存在"));
    return *RDM;
}

// A fresh install has no database: the file and the table are made on first use. A file that
// is not a database fails here with the data layer's error and stays untouched.
void EnsureTable(TDbQuery &query)
{
    query.SetSQL(CreateTable);
    query.ExecSQL();
}

// Texts are stored as text even when empty: a null text would be stored as NULL, which no
// "UserGuid=''" comparison finds.
QVariant Text(const QString &value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

QDateTime StoredDate(const QString &text)
{
    QDateTime moment = QDateTime::fromString(text, StoredDateFormat);
    if (!moment.isValid())
        moment = QDateTime::fromString(text, ShortDateFormat);
    return moment;
}

TRecordData RowOf(const TDbQuery &query)
{
    TRecordData row;
    row.RID = query.Field(QStringLiteral("RID")).toInt();
    row.RFileName = query.Field(QStringLiteral("RFileName")).toString();
    row.RFilePath = query.Field(QStringLiteral("RFilePath")).toString();
    row.RDateValue = StoredDate(query.Field(QStringLiteral("RDate")).toString());
    row.RDateText = row.RDateValue.isValid() ? row.RDateValue.toString(ShortDateFormat)
                                             : query.Field(QStringLiteral("RDate")).toString();
    row.RRemark = query.Field(QStringLiteral("RRemark")).toString();
    row.CreateUserGuid = query.Field(QStringLiteral("CreateUserGuid")).toString();
    row.Speaker = query.Field(QStringLiteral("Speaker")).toString();
    row.Summary = query.Field(QStringLiteral("Summary")).toString();
    row.Description = query.Field(QStringLiteral("Description")).toString();
    row.CategoryGuid = query.Field(QStringLiteral("CategoryGuid")).toString();
    row.GradeGuid = query.Field(QStringLiteral("GradeGuid")).toString();
    row.TextBookGuid = query.Field(QStringLiteral("TextBookGuid")).toString();
    row.LessonGuid = query.Field(QStringLiteral("LessonGuid")).toString();
    row.ApplicationGuid = query.Field(QStringLiteral("ApplicationGuid")).toString();
    row.userGuid = query.Field(QStringLiteral("UserGuid")).toString();
    row.Period = query.Field(QStringLiteral("Period")).toInt();
    row.VideoName = query.Field(QStringLiteral("VideoName")).toString();
    row.UploadStatus = query.Field(QStringLiteral("UploadStatus")).toInt();  // NULL reads 0
    return row;
}

}  // namespace

QString RecordDateText(const QDateTime &moment)
{
    return moment.toString(StoredDateFormat);
}

qint32 InsertRecording(const TRecordData &row)
{
    TRDM &dm = DataModule();
    TDbQuery &query = dm.AcquireQuery();
    TQueryRelease release(dm, query);
    EnsureTable(query);
    query.SetSQL(QStringLiteral(
        "insert into FRecord (RFileName, RFilePath, RDate, RDateLen, CreateUserGuid, Speaker, Summary, "
        "Description, CategoryGuid, GradeGuid, LessonGuid, ApplicationGuid, Period, userGuid, VideoName, RRemark) "
        "values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant &value :
         {Text(row.RFileName), Text(row.RFilePath), QVariant(RecordDateText(QDateTime::currentDateTime())),
          QVariant(QStringLiteral("00:00:00")), Text(row.CreateUserGuid), Text(row.Speaker),
          Text(row.Summary), Text(row.Description), Text(row.CategoryGuid), Text(row.GradeGuid),
          Text(row.LessonGuid), Text(row.ApplicationGuid), QVariant(row.Period), Text(row.userGuid),
          Text(row.VideoName), Text(row.RRemark)})
        query.Bind(value);
    query.ExecSQL();
    // The statement's own identity: correct even if another row was added meanwhile.
    return qint32(query.LastInsertId());
}

void UpdateRecordingInfo(const TRecordData &row)
{
    TRDM &dm = DataModule();
    TDbQuery &query = dm.AcquireQuery();
    TQueryRelease release(dm, query);
    EnsureTable(query);
    query.SetSQL(QStringLiteral(
        "update FRecord set Speaker=?, VideoName=?, CategoryGuid=?, GradeGuid=?, LessonGuid=? where RID=?"));
    for (const QVariant &value : {Text(row.Speaker), Text(row.VideoName), Text(row.CategoryGuid),
                                  Text(row.GradeGuid), Text(row.LessonGuid), QVariant(row.RID)})
        query.Bind(value);
    query.ExecSQL();
    if (query.RowsAffected() < 1)
        throw EDatabaseError(QStringLiteral("数据库 %1 中没有编号为 %2 的录制记录").arg(query.DatabaseFile()).arg(row.RID));
}

std::optional<int> CountRecordings(const QString &userGuid)
{
    TRDM *dm = RDM;
    if (!dm) {
        Notice(QStringLiteral("查询数据库出错：数据模块不存在"));
        return std::nullopt;
    }
    TDbQuery &query = dm->AcquireQuery();
    TQueryRelease release(*dm, query);
    try {
        EnsureTable(query);
        query.SetSQL(QStringLiteral("select count(*) as DataCount from FRecord  where UserGuid=?"));
        query.Bind(Text(userGuid));
        query.Open();
        if (!query.Next())
            return 0;
        return query.Field(QStringLiteral("DataCount")).toInt();
    } catch (const TAppError &error) {
        Notice(QStringLiteral("查询数据库出错：") + error.Message());
        return std::nullopt;
    }
}

void ListRecordings(const QString &userGuid, const std::function<void(const TRecordData &)> &onRow)
{
    TRDM &dm = DataModule();
    QList<TRecordData> rows;
    {
        TDbQuery &query = dm.AcquireQuery();
        TQueryRelease release(dm, query);
        EnsureTable(query);
        // Rows of the same moment come newest first too.
        query.SetSQL(QStringLiteral("select * from FRecord  where UserGuid=? order by RDate desc, RID desc"));
        query.Bind(Text(userGuid));
        query.Open();
        while (query.Next())
            rows.append(RowOf(query));
    }
    // Rows are handed on after the result is read, so that a caller may use the query itself.
    for (const TRecordData &row : rows)
        onRow(row);
}

bool DeleteRecording(qint32 rid)
{
    try {
        TRDM &dm = DataModule();
        TDbQuery &query = dm.AcquireQuery();
        TQueryRelease release(dm, query);
        EnsureTable(query);
        query.SetSQL(QStringLiteral("delete from FRecord where RID=?"));
        query.Bind(rid);
        query.ExecSQL();
        return false;
    } catch (const TAppError &error) {
        Notice(QStringLiteral("数据删除错误！") + error.Message());
        ShowMessageBox(QStringLiteral("数据删除错误！"));
        return true;
    }
}

void SetUploadStatus(qint32 rid, int status)
{
    if (status == UploadStatus::Uploading)
        return;
    TRDM &dm = DataModule();
    TDbQuery &query = dm.AcquireQuery();
    TQueryRelease release(dm, query);
    EnsureTable(query);
    query.SetSQL(QStringLiteral("update FRecord set UploadStatus=? where RID=?"));
    query.Bind(status);
    query.Bind(rid);
    query.ExecSQL();
}
