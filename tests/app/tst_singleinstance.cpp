// Runs copies of the real program from a private folder: the program keeps its files beside
// itself, and the copies share a private runtime folder for their running-copy lock. A copy
// is closed the way a session ends it, with SIGTERM.
#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <map>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using namespace std::chrono_literals;

// Upper bounds only: a slow machine waits longer, a fast one never waits for nothing.
constexpr auto StartLimit = 60s;

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WaitFor(const std::function<bool()> &condition, std::chrono::milliseconds limit = StartLimit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QThread::msleep(20);
    }
    return true;
}

class ProgramCopy {
public:
    ProgramCopy(const QString &program, const QString &runtimeFolder, const QString &outputFile)
    {
        std::vector<std::string> variables;
        for (char **entry = environ; *entry; ++entry) {
            const std::string variable(*entry);
            if (variable.rfind("XDG_RUNTIME_DIR=", 0) != 0 && variable.rfind("QT_QPA_PLATFORM=", 0) != 0)
                variables.push_back(variable);
        }
        variables.push_back("XDG_RUNTIME_DIR=" + runtimeFolder.toStdString());
        variables.push_back("QT_QPA_PLATFORM=offscreen");
        std::vector<char *> envp;
        for (std::string &variable : variables)
            envp.push_back(variable.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        const QByteArray output = QFile::encodeName(outputFile);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        const QByteArray path = QFile::encodeName(program);
        char *argv[] = {const_cast<char *>(path.constData()), nullptr};
        if (posix_spawn(&pid, path.constData(), &actions, nullptr, argv, envp.data()) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ProgramCopy()
    {
        if (pid > 0 && !finished) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
    }

    pid_t Pid() const { return pid; }
    bool Running()
    {
        if (finished)
            return false;
        if (waitpid(pid, &status, WNOHANG) == pid)
            finished = true;
        return !finished;
    }
    bool WaitExit(std::chrono::milliseconds limit = StartLimit)
    {
        return WaitFor([this] { return !Running(); }, limit);
    }
    int Status() const { return status; }
    // True when the process has the file open.
    bool HasOpen(const QString &file) const
    {
        QDirIterator descriptors(QStringLiteral("/proc/%1/fd").arg(pid), QDir::System | QDir::Files);
        while (descriptors.hasNext())
            if (QFileInfo(descriptors.next()).symLinkTarget() == file)
                return true;
        return false;
    }

private:
    pid_t pid = -1;
    int status = 0;
    bool finished = false;
};

std::map<QString, QByteArray> Snapshot(const QString &folder)
{
    std::map<QString, QByteArray> files;
    QDirIterator entries(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString entry = entries.next();
        files[entry] = ReadAll(entry);
    }
    return files;
}

TEST(SingleInstance, SecondCopyLeavesFilesAloneAndLockEndsWithTheProcess)
{
    QTemporaryDir appFolder;
    QTemporaryDir runtimeFolder;
    ASSERT_TRUE(QFile::setPermissions(runtimeFolder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString program = appFolder.path() + QStringLiteral("/studiocast");
    ASSERT_TRUE(QFile::copy(QStringLiteral(STUDIOCAST_EXE), program));
    const QString ini = appFolder.path() + QStringLiteral("/Setting.ini");
    {
        QFile file(ini);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[User]\nUserName=keep\nBaseUrl=http://127.0.0.1:9/\n[Mine]\nOwnKey=1\n");
    }
    const QString logFolder = appFolder.path() + QStringLiteral("/Logs");
    const QString lockFile = runtimeFolder.path() + QStringLiteral("/_MyStudiocast_Only_One_Application_Instance_Run_.lock");
    QTemporaryDir outputFolder;
    const QString output = outputFolder.path() + QStringLiteral("/output.txt");
    const auto logText = [&logFolder] {
        const QStringList days = QDir(logFolder).entryList(QDir::Files);
        return days.isEmpty() ? QString() : QString::fromUtf8(ReadAll(logFolder + u'/' + days.last()));
    };
    const auto outputOnFailure = [&output] { return ReadAll(output).toStdString(); };

    ProgramCopy first(program, runtimeFolder.path(), output);
    ASSERT_GT(first.Pid(), 0);
    ASSERT_TRUE(WaitFor([&] { return logText().contains(QStringLiteral("[提示]程序启动")); })) << outputOnFailure();
    const std::map<QString, QByteArray> before = Snapshot(appFolder.path());

    // The second copy finds the lock taken and waits in its notice box until it is closed.
    ProgramCopy second(program, runtimeFolder.path(), output);
    ASSERT_TRUE(WaitFor([&] { return second.HasOpen(lockFile) || !second.Running(); })) << outputOnFailure();
    ASSERT_TRUE(second.Running()) << "the second copy ended without showing its notice: " << outputOnFailure();
    QThread::msleep(300);
    EXPECT_TRUE(second.Running());
    kill(second.Pid(), SIGTERM);
    ASSERT_TRUE(second.WaitExit());
    EXPECT_TRUE(WIFEXITED(second.Status()) && WEXITSTATUS(second.Status()) == 0) << second.Status();
    EXPECT_EQ(Snapshot(appFolder.path()), before) << "the second copy changed the program's files";
    EXPECT_TRUE(first.Running());

    // A crash of the first copy: the report lands in the log and the kernel frees the lock.
    kill(first.Pid(), SIGSEGV);
    ASSERT_TRUE(first.WaitExit());
    EXPECT_TRUE(WIFSIGNALED(first.Status()) && WTERMSIG(first.Status()) == SIGSEGV) << first.Status();
    EXPECT_TRUE(logText().contains(QStringLiteral("[提示]程序异常终止：信号 11 (SIGSEGV)"))) << logText().toStdString();
    EXPECT_EQ(ReadAll(ini), before.at(ini)) << "settings are saved only by an orderly end";

    ProgramCopy third(program, runtimeFolder.path(), output);
    ASSERT_TRUE(WaitFor([&] { return logText().count(QStringLiteral("[提示]程序启动")) == 2 || !third.Running(); }))
        << outputOnFailure();
    ASSERT_TRUE(third.Running()) << outputOnFailure();
    // SIGTERM ends it in order: settings saved, then the log closed.
    kill(third.Pid(), SIGTERM);
    ASSERT_TRUE(third.WaitExit());
    EXPECT_TRUE(WIFEXITED(third.Status()) && WEXITSTATUS(third.Status()) == 0) << third.Status();
    EXPECT_TRUE(logText().endsWith(QStringLiteral("[提示]程序退出\r\n"))) << logText().toStdString();
    const QByteArray saved = ReadAll(ini);
    for (const char *line : {"[User]\nUserName=keep\nBaseUrl=http://127.0.0.1:9/\n", "[Mine]\nOwnKey=1\n",
                             "McfSamplesPerSec=44100\n", "[Video]\nVideoIndex=0\n"})
        EXPECT_TRUE(saved.contains(line)) << line << "\n" << saved.constData();
}

}  // namespace
