#include "app/DataModule.h"

#include "app/ErrorHandler.h"
#include "app/Errors.h"
#include "app/Log.h"
#include "app/MessageBox.h"

#include <QCoreApplication>
#include <QDate>
#include <QStandardPaths>

#include <exception>

TRDM *RDM = nullptr;
QString AppPath;
TSettingIni *SettingIni = nullptr;
const QUuid VideoInputCategory(0x6994AD05, 0x93EF, 0x11D0, 0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96);
std::atomic<QObject *> MainWindowHandle{nullptr};

const QString TRDM::InstanceText = QStringLiteral("(MyStudiocast)Only One Application Instance Run!");

TRDM::TRDM(const QString &appPath, const QString &lockFolder)
{
    instanceLock = std::make_unique<TInstanceLock>(lockFolder, InstanceText);
    if (instanceLock->Result() == TInstanceLock::TResult::HeldByAnother) {
        Started = false;
        ShowMessageBox(QStringLiteral("Quillo正在启动中..."), QStringLiteral("提示"));
        return;
    }

    AppPath = appPath;
    try {
        OpenProgramLog(AppPath + QStringLiteral("Logs/"), LogFileNameFor(QDate::currentDate()));
        logOpen = true;
    } catch (const TAppError &error) {
        ReportError(error.Message());
        return;
    }
    Started = true;
    RDM = this;
    Notice(QStringLiteral("程序启动，版本 ") + QStringLiteral(STUDIOCAST_VERSION));
    if (instanceLock->Result() == TInstanceLock::TResult::Unavailable)
        Notice(QStringLiteral("无法检查程序是否已在运行：") + instanceLock->Problem());

    settings = std::make_unique<TSettingIni>(AppPath + QStringLiteral("Setting.ini"), AppPath);
    SettingIni = settings.get();
    LoadSettings();

    QryRecordSel.SetDatabaseFile(AppPath + QStringLiteral("Record.mdb"));
}

TRDM::~TRDM()
{
    // Settings first, while the log can still record a failed save.
    if (Started && settings) {
        try {
            SaveSettings();
        } catch (const TAppError &error) {
            ReportError(QStringLiteral("保存设置出错：") + error.Message());
        } catch (const std::exception &error) {
            ReportError(QStringLiteral("保存设置出错：") + QString::fromUtf8(error.what()));
        }
        SettingIni = nullptr;
        settings.reset();
    }
    QryRecordSel.SetDatabaseFile(QString());
    if (logOpen) {
        Notice(QStringLiteral("程序退出"));
        CloseProgramLog();
    }
    if (RDM == this)
        RDM = nullptr;
}

int TRDM::ReleaseQuery(TDbQuery &query)
{
    query.Close();
    return 0;
}

int TRDM::LoadSettings()
{
    settings->Load();
    return 0;
}

int TRDM::SaveSettings()
{
    settings->Save();
    return 0;
}

QString ExecutableFolder()
{
    return QCoreApplication::applicationDirPath() + u'/';
}

QString RuntimeFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}
