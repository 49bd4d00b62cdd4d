#include "app/DataModule.h"
#include "app/Errors.h"
#include "app/Log.h"
#include "app/MessageBox.h"
#include "library/RecordDatabase.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

#include <sys/wait.h>
#include <unistd.h>

namespace {

class RecordDatabaseTest : public ::testing::Test {
protected:
    QTemporaryDir appFolder;
    QTemporaryDir lockFolder;
    QString appPath = appFolder.path() + u'/';
    QString dbPath = appPath + QStringLiteral("Record.mdb");
    std::unique_ptr<TRDM> dataModule;
    QStringList boxes;

    void SetUp() override
    {
        SetMessageBoxPresenter([this](const QString &text, const QString &) { boxes << text; });
        dataModule = std::make_unique<TRDM>(appPath, lockFolder.path());
        ASSERT_TRUE(dataModule->Started);
    }
    void TearDown() override
    {
        dataModule.reset();
        SetMessageBoxPresenter({});
    }

    static TRecordData Row(const QString &name, const QString &user = QString())
    {
        TRecordData row;
        row.RFileName = name + QStringLiteral(".mp4");
        row.RFilePath = QStringLiteral("/data/录像/");
        row.CreateUserGuid = user;
        row.userGuid = user;
        row.Speaker = QStringLiteral("张老师");
        row.Summary = QStringLiteral("summary");
        row.Description = QStringLiteral("description");
        row.CategoryGuid = QStringLiteral("3");
        row.GradeGuid = QStringLiteral("7");
        row.LessonGuid = QStringLiteral("lesson");
        row.ApplicationGuid = QStringLiteral("app");
        row.Period = 75;
        row.VideoName = QStringLiteral("第一课 ") + name;
        row.RRemark = QStringLiteral("remark");
        row.TextBookGuid = QStringLiteral("never written");
        row.UploadStatus = 2;  // not written on insert either
        return row;
    }
    static QList<TRecordData> List(const QString &user = QString())
    {
        QList<TRecordData> rows;
        ListRecordings(user, [&rows](const TRecordData &row) { rows << row; });
        return rows;
    }
    QByteArray LogText() const
    {
        QFile file(ProgramLogPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

TEST_F(RecordDatabaseTest, MissingFileIsCreatedAndRowsReadBackAsWritten)
{
    ASSERT_FALSE(QFile::exists(dbPath));
    EXPECT_EQ(CountRecordings(QString()), 0);
    const QDateTime before = QDateTime::currentDateTime().addMSecs(-1000);
    const qint32 rid = InsertRecording(Row(QStringLiteral("a")));
    EXPECT_TRUE(QFile::exists(dbPath));

    const QList<TRecordData> rows = List();
    ASSERT_EQ(rows.size(), 1);
    const TRecordData &row = rows[0];
    EXPECT_EQ(row.RID, rid);
    EXPECT_EQ(row.RFileName, QStringLiteral("a.mp4"));
    EXPECT_EQ(row.RFilePath, QStringLiteral("/data/录像/"));
    EXPECT_EQ(row.Speaker, QStringLiteral("张老师"));
    EXPECT_EQ(row.Summary, QStringLiteral("summary"));
    EXPECT_EQ(row.Description, QStringLiteral("description"));
    EXPECT_EQ(row.CategoryGuid, QStringLiteral("3"));
    EXPECT_EQ(row.GradeGuid, QStringLiteral("7"));
    EXPECT_EQ(row.LessonGuid, QStringLiteral("lesson"));
    EXPECT_EQ(row.ApplicationGuid, QStringLiteral("app"));
    EXPECT_EQ(row.Period, 75);
    EXPECT_EQ(row.VideoName, QStringLiteral("第一课 a"));
    EXPECT_EQ(row.RRemark, QStringLiteral("remark"));
    EXPECT_TRUE(row.TextBookGuid.isEmpty());
    EXPECT_EQ(row.UploadStatus, UploadStatus::NotUploaded);
    EXPECT_TRUE(row.RDateValue >= before && row.RDateValue <= QDateTime::currentDateTime()) << row.RDateText.toStdString();
    EXPECT_EQ(row.RDateText, row.RDateValue.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));

    QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
    raw.setDatabaseName(dbPath);
    ASSERT_TRUE(raw.open());
    {
        QSqlQuery check(QStringLiteral("select RDateLen, UploadStatus from FRecord"), raw);
        ASSERT_TRUE(check.next());
        EXPECT_EQ(check.value(0).toString(), QStringLiteral("00:00:00"));
        EXPECT_TRUE(check.value(1).isNull());
        QSqlQuery mode(QStringLiteral("PRAGMA journal_mode"), raw);
        ASSERT_TRUE(mode.next());
        EXPECT_EQ(mode.value(0).toString(), QStringLiteral("wal"));
    }
    raw.close();
    raw = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));

