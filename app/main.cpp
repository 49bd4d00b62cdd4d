#include "app/Application.h"
#include "app/ApplicationWindows.h"
#include "app/CrashReport.h"
#include "app/DataModule.h"
#include "app/ErrorHandler.h"
#include "app/Termination.h"

#include <memory>

int main(int argc, char *argv[])
{
    InstallCrashReporter();
    TApplication application(argc, argv);
    InstallTerminationHandler();

    auto dataModule = std::make_unique<TRDM>(ExecutableFolder(), RuntimeFolder());
    if (!dataModule->Started) {
        dataModule.reset();
        return 0;
    }

    try {
        CreateApplicationWindows();
    } catch (...) {
        ReportCurrentException();
        DestroyApplicationWindows();
        return 1;
    }
    const int result = TerminationRequested() ? 0 : TApplication::exec();
    DestroyApplicationWindows();
    dataModule.reset();
    return result;
}
