#include "app/Errors.h"
#include "app/SettingIni.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <random>

#include <sys/wait.h>
#include <unistd.h>

namespace {

class SettingIniTest : public ::testing::Test {
protected:
    QTemporaryDir folder;
    QString appPath = folder.path() + u'/';
    QString iniPath = appPath + QStringLiteral("Setting.ini");

    void WriteIni(const QByteArray &content)
    {
        QFile file(iniPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    QByteArray ReadIni() const
    {
        QFile file(iniPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    TSettingIni Loaded() const
    {
        TSettingIni settings(iniPath, appPath);
        settings.Load();
        return settings;
    }
};

TEST_F(SettingIniTest, EmptyFileLoadsDefaultsAndSavesEveryKeyInOrder)
{
    WriteIni("");
    TSettingIni settings = Loaded();
    EXPECT_EQ(settings.Cam1Name, QStringLiteral("空"));
    EXPECT_EQ(settings.RecordDir, appPath + QStringLiteral("mp4Files/"));
    EXPECT_EQ(settings.ExportDir, QDir::homePath() + u'/');
    EXPECT_EQ(settings.BaseUrl, QStringLiteral("http://127.0.0.1:8080"));
    settings.UserName = QStringLiteral("t001");
    settings.Password = QStringLiteral("secret-pw");
    settings.Save();

    const QString expected = QStringLiteral(
        "[Config]\nCam1=0\nCam1Type=0\nCam2=0\nCam2Type=0\nMcf=0\nMcfSamplesPerSec=44100\nVideoIndex=0\n"
        "Audio=0\nRecordDir=%1mp4Files/\nExportDir=%2/\nLastRecordFile=\nCam1Name=空\nCam2Name=空\n"
        "IsUseOffice=1\nIsFirstUse=1\nIs4B3=1\nVideoQuality=1\nRecordMode=1\nPPTFrameRate=5\nPPTPlayType=1\n"
        "[Audio]\nAudioKBitRate=96\n"
        "[Video]\nVideoIndex=0\nVideoHeight=600\nVideoWidth=800\nVideoFramesPerSec=20\nVideoKBitRate=1000\n"
        "[User]\nUserName=t001\nBaseUrl=http://127.0.0.1:8080\n")
                                 .arg(appPath, QDir::homePath());
    EXPECT_EQ(QString::fromUtf8(ReadIni()), expected);
    EXPECT_FALSE(ReadIni().contains("secret-pw"));
}

TEST_F(SettingIniTest, FileValuesFollowTheStoreRules)
{
    WriteIni("[Config]\r\nCam1=$2\r\nCam2=0x3\r\nMcf=x1\r\nMcfSamplesPerSec=22050\r\nVideoIndex=4\r\n"
             "Is4B3=0\r\nIsUseOffice=-1\r\nIsFirstUse=abc\r\nRecordMode=2\r\nCam1Name=罗技 C270\r\n"
             "Password=should-not-load\r\n"
             "[Video]\r\nVideoIndex=2\r\nVideoWidth=1280\r\n"
             "[User]\r\nUserName=张老师\r\nBaseUrl=https://school.example/platform\r\n");
    const TSettingIni settings = Loaded();
    EXPECT_EQ(settings.Cam1, 2);
    EXPECT_EQ(settings.Cam2, 3);
    EXPECT_EQ(settings.Mcf, 0);
    EXPECT_EQ(settings.McfSamplesPerSec, 44100);
    EXPECT_EQ(settings.VideoIndex, 2);  // only the Video copy is read
    EXPECT_FALSE(settings.Is4B3);
    EXPECT_TRUE(settings.IsUseOffice);
    EXPECT_TRUE(settings.IsFirstUse);
    EXPECT_EQ(settings.RecordMode, 2);
    EXPECT_EQ(settings.Cam1Name, QStringLiteral("罗技 C270"));
    EXPECT_EQ(settings.VideoWidth, 1280);
    EXPECT_EQ(settings.VideoHeight, 600);
    EXPECT_EQ(settings.UserName, QStringLiteral("张老师"));
    EXPECT_EQ(settings.BaseUrl, QStringLiteral("https://school.example/platform"));
    EXPECT_TRUE(settings.Password.isEmpty());
}

TEST_F(SettingIniTest, SaveKeepsForeignKeysAndRewritesForcedValues)
{
    WriteIni("; written by hand\n[Config]\nMcfSamplesPerSec=22050\nVideoIndex=5\nMyOwnKey=kept\n"
             "[Video]\nVideoIndex=1\n[Extra]\nA=b\n");
    TSettingIni settings = Loaded();
    settings.Save();
    const QByteArray saved = ReadIni();
    EXPECT_TRUE(saved.startsWith("; written by hand\n[Config]\nMcfSamplesPerSec=44100\nVideoIndex=1\nMyOwnKey=kept\n"));
    EXPECT_TRUE(saved.contains("[Extra]\nA=b\n"));
    EXPECT_EQ(Loaded().VideoIndex, 1);
}

TEST_F(SettingIniTest, FailedSaveNamesTheFileAndChangesNothing)
{
    // A folder where the file should be: the replacement cannot take its place.
    ASSERT_TRUE(QDir().mkdir(iniPath));
    TSettingIni settings(iniPath, appPath);
    try {
        settings.Save();
        FAIL() << "the save reported success";
    } catch (const EInOutError &error) {
        EXPECT_EQ(error.Message(), QStringLiteral("Unable to write to ") + iniPath);
    }
    EXPECT_TRUE(QFileInfo(iniPath).isDir());
    EXPECT_EQ(QDir(appPath).entryList(QDir::Files | QDir::Hidden).size(), 0) << "a temporary file was left";

    // The folder of the file is missing altogether.
    TSettingIni nowhere(appPath + QStringLiteral("missing/Setting.ini"), appPath);
    EXPECT_THROW(nowhere.Save(), EInOutError);
}

// A save killed at any moment leaves the old or the new file, never a mixture or a stub.
TEST_F(SettingIniTest, KillDuringSaveLeavesOldOrNewFile)
{
    TSettingIni first(iniPath, appPath);
    first.LastRecordFile = QString(200000, u'a');
    first.Save();
    const QByteArray firstBytes = ReadIni();
    TSettingIni second(iniPath, appPath);
    second.LastRecordFile = QString(150000, u'b');
    second.UserName = QStringLiteral("second");
    second.Save();
    const QByteArray secondBytes = ReadIni();

    std::mt19937 random(20261211);
    for (int round = 0; round < 12; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (unsigned i = 0;; ++i)
                (i % 2 ? first : second).Save();
        }
        usleep(useconds_t(std::uniform_int_distribution<int>(2000, 40000)(random)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        const QByteArray now = ReadIni();
        EXPECT_TRUE(now == firstBytes || now == secondBytes) << "round " << round << ": " << now.size() << " bytes";
    }
    // The next save clears what the killed ones left behind.
    first.Save();
    EXPECT_EQ(QDir(appPath).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Setting.ini")});
}

}  // namespace