    TDbQuery &query = dataModule->AcquireQuery();
    query.SetSQL(QStringLiteral("PRAGMA synchronous"));
    query.Open();
    ASSERT_TRUE(query.Next());
    EXPECT_EQ(query.Field(QStringLiteral("synchronous")).toInt(), 2) << "writes are not fully synced";
    EXPECT_EQ(dataModule->ReleaseQuery(query), 0);
    EXPECT_FALSE(query.Active());
}

TEST_F(RecordDatabaseTest, IdentitiesOrderUpdatesAndStatuses)
{
    const qint32 first = InsertRecording(Row(QStringLiteral("first")));
    const qint32 second = InsertRecording(Row(QStringLiteral("second")));  // very likely within the same second
    const qint32 third = InsertRecording(Row(QStringLiteral("third")));
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);
    QList<TRecordData> rows = List();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].RID, third);  // newest first
    EXPECT_EQ(rows[2].RID, first);

    TRecordData edited = rows[1];
    edited.Speaker = QStringLiteral("李老师");
    edited.VideoName = QStringLiteral("新标题");
    edited.CategoryGuid = QStringLiteral("11");
    edited.GradeGuid = QStringLiteral("12");
    edited.LessonGuid = QStringLiteral("13");
    edited.Summary = QStringLiteral("not stored by an update");
    edited.RFileName = QStringLiteral("not stored either.mp4");
    UpdateRecordingInfo(edited);
    const TRecordData stored = List()[1];
    EXPECT_EQ(stored.Speaker, QStringLiteral("李老师"));
    EXPECT_EQ(stored.VideoName, QStringLiteral("新标题"));
    EXPECT_EQ(stored.CategoryGuid, QStringLiteral("11"));
    EXPECT_EQ(stored.GradeGuid, QStringLiteral("12"));
    EXPECT_EQ(stored.LessonGuid, QStringLiteral("13"));
    EXPECT_EQ(stored.Summary, QStringLiteral("summary"));
    EXPECT_EQ(stored.RFileName, QStringLiteral("second.mp4"));

    SetUploadStatus(second, UploadStatus::Registering);
    SetUploadStatus(second, UploadStatus::Uploading);  // memory only
    EXPECT_EQ(List()[1].UploadStatus, UploadStatus::Registering);
    SetUploadStatus(second, UploadStatus::Uploaded);
    EXPECT_EQ(List()[1].UploadStatus, UploadStatus::Uploaded);
    EXPECT_EQ(List()[0].UploadStatus, UploadStatus::NotUploaded);

    // A deleted identity never comes back, not even the largest one.
    EXPECT_FALSE(DeleteRecording(third));
    EXPECT_FALSE(DeleteRecording(third));  // already gone: not a failure
    EXPECT_TRUE(boxes.isEmpty());
    const qint32 fourth = InsertRecording(Row(QStringLiteral("fourth")));
    EXPECT_GT(fourth, third);
    EXPECT_EQ(CountRecordings(QString()), 3);

    TRecordData missing = edited;
    missing.RID = third;
    EXPECT_THROW(UpdateRecordingInfo(missing), EDatabaseError);
}

