#include "app/ApplicationWindows.h"

#include <QWidget>

#include <memory>

namespace {
std::unique_ptr<QWidget> firstWindow;
}

void CreateApplicationWindows()
{
    firstWindow = std::make_unique<QWidget>();
    firstWindow->setWindowTitle(QStringLiteral("Tellwick"));
    firstWindow->show();
}

void DestroyApplicationWindows()
{
    firstWindow.reset();
}
