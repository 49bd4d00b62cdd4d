#include "app/ApplicationWindows.h"
#include "app/CrashReport.h"
#include "app/DataModule.h"
#include "app/Termination.h"

#include <QApplication>

#include <memory>

int main(int argc, char *argv[])
{
    InstallCrashReporter();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tellwick"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tellwick"));
    QApplication::setApplicationVersion(QStringLiteral(STUDIOCAST_VERSION));
    InstallTerminationHandler();

    auto dataModule = std::make_unique<TRDM>(ExecutableFolder(), RuntimeFolder());
    if (!dataModule->Started) {
        dataModule.reset();
        return 0;
    }

    CreateApplicationWindows();
    const int result = TerminationRequested() ? 0 : QApplication::exec();
    DestroyApplicationWindows();
    dataModule.reset();
    return result;
}
