#pragma once

#include "app/DbQuery.h"
#include "app/InstanceLock.h"
#include "app/SettingIni.h"

#include <QObject>
#include <QString>
#include <QUuid>

#include <atomic>
#include <memory>

// The program's data module: created before any window and destroyed after the last one. It
// refuses a second running copy, opens the day's log, loads the settings and holds the one
// query of the recordings database.
class TRDM {
public:
    // The text that identifies a running copy of the program.
    static const QString InstanceText;

    // appPath: the program's folder with its trailing '/'; lockFolder: where the running-copy
    // lock lives (the user's runtime folder). A second copy shows its notice, stays not
    // Started and touches none of the program's files.
    TRDM(const QString &appPath, const QString &lockFolder);
    // Saves the settings (a failure is reported and logged), then closes the log.
    ~TRDM();
    TRDM(const TRDM &) = delete;
    TRDM &operator=(const TRDM &) = delete;

    bool Started = false;
    QString UserGuid;  // never assigned: every row belongs to the empty user
    QString UploadId;  // never assigned

    TDbQuery &AcquireQuery() { return QryRecordSel; }
    int ReleaseQuery(TDbQuery &query);

    int LoadSettings();
    // Throws EInOutError "Unable to write to <file>" when the file cannot be written.
    int SaveSettings();

private:
    std::unique_ptr<TInstanceLock> instanceLock;
    std::unique_ptr<TSettingIni> settings;
    TDbQuery QryRecordSel;
    bool logOpen = false;
};

// Gives the query back when it goes out of scope, also when the work raised an error.
class TQueryRelease {
public:
    TQueryRelease(TRDM &owner, TDbQuery &query) : owner(owner), query(query) {}
    ~TQueryRelease() { owner.ReleaseQuery(query); }
    TQueryRelease(const TQueryRelease &) = delete;
    TQueryRelease &operator=(const TQueryRelease &) = delete;

private:
    TRDM &owner;
    TDbQuery &query;
};

// Program-wide objects. They are set while the data module lives (RDM, SettingIni) or once at
// start (AppPath); the log is reached through Notice (app/Log.h).
extern TRDM *RDM;
extern QString AppPath;              // the program's folder, ending with '/'
extern TSettingIni *SettingIni;
extern const QUuid VideoInputCategory;  // {6994AD05-93EF-11D0-A3CC-00A0C9223196}
// The main window, target of the capture pipeline's posted events; set on its first show.
extern std::atomic<QObject *> MainWindowHandle;

// The folder of the running executable, ending with '/'.
QString ExecutableFolder();
// The user's runtime folder (XDG_RUNTIME_DIR, or Qt's fallback for it).
QString RuntimeFolder();