TEST_F(RecordDatabaseTest, UserIdentifiersAreValuesNotStatementText)
{
    InsertRecording(Row(QStringLiteral("mine"), QStringLiteral("o'neil")));
    InsertRecording(Row(QStringLiteral("empty user")));
    struct Case {
        QString user;
        int count;
    };
    for (const Case &c : {Case{QStringLiteral("o'neil"), 1}, Case{QString(), 1}, Case{QStringLiteral("' or '1'='1"), 0},
                          Case{QStringLiteral("x'; drop table FRecord; --"), 0}}) {
        SCOPED_TRACE(c.user.toStdString());
        EXPECT_EQ(CountRecordings(c.user), c.count);
        EXPECT_EQ(List(c.user).size(), c.count);
    }
    EXPECT_EQ(List(QStringLiteral("o'neil"))[0].RFileName, QStringLiteral("mine.mp4"));
    EXPECT_EQ(List(QStringLiteral("o'neil"))[0].CreateUserGuid, QStringLiteral("o'neil"));
}

TEST_F(RecordDatabaseTest, MissingTableIsCreatedBesideOtherTables)
{
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(dbPath);
        ASSERT_TRUE(other.open());
        QSqlQuery(QStringLiteral("create table Notes (Text text)"), other);
        QSqlQuery(QStringLiteral("insert into Notes values ('kept')"), other);
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));

    EXPECT_EQ(InsertRecording(Row(QStringLiteral("a"))), 1);
    EXPECT_EQ(List().size(), 1);
    TDbQuery &query = dataModule->AcquireQuery();
    TQueryRelease release(*dataModule, query);
    query.SetSQL(QStringLiteral("select Text from Notes"));
    query.Open();
    ASSERT_TRUE(query.Next());
    EXPECT_EQ(query.Field(QStringLiteral("text")).toString(), QStringLiteral("kept"));
}

TEST_F(RecordDatabaseTest, FileThatIsNotADatabaseIsReportedAndNeverChanged)
{
    QByteArray foreign("\x00\x01\x00\x00Standard Jet DB\x00", 20);
    for (int i = 0; i < 4096; ++i)
        foreign.append(char(i * 37 % 251));
    {
        QFile file(dbPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(foreign);
    }

    try {
        InsertRecording(Row(QStringLiteral("a")));
        FAIL() << "insert into a foreign file reported success";
    } catch (const EDatabaseError &error) {
        EXPECT_TRUE(error.Message().contains(dbPath)) << error.what();
    }
    EXPECT_THROW(List(), EDatabaseError);
    EXPECT_THROW(SetUploadStatus(1, UploadStatus::Uploaded), EDatabaseError);
    EXPECT_EQ(CountRecordings(QString()), std::nullopt);
    EXPECT_TRUE(LogText().contains("[提示]查询数据库出错："));
    EXPECT_TRUE(DeleteRecording(1));
    EXPECT_EQ(boxes, QStringList{QStringLiteral("数据删除错误！")});

    QFile file(dbPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), foreign);
    file.close();
    EXPECT_EQ(QDir(appPath).entryList({QStringLiteral("Record.mdb*")}, QDir::Files), QStringList{QStringLiteral("Record.mdb")});

    // The program goes on: once the file is put aside, the next operation works.
    ASSERT_TRUE(QFile::rename(dbPath, dbPath + QStringLiteral(".old")));
    EXPECT_EQ(InsertRecording(Row(QStringLiteral("b"))), 1);
}

TEST_F(RecordDatabaseTest, RowWrittenBeforeACrashIsThereAfterIt)
{
    InsertRecording(Row(QStringLiteral("before")));
    // A connection must not cross a fork: close it, so that each process opens its own.
    dataModule->AcquireQuery().SetDatabaseFile(dbPath);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        InsertRecording(Row(QStringLiteral("crash")));
        raise(SIGKILL);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    const QList<TRecordData> rows = List();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].RFileName, QStringLiteral("crash.mp4"));
}

}  // namespace
