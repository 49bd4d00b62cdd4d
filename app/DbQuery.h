#pragma once

#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <optional>

// The one query object of the recordings database: a SQLite file reached through Qt SQL, used on
// the main thread only. The connection opens at the first statement and stays open; a file that
// is not a database raises the data layer's error and is left exactly as it was. Writes are
// durable: write-ahead log with a full sync at every commit.
class TDbQuery {
public:
    TDbQuery();
    ~TDbQuery();
    TDbQuery(const TDbQuery &) = delete;
    TDbQuery &operator=(const TDbQuery &) = delete;

    // Binds the query to a database file; closes the query and its connection.
    void SetDatabaseFile(const QString &path);
    const QString &DatabaseFile() const { return databaseFile; }

    // A new statement: drops the previous result and the bound values.
    void SetSQL(const QString &sql);
    // Values for the statement's '?' placeholders, in order.
    void Bind(const QVariant &value);

    // Runs a select and leaves the result open, before its first row. Throws EDatabaseError.
    void Open();
    bool Next();
    // The named column of the current row (names match without regard to case). Throws
    // EDatabaseError for a column the result does not have.
    QVariant Field(const QString &name) const;

    // Runs a statement without a result. Throws EDatabaseError.
    void ExecSQL();
    int RowsAffected() const;
    qint64 LastInsertId() const;

    // Drops the result (the connection stays open).
    void Close();
    bool Active() const { return result.has_value() && result->isActive(); }

private:
    QString connectionName;
    QString databaseFile;
    QString sqlText;
    QVariantList boundValues;
    std::optional<QSqlQuery> result;
    bool connected = false;

    void Connect();
    void Disconnect();
    void Run(bool select);
    [[noreturn]] void Fail(const QString &what, const QString &detail);
};
