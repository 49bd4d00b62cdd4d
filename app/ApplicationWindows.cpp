#include "app/ApplicationWindows.h"

#include "app/DoSomethingThread.h"
#include "app/Log.h"
#include "platform/MxLoginForm.h"
#include "recording/MainFrm.h"

#include <QCoreApplication>

#include <memory>

namespace {
// Long enough for any worker to notice its stop request (about a second) and leave.
constexpr std::chrono::seconds WorkerStopLimit{10};

std::unique_ptr<TMxLoginForm> loginForm;
std::unique_ptr<TMainFrm> mainFrm;
}  // namespace

void CreateApplicationWindows()
{
    loginForm = std::make_unique<TMxLoginForm>();
    mainFrm = std::make_unique<TMainFrm>();
    QObject::connect(loginForm.get(), &TMxLoginForm::SignedIn, mainFrm.get(), &QWidget::show);
    QObject::connect(loginForm.get(), &TMxLoginForm::Closed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    QObject::connect(mainFrm.get(), &TMainFrm::Closed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    loginForm->show();
}

void DestroyApplicationWindows()
{
    if (!TDoSomethingThread::StopAllAndWait(WorkerStopLimit))
        Notice(QStringLiteral("退出时仍有后台任务未结束"));
    mainFrm.reset();
    loginForm.reset();
}
