#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

#include <mutex>

// The debug trace's build switch: off unless the program is configured with
// -DSTUDIOCAST_DEBUG_TRACE=ON.
#ifdef STUDIOCAST_DEBUG_TRACE
inline constexpr bool DebugTraceEnabled = true;
#else
inline constexpr bool DebugTraceEnabled = false;
#endif

// One day's log file. Lines are "yyyy-MM-dd hh:mm:ss.zzz:" + message + CR LF; each line goes to
// the file in one write under the lock, so lines of different threads never interleave and a
// line is in the file before the next writer enters.
class TLog {
public:
    // Creates the folder (last level only) when missing, then opens folder + fileName for
    // appending. Throws EInOutError when the file cannot be opened.
    TLog(const QString &folder, const QString &fileName);
    ~TLog();
    TLog(const TLog &) = delete;
    TLog &operator=(const TLog &) = delete;

    // Throws EInOutError when the write fails (disk full, file gone bad).
    void WriteLine(const QString &message);
    void Notice(const QString &message) { WriteLine(QStringLiteral("[提示]") + message); }

    const QString &FilePath() const { return path; }
    int Descriptor() const { return fd; }

private:
    std::mutex lock;
    QString path;
    int fd = -1;
};

// "yymmdd.txt": the log of the day the program started.
QString LogFileNameFor(const QDate &day);
QString FormatLogTimestamp(const QDateTime &moment);

// The program-wide log, opened and closed by the data module.
void OpenProgramLog(const QString &folder, const QString &fileName);
void CloseProgramLog() noexcept;
// The file of the open program-wide log, or empty text.
QString ProgramLogPath();

// The one logging call of the program, usable from any thread. It never throws: a line that
// cannot be written (no log open, disk full) is dropped, and the failure is reported once on
// standard error until a write succeeds again.
void Notice(const QString &message) noexcept;

// Short progress texts for developers: "hh:mm:ss " + text on standard error, only in a build
// with DebugTraceEnabled; otherwise nothing happens.
QString FormatDebugTrace(const QTime &time, const QString &text);
void DebugTrace(const QString &text) noexcept;
void DebugTraceFmt(const char *format, ...) noexcept __attribute__((format(printf, 1, 2)));
