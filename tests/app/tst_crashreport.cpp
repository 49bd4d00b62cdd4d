#include "app/CrashReport.h"
#include "app/Log.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace {

void CrashWith(int signal)
{
    InstallCrashReporter();
    std::raise(signal);
}

TEST(CrashReportDeathTest, FatalSignalWritesReportWithBacktraceToTheLog)
{
    GTEST_FLAG_SET(death_test_style, "fast");  // the child must share this test's log folder
    for (const auto &[signal, name] : {std::pair{SIGSEGV, "SIGSEGV"}, std::pair{SIGABRT, "SIGABRT"}}) {
        SCOPED_TRACE(name);
        QTemporaryDir root;
        const QString folder = root.path() + u'/';
        OpenProgramLog(folder, QStringLiteral("crash.txt"));
        Notice(QStringLiteral("before"));
        EXPECT_EXIT(CrashWith(signal), ::testing::KilledBySignal(signal), "");
        CloseProgramLog();

        QFile file(folder + QStringLiteral("crash.txt"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        const QRegularExpression report(
            QStringLiteral("\r\n\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}:\\[提示\\]程序异常终止：信号 %1 \\(%2\\)，调用栈：\r\n(.+\n)+")
                .arg(signal)
                .arg(QLatin1String(name)));
        const QRegularExpressionMatch match = report.match(text);
        ASSERT_TRUE(match.hasMatch()) << text.toStdString();
        // The backtrace names the frames of this program.
        EXPECT_TRUE(match.captured(0).contains(QStringLiteral("tst_crashreport"))) << text.toStdString();
        EXPECT_TRUE(text.startsWith(QStringLiteral("20")));
    }
}

}  // namespace
