#include "app/SettingIni.h"

#include "app/Errors.h"
#include "app/IniFile.h"
#include "app/WriteAll.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString NoDevice = QStringLiteral("空");

const QString Config = QStringLiteral("Config");
const QString AudioSection = QStringLiteral("Audio");
const QString Video = QStringLiteral("Video");
const QString User = QStringLiteral("User");

QString ReadFileText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

// Temporary files of a save that a crash interrupted.
void RemoveLeftovers(const QString &folder, const QString &fileName)
{
    const QString prefix = u'.' + fileName + u'.';
    const QDir dir(folder);
    for (const QString &name : dir.entryList({prefix + QStringLiteral("??????")}, QDir::Files | QDir::Hidden))
        QFile::remove(dir.filePath(name));
}

// Replaces the file by a new one in a single rename: readers and a crash see either the old
// or the new content, never a part of it.
bool ReplaceFile(const QString &path, const QByteArray &content)
{
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath();
    const QString folder = QFileInfo(target).absolutePath();
    RemoveLeftovers(folder, QFileInfo(target).fileName());
    QByteArray temporary = QFile::encodeName(folder + QStringLiteral("/.") + QFileInfo(target).fileName() +
                                             QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat existing{};
    const mode_t mode = ::stat(QFile::encodeName(target).constData(), &existing) == 0 ? existing.st_mode & 07777 : 0644;
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, content.constData(), size_t(content.size())) == 0
        && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.constData(), QFile::encodeName(target).constData()) == 0;
    if (!ok) {
        ::unlink(temporary.constData());
        return false;
    }
    // Make the rename itself durable.
    const int folderFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return true;
}

}  // namespace

TSettingIni::TSettingIni(const QString &fileName, const QString &appPath)
    : Cam1Name(NoDevice), Cam2Name(NoDevice), BaseUrl(DefaultBaseUrl()), fileName(fileName), appPath(appPath)
{
    RecordDir = DefaultRecordDir();
    ExportDir = DefaultExportDir();
}

QString TSettingIni::DefaultBaseUrl()
{
    return QStringLiteral("http://127.0.0.1:8080");
}

QString TSettingIni::DefaultRecordDir() const
{
    return appPath + QStringLiteral("mp4Files/");
}

QString TSettingIni::DefaultExportDir()
{
    return QDir::homePath() + u'/';
}

void TSettingIni::Load()
{
    using namespace IniFormat;
    const TIniDocument ini(ReadFileText(fileName));

    Cam1 = ReadInteger(ini, Config, QStringLiteral("Cam1"), 0);
    Cam1Type = ReadInteger(ini, Config, QStringLiteral("Cam1Type"), 0);
    Cam2 = ReadInteger(ini, Config, QStringLiteral("Cam2"), 0);
    Cam2Type = ReadInteger(ini, Config, QStringLiteral("Cam2Type"), 0);
    Mcf = ReadInteger(ini, Config, QStringLiteral("Mcf"), 0);
    McfSamplesPerSec = ReadInteger(ini, Config, QStringLiteral("McfSamplesPerSec"), 44100);
    Audio = ReadInteger(ini, Config, QStringLiteral("Audio"), 0);
    RecordDir = ReadString(ini, Config, QStringLiteral("RecordDir"), DefaultRecordDir());
    ExportDir = ReadString(ini, Config, QStringLiteral("ExportDir"), DefaultExportDir());
    LastRecordFile = ReadString(ini, Config, QStringLiteral("LastRecordFile"), QString());
    Cam1Name = ReadString(ini, Config, QStringLiteral("Cam1Name"), NoDevice);
    Cam2Name = ReadString(ini, Config, QStringLiteral("Cam2Name"), NoDevice);
    AudioKBitRate = ReadInteger(ini, AudioSection, QStringLiteral("AudioKBitRate"), 96);
    // The microphone is always opened at 44.1 kHz, whatever the file says.
    McfSamplesPerSec = 44100;
    VideoIndex = ReadInteger(ini, Video, QStringLiteral("VideoIndex"), 0);
    VideoHeight = ReadInteger(ini, Video, QStringLiteral("VideoHeight"), 600);
    VideoWidth = ReadInteger(ini, Video, QStringLiteral("VideoWidth"), 800);
    VideoFramesPerSec = ReadInteger(ini, Video, QStringLiteral("VideoFramesPerSec"), 20);
    VideoKBitRate = ReadInteger(ini, Video, QStringLiteral("VideoKBitRate"), 1000);
    IsUseOffice = ReadBool(ini, Config, QStringLiteral("IsUseOffice"), true);
    IsFirstUse = ReadBool(ini, Config, QStringLiteral("IsFirstUse"), true);
    Is4B3 = ReadBool(ini, Config, QStringLiteral("Is4B3"), true);
    VideoQuality = ReadInteger(ini, Config, QStringLiteral("VideoQuality"), 1);
    RecordMode = ReadInteger(ini, Config, QStringLiteral("RecordMode"), 1);
    PPTFrameRate = ReadInteger(ini, Config, QStringLiteral("PPTFrameRate"), 5);
    PPTPlayType = ReadInteger(ini, Config, QStringLiteral("PPTPlayType"), 1);
    UserName = ReadString(ini, User, QStringLiteral("UserName"), QString());
    BaseUrl = ReadString(ini, User, QStringLiteral("BaseUrl"), DefaultBaseUrl());
}

