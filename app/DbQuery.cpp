#include "app/DbQuery.h"

#include "app/Errors.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlRecord>

#include <atomic>

namespace {

QString NextConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("studiocast-db-%1").arg(counter.fetch_add(1));
}

}  // namespace

TDbQuery::TDbQuery()
    : connectionName(NextConnectionName())
{
}

TDbQuery::~TDbQuery()
{
    Disconnect();
}

void TDbQuery::SetDatabaseFile(const QString &path)
{
    Disconnect();
    databaseFile = path;
}

void TDbQuery::SetSQL(const QString &sql)
{
    Close();
    sqlText = sql;
    boundValues.clear();
}

void TDbQuery::Bind(const QVariant &value)
{
    boundValues.append(value);
}

void TDbQuery::Open()
{
    Run(true);
}

void TDbQuery::ExecSQL()
{
    Run(false);
}

bool TDbQuery::Next()
{
    return Active() && result->next();
}

QVariant TDbQuery::Field(const QString &name) const
{
    if (!Active() || !result->isValid())
        throw EDatabaseError(QStringLiteral("数据库 %1：没有当前记录，无法读取字段 %2").arg(databaseFile, name));
    const int index = result->record().indexOf(name);
    if (index < 0)
        throw EDatabaseError(QStringLiteral("数据库 %1：结果中没有字段 %2（%3）").arg(databaseFile, name, sqlText));
    return result->value(index);
}

int TDbQuery::RowsAffected() const
{
    return result ? result->numRowsAffected() : -1;
}

qint64 TDbQuery::LastInsertId() const
{
    return result ? result->lastInsertId().toLongLong() : -1;
}

void TDbQuery::Close()
{
    result.reset();
}

void TDbQuery::Fail(const QString &what, const QString &detail)
{
    result.reset();
    throw EDatabaseError(QStringLiteral("数据库 %1 %2出错：%3").arg(databaseFile, what, detail));
}

void TDbQuery::Connect()
{
    if (connected)
        return;
    if (databaseFile.isEmpty())
        Fail(QStringLiteral("打开"), QStringLiteral("没有指定数据库文件"));
    {
        QSqlDatabase db = QSqlDatabase::contains(connectionName) ? QSqlDatabase::database(connectionName, false)
                                                                 : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        db.setDatabaseName(databaseFile);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open())
            Fail(QStringLiteral("打开"), db.lastError().text());
        // The first statements read the file's header: a file that is not a database fails
        // here, before anything is written to it.
        QSqlQuery setUp(db);
        for (const QString &statement : {QStringLiteral("PRAGMA journal_mode=WAL"), QStringLiteral("PRAGMA synchronous=FULL")}) {
            if (!setUp.exec(statement)) {
                const QString detail = setUp.lastError().text();
                setUp = QSqlQuery();
                db.close();
                Fail(QStringLiteral("打开"), detail);
            }
        }
    }
    connected = true;
}

void TDbQuery::Disconnect()
{
    result.reset();
    connected = false;
    if (QSqlDatabase::contains(connectionName)) {
        QSqlDatabase::database(connectionName, false).close();
        QSqlDatabase::removeDatabase(connectionName);
    }
}

void TDbQuery::Run(bool select)
{
    Close();
    Connect();
    result.emplace(QSqlDatabase::database(connectionName, false));
    result->setForwardOnly(true);
    if (!result->prepare(sqlText))
        Fail(QStringLiteral("语句 ") + sqlText + u' ', result->lastError().text());
    for (const QVariant &value : boundValues)
        result->addBindValue(value);
    if (!result->exec())
        Fail(QStringLiteral("语句 ") + sqlText + u' ', result->lastError().text());
    if (select && !result->isSelect())
        Fail(QStringLiteral("语句 ") + sqlText + u' ', QStringLiteral("不是查询语句"));
}
