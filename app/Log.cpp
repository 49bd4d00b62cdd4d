#include "app/Log.h"

#include "app/CrashReport.h"
#include "app/Errors.h"
#include "app/WriteAll.h"

#include <QDir>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// The program-wide log. Writers take a reference for the length of one line, so closing never
// frees the log under a worker that is writing; the file closes with the last reference.
std::mutex programLogGuard;
std::shared_ptr<TLog> programLog;

std::shared_ptr<TLog> CurrentLog()
{
    std::lock_guard guard(programLogGuard);
    return programLog;
}
std::atomic<bool> noticeFailureReported{false};

}  // namespace

TLog::TLog(const QString &folder, const QString &fileName)
    : path(folder + fileName)
{
    // Only the last level is created; a failure shows when the file is opened.
    QDir().mkdir(folder);
    fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw EInOutError(QStringLiteral("无法打开日志文件 %1：%2").arg(path, SystemError(errno)));
}

TLog::~TLog()
{
    if (fd >= 0)
        ::close(fd);
}

void TLog::WriteLine(const QString &message)
{
    int error = 0;
    {
        std::lock_guard guard(lock);
        const QByteArray line =
            (FormatLogTimestamp(QDateTime::currentDateTime()) + u':' + message + QStringLiteral("\r\n")).toUtf8();
        // One write per line: the line reaches the operating system whole, with no buffer in
        // the process that a crash could lose.
        error = WriteAll(fd, line.constData(), size_t(line.size()));
        DebugTrace(message);
    }
    if (error != 0)
        throw EInOutError(QStringLiteral("无法写入日志文件 %1：%2").arg(path, SystemError(error)));
}

QString LogFileNameFor(const QDate &day)
{
    return day.toString(QStringLiteral("yyMMdd")) + QStringLiteral(".txt");
}

QString FormatLogTimestamp(const QDateTime &moment)
{
    return moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

void OpenProgramLog(const QString &folder, const QString &fileName)
{
    auto log = std::make_shared<TLog>(folder, fileName);
    std::lock_guard guard(programLogGuard);
    programLog = std::move(log);
    SetCrashReportDescriptor(programLog->Descriptor());
}

void CloseProgramLog() noexcept
{
    std::shared_ptr<TLog> closing;
    {
        std::lock_guard guard(programLogGuard);
        SetCrashReportDescriptor(-1);
        closing.swap(programLog);
    }
}

QString ProgramLogPath()
{
    const std::shared_ptr<TLog> log = CurrentLog();
    return log ? log->FilePath() : QString();
}

void Notice(const QString &message) noexcept
{
    try {
        const std::shared_ptr<TLog> log = CurrentLog();
        if (!log)
            return;
        log->Notice(message);
        noticeFailureReported.store(false, std::memory_order_relaxed);
    } catch (const std::exception &error) {
        if (!noticeFailureReported.exchange(true))
            std::fprintf(stderr, "studiocast: log line lost: %s\n", error.what());
    } catch (...) {
        if (!noticeFailureReported.exchange(true))
            std::fputs("studiocast: log line lost\n", stderr);
    }
}

QString FormatDebugTrace(const QTime &time, const QString &text)
{
    return time.toString(QStringLiteral("HH:mm:ss ")) + text;
}

void DebugTrace([[maybe_unused]] const QString &text) noexcept
{
    if constexpr (DebugTraceEnabled) {
        try {
            const QByteArray line = (FormatDebugTrace(QTime::currentTime(), text) + u'\n').toUtf8();
            WriteAll(STDERR_FILENO, line.constData(), size_t(line.size()));
        } catch (...) {
            // A trace that cannot be formatted is simply not shown.
        }
    }
}

void DebugTraceFmt(const char *format, ...) noexcept
{
    if constexpr (DebugTraceEnabled) {
        try {
            va_list arguments;
            va_start(arguments, format);
            const QString text = QString::vasprintf(format, arguments);
            va_end(arguments);
            DebugTrace(text);
        } catch (...) {
        }
    }
}
