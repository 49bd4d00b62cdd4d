#include "app/DataModule.h"
#include "app/InstanceLock.h"
#include "app/Log.h"
#include "app/MessageBox.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <utility>

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class DataModuleTest : public ::testing::Test {
protected:
    QTemporaryDir appFolder;
    QTemporaryDir lockFolder;
    QString appPath = appFolder.path() + u'/';
    QString logPath = appPath + QStringLiteral("Logs/") + LogFileNameFor(QDate::currentDate());
    QString iniPath = appPath + QStringLiteral("Setting.ini");
    QList<std::pair<QString, QString>> boxes;

    void SetUp() override
    {
        SetMessageBoxPresenter([this](const QString &text, const QString &caption) { boxes.append({text, caption}); });
    }
    void TearDown() override { SetMessageBoxPresenter({}); }
};

TEST_F(DataModuleTest, FirstStartUsesDefaultsAndWritesEveryKeyAtTheEnd)
{
    {
        TRDM dataModule(appPath, lockFolder.path());
        ASSERT_TRUE(dataModule.Started);
        EXPECT_EQ(RDM, &dataModule);
        EXPECT_EQ(AppPath, appPath);
        ASSERT_NE(SettingIni, nullptr);
        EXPECT_EQ(SettingIni->Cam1Name, QStringLiteral("空"));
        EXPECT_EQ(ProgramLogPath(), logPath);
        EXPECT_FALSE(QFile::exists(iniPath));
        EXPECT_FALSE(QFile::exists(appPath + QStringLiteral("Record.mdb")));  // not touched at start
        SettingIni->UserName = QStringLiteral("t001");
        SettingIni->Password = QStringLiteral("pw-in-memory");
    }
    EXPECT_EQ(RDM, nullptr);
    EXPECT_EQ(SettingIni, nullptr);
    const QByteArray ini = ReadAll(iniPath);
    for (const char *key : {"[Config]", "Cam1=0", "[Audio]", "AudioKBitRate=96", "[Video]", "VideoKBitRate=1000",
                            "[User]", "UserName=t001", "BaseUrl=http://127.0.0.1:8080"})
        EXPECT_TRUE(ini.contains(key)) << key;
    EXPECT_FALSE(ini.contains("pw-in-memory"));

    // A second start on the same day appends to the same log.
    { TRDM again(appPath, lockFolder.path()); }
    const QString log = QString::fromUtf8(ReadAll(logPath));
    EXPECT_EQ(log.count(QStringLiteral("[提示]程序启动")), 2);
    EXPECT_TRUE(log.endsWith(QStringLiteral("[提示]程序退出\r\n")));
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(DataModuleTest, FailedSaveAtTheEndIsReportedAndLogged)
{
    {
        TRDM dataModule(appPath, lockFolder.path());
        ASSERT_TRUE(dataModule.Started);
        // A folder where the file belongs: the save cannot replace it.
        ASSERT_TRUE(QDir().mkdir(iniPath));
    }
    const QString expected = QStringLiteral("保存设置出错：Unable to write to ") + iniPath;
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0].first, expected);
    const QString log = QString::fromUtf8(ReadAll(logPath));
    // Logged while the log was still open, before the closing line.
    EXPECT_TRUE(log.contains(QStringLiteral("[提示]") + expected + QStringLiteral("\r\n")));
    EXPECT_LT(log.indexOf(expected), log.indexOf(QStringLiteral("[提示]程序退出")));
}

TEST_F(DataModuleTest, SecondCopyShowsItsNoticeAndTouchesNothing)
{
    TRDM first(appPath, lockFolder.path());
    ASSERT_TRUE(first.Started);
    QTemporaryDir otherFolder;
    {
        TRDM second(otherFolder.path() + u'/', lockFolder.path());
        EXPECT_FALSE(second.Started);
    }
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0], std::make_pair(QStringLiteral("Quillo正在启动中..."), QStringLiteral("提示")));
    EXPECT_TRUE(QDir(otherFolder.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    // The first copy's program-wide objects are its own still.
    EXPECT_EQ(RDM, &first);
    EXPECT_EQ(AppPath, appPath);
    EXPECT_NE(SettingIni, nullptr);
}

TEST_F(DataModuleTest, LogThatCannotBeOpenedStopsTheStartWithAMessage)
{
    QFile blocker(appPath + QStringLiteral("Logs"));  // a file where the folder belongs
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    {
        TRDM dataModule(appPath, lockFolder.path());
        EXPECT_FALSE(dataModule.Started);
    }
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].first.contains(appPath + QStringLiteral("Logs/"))) << boxes[0].first.toStdString();
    EXPECT_FALSE(QFile::exists(iniPath));
}

TEST_F(DataModuleTest, MissingLockFolderDoesNotPreventTheStart)
{
    {
        TRDM dataModule(appPath, lockFolder.path() + QStringLiteral("/missing"));
        EXPECT_TRUE(dataModule.Started);
    }
    EXPECT_TRUE(ReadAll(logPath).contains("[提示]无法检查程序是否已在运行："));
}

TEST(InstanceLock, OneHolderAtATime)
{
    QTemporaryDir folder;
    EXPECT_EQ(TInstanceLock::FileNameFor(TRDM::InstanceText), QStringLiteral("_MyStudiocast_Only_One_Application_Instance_Run_.lock"));
    auto first = std::make_unique<TInstanceLock>(folder.path(), TRDM::InstanceText);
    EXPECT_EQ(first->Result(), TInstanceLock::TResult::Acquired);
    EXPECT_EQ(TInstanceLock(folder.path(), TRDM::InstanceText).Result(), TInstanceLock::TResult::HeldByAnother);
    EXPECT_EQ(TInstanceLock(folder.path(), QStringLiteral("another program")).Result(), TInstanceLock::TResult::Acquired);
    first.reset();
    EXPECT_EQ(TInstanceLock(folder.path(), TRDM::InstanceText).Result(), TInstanceLock::TResult::Acquired);
}

}  // namespace
