#include "app/Application.h"

#include "app/ErrorHandler.h"

TApplication::TApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Tellwick"));
    setApplicationVersion(QStringLiteral(STUDIOCAST_VERSION));
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ReportCurrentException();
        return false;
    }
}
