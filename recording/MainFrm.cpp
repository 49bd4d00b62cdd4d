#include "recording/MainFrm.h"

#include "app/DataModule.h"
#include "app/SettingIni.h"
#include "platform/Teacher.h"

#include <QCloseEvent>
#include <QLabel>
#include <QScreen>

namespace {
// Left and top that centre the window on its monitor, leaving room for a 40-pixel task bar.
QPoint CentredOn(const QRect &monitor)
{
    return monitor.topLeft() + QPoint(std::max(0, (monitor.width() - TMainFrm::FormWidth) / 2),
                                      std::max(0, (monitor.height() - 40 - TMainFrm::FormHeight) / 2));
}
}  // namespace

TMainFrm::TMainFrm(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("MainFrm"));
    setWindowTitle(QStringLiteral("Tellwick"));
    resize(FormWidth, FormHeight);
    lbTeacher = new QLabel(this);
    lbTeacher->setObjectName(QStringLiteral("lbTeacher"));
    lbTeacher->setGeometry(20, 20, 600, 30);
    // The pen board is always one of the sources.
    if (SettingIni)
        SettingIni->RecordMode = 1;
}

TMainFrm::~TMainFrm()
{
    QObject *self = this;
    MainWindowHandle.compare_exchange_strong(self, nullptr);
}

void TMainFrm::showEvent(QShowEvent *event)
{
    // The teacher is known from the sign-in that showed this window.
    lbTeacher->setText(Teacher.UserId.isEmpty()
                           ? Teacher.DisplayName
                           : Teacher.DisplayName + QStringLiteral("（") + Teacher.UserId + QStringLiteral("）"));
    if (const QScreen *monitor = screen())
        move(CentredOn(monitor->geometry()));
    // The capture pipeline posts its notices (a stalled preview source) to this window.
    MainWindowHandle = this;
    QWidget::showEvent(event);
}

void TMainFrm::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted())
        emit Closed();
}
