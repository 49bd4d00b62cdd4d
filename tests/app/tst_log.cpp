#include "app/Errors.h"
#include "app/Log.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QRegularExpression LinePattern(
    QStringLiteral("^\\d{4}-\\d\\d-\\d\\d [0-2]\\d:[0-5]\\d:[0-5]\\d\\.\\d{3}:\\[提示\\](.*)$"),
    QRegularExpression::DotMatchesEverythingOption);

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The messages of the lines in a log text, in order; fails on a line that is not whole.
QStringList Messages(const QByteArray &text)
{
    QStringList messages;
    QString all = QString::fromUtf8(text);
    if (all.isEmpty())
        return messages;
    EXPECT_TRUE(all.endsWith(QStringLiteral("\r\n")));
    all.chop(2);
    // A message may hold line breaks of its own: a line ends where the next timestamp begins.
    static const QRegularExpression lineEnd(QStringLiteral("\r\n(?=\\d{4}-\\d\\d-\\d\\d )"));
    for (const QString &line : all.split(lineEnd)) {
        const QRegularExpressionMatch match = LinePattern.match(line);
        EXPECT_TRUE(match.hasMatch()) << line.toStdString();
        messages << match.captured(1);
    }
    return messages;
}

// Captures what is written to standard error while it lives.
class StderrCapture {
public:
    StderrCapture()
    {
        fflush(stderr);
        saved = dup(STDERR_FILENO);
        file = QString::fromUtf8(directory.path().toUtf8() + "/stderr");
        const int fd = open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    QByteArray Finish()
    {
        fflush(stderr);
        dup2(saved, STDERR_FILENO);
        close(saved);
        return ReadAll(file);
    }

private:
    QTemporaryDir directory;
    QString file;
    int saved = -1;
};

TEST(Log, WritesTimestampedLinesAndAppendsOnReopen)
{
    QTemporaryDir root;
    const QString folder = root.path() + QStringLiteral("/Logs/");  // created by the log
    {
        TLog log(folder, QStringLiteral("140506.txt"));
        log.Notice(QStringLiteral("FilterGraphRecord.Active"));
        log.Notice(QString());
        log.Notice(QStringLiteral("查询数据库出错：第一行\r\n第二行"));
    }
    TLog(folder, QStringLiteral("140506.txt")).Notice(QStringLiteral(" MP4_Start/tmp/a.mp4"));

    const QByteArray bytes = ReadAll(folder + QStringLiteral("140506.txt"));
    EXPECT_TRUE(bytes.contains(":[\xE6\x8F\x90\xE7\xA4\xBA]\xE6\x9F\xA5"));  // UTF-8 byte for byte
    const QStringList messages = Messages(bytes);
    EXPECT_EQ(messages, (QStringList{QStringLiteral("FilterGraphRecord.Active"), QString(),
                                     QStringLiteral("查询数据库出错：第一行\r\n第二行"),
                                     QStringLiteral(" MP4_Start/tmp/a.mp4")}));
}

TEST(Log, FileNamesAndTimestampsUseFixedPatterns)
{
    EXPECT_EQ(LogFileNameFor(QDate(2014, 5, 6)), QStringLiteral("140506.txt"));
    EXPECT_EQ(LogFileNameFor(QDate(2031, 12, 31)), QStringLiteral("311231.txt"));
    EXPECT_EQ(FormatLogTimestamp(QDateTime(QDate(2014, 5, 6), QTime(9, 15, 3, 120))),
              QStringLiteral("2014-05-06 09:15:03.120"));
    EXPECT_EQ(FormatLogTimestamp(QDateTime(QDate(2014, 5, 6), QTime(21, 0, 0, 5))),
              QStringLiteral("2014-05-06 21:00:00.005"));
    EXPECT_EQ(FormatDebugTrace(QTime(9, 5, 3), QStringLiteral(" H264 no")), QStringLiteral("09:05:03  H264 no"));
}

TEST(Log, OpenFailureIsAnInputOutputErrorNamingTheFile)
{
    QTemporaryDir root;
    // Only the last level of the folder is created.
    const QString folder = root.path() + QStringLiteral("/a/b/");
    try {
        TLog log(folder, QStringLiteral("x.txt"));
        FAIL() << "opened a log in a folder that does not exist";
    } catch (const EInOutError &error) {
        EXPECT_TRUE(error.Message().contains(folder + QStringLiteral("x.txt"))) << error.what();
    }
}

TEST(Log, ConcurrentWritersProduceWholeLines)
{
    QTemporaryDir root;
    const QString folder = root.path() + u'/';
    OpenProgramLog(folder, QStringLiteral("t.txt"));
    constexpr int Threads = 4;
    constexpr int LinesEach = 400;
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < LinesEach; ++i)
                Notice(QStringLiteral("线程%1 行%2 ").arg(t).arg(i) + QString(100, QChar(u'a' + t)));
        });
    for (std::thread &writer : writers)
        writer.join();
    CloseProgramLog();

    const QStringList messages = Messages(ReadAll(folder + QStringLiteral("t.txt")));
    ASSERT_EQ(messages.size(), Threads * LinesEach);
    QSet<QString> seen(messages.begin(), messages.end());
    for (int t = 0; t < Threads; ++t)
        for (int i = 0; i < LinesEach; ++i)
            EXPECT_TRUE(seen.contains(QStringLiteral("线程%1 行%2 ").arg(t).arg(i) + QString(100, QChar(u'a' + t))));
}

TEST(Log, NoticeNeverThrowsAndSurvivesTheLogClosing)
{
    // No log open: the line is dropped quietly.
    EXPECT_NO_THROW(Notice(QStringLiteral("before start")));

    // A device that refuses every write: WriteLine raises, Notice reports once and goes on.
    {
        TLog full(QStringLiteral("/dev/"), QStringLiteral("full"));
        EXPECT_THROW(full.WriteLine(QStringLiteral("x")), EInOutError);
    }
    OpenProgramLog(QStringLiteral("/dev/"), QStringLiteral("full"));
    StderrCapture capture;
    for (int i = 0; i < 3; ++i)
        EXPECT_NO_THROW(Notice(QStringLiteral("lost")));
    const QByteArray reported = capture.Finish();
    CloseProgramLog();
    EXPECT_EQ(reported.count("log line lost"), 1) << reported.constData();

    // Workers keep logging while the log is closed under them.
    QTemporaryDir root;
    OpenProgramLog(root.path() + u'/', QStringLiteral("c.txt"));
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t)
        writers.emplace_back([&stop] {
            while (!stop.load())
                Notice(QStringLiteral("worker"));
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    CloseProgramLog();
    EXPECT_TRUE(ProgramLogPath().isEmpty());
    stop = true;
    for (std::thread &writer : writers)
        writer.join();
    for (const QString &message : Messages(ReadAll(root.path() + QStringLiteral("/c.txt"))))
        EXPECT_EQ(message, QStringLiteral("worker"));
}

TEST(Log, DebugTraceFollowsTheBuildSwitch)
{
    StderrCapture capture;
    DebugTrace(QStringLiteral("trace text"));
    DebugTraceFmt("%s %d", "formatted", 42);
    const QByteArray output = capture.Finish();
    if constexpr (DebugTraceEnabled) {
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d trace text\n\\d\\d:\\d\\d:\\d\\d formatted 42\n$"))
                        .match(QString::fromUtf8(output))
                        .hasMatch())
            << output.constData();
    } else {
        EXPECT_TRUE(output.isEmpty()) << output.constData();
    }
}

}  // namespace
