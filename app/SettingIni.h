#pragma once

#include <QString>

// Every user setting of the program, stored in Setting.ini beside the executable. Loaded once
// at start, saved at the end and whenever a dialog changes the settings; between those moments
// the fields are read and assigned directly, on the main thread. Worker threads read only
// UserName, Password and BaseUrl, which the main thread sets before starting them.
class TSettingIni {
public:
    // Binds the record to the file; appPath is the program's folder with its trailing '/'
    // (the default recording folder lies in it). Reads nothing yet: the fields hold defaults.
    TSettingIni(const QString &fileName, const QString &appPath);

    const QString &FileName() const { return fileName; }

    // Reads every key; absent keys and unreadable numbers give the defaults. A missing file
    // gives all defaults. McfSamplesPerSec is always 44100 afterwards.
    void Load();
    // Writes every persisted field (never Password). The file is replaced as a whole, so a
    // crash or a full disk during the save leaves the previous file intact. Keys and comments
    // the program does not know stay in the file. Throws EInOutError "Unable to write to <file>".
    void Save();

    int Cam1 = 0;
    int Cam1Type = 0;
    QString Cam1Name;
    int Cam2 = 0;
    int Cam2Type = 0;
    QString Cam2Name;
    int Mcf = 0;
    int McfSamplesPerSec = 44100;
    int Audio = 0;
    QString RecordDir;
    QString ExportDir;
    QString LastRecordFile;
    int VideoWidth = 800;
    int VideoHeight = 600;
    int VideoIndex = 0;
    int VideoFramesPerSec = 20;
    int VideoKBitRate = 1000;
    int AudioKBitRate = 96;
    bool IsUseOffice = true;
    bool IsFirstUse = true;
    int RecordMode = 1;
    bool Is4B3 = true;
    int VideoQuality = 1;
    int PPTFrameRate = 5;
    int PPTPlayType = 1;
    QString UserName;
    QString Password;  // memory only
    QString BaseUrl;

    // The address of the platform when the file names none: the local platform stub.
    static QString DefaultBaseUrl();

private:
    QString fileName;
    QString appPath;

    QString DefaultRecordDir() const;
    static QString DefaultExportDir();
};