void TSettingIni::Save()
{
    // Start from the file as it is now, so that keys of other origin survive the save.
    TIniDocument ini(ReadFileText(fileName));
    const auto integer = [&ini](const QString &section, const char *key, int value) {
        ini.SetValue(section, QLatin1String(key), QString::number(value));
    };
    const auto text = [&ini](const QString &section, const char *key, const QString &value) {
        ini.SetValue(section, QLatin1String(key), value);
    };
    const auto boolean = [&ini](const QString &section, const char *key, bool value) {
        ini.SetValue(section, QLatin1String(key), value ? QStringLiteral("1") : QStringLiteral("0"));
    };

    integer(Config, "Cam1", Cam1);
    integer(Config, "Cam1Type", Cam1Type);
    integer(Config, "Cam2", Cam2);
    integer(Config, "Cam2Type", Cam2Type);
    integer(Config, "Mcf", Mcf);
    integer(Config, "McfSamplesPerSec", McfSamplesPerSec);
    integer(Config, "VideoIndex", VideoIndex);
    integer(Config, "Audio", Audio);
    text(Config, "RecordDir", RecordDir);
    text(Config, "ExportDir", ExportDir);
    text(Config, "LastRecordFile", LastRecordFile);
    text(Config, "Cam1Name", Cam1Name);
    text(Config, "Cam2Name", Cam2Name);
    integer(AudioSection, "AudioKBitRate", AudioKBitRate);
    integer(Video, "VideoIndex", VideoIndex);
    integer(Video, "VideoHeight", VideoHeight);
    integer(Video, "VideoWidth", VideoWidth);
    integer(Video, "VideoFramesPerSec", VideoFramesPerSec);
    integer(Video, "VideoKBitRate", VideoKBitRate);
    boolean(Config, "IsUseOffice", IsUseOffice);
    boolean(Config, "IsFirstUse", IsFirstUse);
    boolean(Config, "Is4B3", Is4B3);
    integer(Config, "VideoQuality", VideoQuality);
    integer(Config, "RecordMode", RecordMode);
    integer(Config, "PPTFrameRate", PPTFrameRate);
    integer(Config, "PPTPlayType", PPTPlayType);
    text(User, "UserName", UserName);
    text(User, "BaseUrl", BaseUrl);

    if (!ReplaceFile(fileName, ini.Text().toUtf8()))
        throw EInOutError(QStringLiteral("Unable to write to %1").arg(fileName));
}
