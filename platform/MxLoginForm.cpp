#include "platform/MxLoginForm.h"

#include "app/DataModule.h"
#include "app/DoSomethingThread.h"
#include "app/Errors.h"
#include "app/Log.h"
#include "app/Messages.h"
#include "platform/Teacher.h"
#include "platform/TrimBlanks.h"
#include "platform/WebUsersData.h"

#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

namespace {
const QString LoginFailedPrefix = QStringLiteral("登陆失败：");

// Message 1035 from the sign-in worker: 0 for success, 1 for failure, with what the sign-in
// returned for the main thread to put into Teacher.
class TLoginResultEvent : public QEvent {
public:
    TLoginResultEvent(TTeacherLoginResult result, QString homeUrl, QString localFolder)
        : QEvent(Messages::WorkerResult), Result(std::move(result)), HomeUrl(std::move(homeUrl)),
          LocalFolder(std::move(localFolder))
    {
    }

    int Param() const { return Result.Success ? 0 : 1; }

    const TTeacherLoginResult Result;
    const QString HomeUrl;
    const QString LocalFolder;
};

// The window's background picture; dragging it moves the borderless window.
class TFormBackground : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        QLinearGradient sky(0, 0, 0, height());
        sky.setColorAt(0.0, QColor(68, 142, 254));
        sky.setColorAt(0.45, QColor(120, 178, 255));
        sky.setColorAt(0.451, QColor(246, 248, 252));
        sky.setColorAt(1.0, QColor(236, 241, 248));
        painter.fillRect(rect(), sky);
        painter.setPen(Qt::white);
        QFont title = font();
        title.setPixelSize(14);
        title.setBold(true);
        painter.setFont(title);
        painter.drawText(QRect(12, 6, width() - 50, 22), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("Tellwick"));
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton)
            return;
        QWindow *handle = window()->windowHandle();
        // Where the window system cannot move the window itself, follow the mouse here.
        dragStart = handle && handle->startSystemMove()
                        ? std::nullopt
                        : std::optional(event->globalPosition().toPoint() - window()->pos());
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (dragStart && (event->buttons() & Qt::LeftButton))
            window()->move(event->globalPosition().toPoint() - *dragStart);
    }

    void mouseReleaseEvent(QMouseEvent *) override { dragStart.reset(); }

private:
    std::optional<QPoint> dragStart;
};

// A neutral head-and-shoulders picture for the avatar place of the sign-in window.
QPixmap DefaultHeadPicture(int size)
{
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath circle;
    circle.addEllipse(QRectF(1, 1, size - 2, size - 2));
    painter.setClipPath(circle);
    painter.fillRect(picture.rect(), QColor(214, 226, 242));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255));
    painter.drawEllipse(QRectF(size * 0.32, size * 0.18, size * 0.36, size * 0.36));
    painter.drawEllipse(QRectF(size * 0.14, size * 0.58, size * 0.72, size * 0.62));
    painter.setClipping(false);
    painter.setPen(QPen(Qt::white, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    return picture;
}

QRegion RoundedRegion(const QRect &bounds, int radius)
{
    QPainterPath outline;
    outline.addRoundedRect(QRectF(bounds), radius, radius);
    return QRegion(outline.toFillPolygon().toPolygon());
}

// The sign-in on the worker: nothing shared is read or written here.
std::unique_ptr<QEvent> SignInJob(const QString &baseUrl, const TTeacherLoginInfo &info,
                                  const QString &appPath, std::stop_token stop)
{
    TTeacherLoginResult result = TWebUsersData().Login(baseUrl, info, stop);
    if (stop.stop_requested())
        return nullptr;
    const QString folder = appPath + QStringLiteral("res");
    if (!QDir().mkpath(folder))
        Notice(QStringLiteral("无法创建头像文件夹 ") + folder);
    return std::make_unique<TLoginResultEvent>(std::move(result), baseUrl, folder + QLatin1Char('/'));
}
}  // namespace

TMxLoginForm::TMxLoginForm(QWidget *parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("MxLoginForm"));
    setWindowTitle(QStringLiteral("Tellwick"));
    setFixedSize(FormWidth, FormHeight);
    setMask(RoundedRegion(rect(), CornerRadius));
    BuildControls();
    if (const QScreen *monitor = screen())
        move(monitor->geometry().center() - rect().center());
}

void TMxLoginForm::BuildControls()
{
    imgBack = new TFormBackground(this);
    imgBack->setObjectName(QStringLiteral("imgBack"));
    imgBack->setGeometry(rect());

    constexpr int HeadSize = 72;
    imgHead = new QLabel(this);
    imgHead->setObjectName(QStringLiteral("imgHead"));
    imgHead->setGeometry((FormWidth - HeadSize) / 2, 38, HeadSize, HeadSize);
    imgHead->setPixmap(DefaultHeadPicture(HeadSize));

    constexpr int FieldLeft = (FormWidth - 200) / 2;
    const QString fieldStyle = QStringLiteral(
        "QLineEdit { border: 1px solid #c9d3e0; border-radius: 4px; padding: 0 8px;"
        " background: white; color: #222; font-size: 13px; }"
        "QLineEdit:focus { border-color: #448efe; }");
    edtUserName = new QLineEdit(this);
    edtUserName->setObjectName(QStringLiteral("edtUserName"));
    edtUserName->setGeometry(FieldLeft, 126, 200, 34);
    edtUserName->setPlaceholderText(QStringLiteral("请输入账号"));
    edtUserName->setStyleSheet(fieldStyle);

    edtPassword = new QLineEdit(this);
    edtPassword->setObjectName(QStringLiteral("edtPassword"));
    edtPassword->setGeometry(FieldLeft, 168, 200, 34);
    edtPassword->setPlaceholderText(QStringLiteral("密码"));
    edtPassword->setEchoMode(QLineEdit::Password);
    edtPassword->setAttribute(Qt::WA_InputMethodEnabled, false);
    edtPassword->setStyleSheet(fieldStyle);

    pnlHint = new QLabel(this);
    pnlHint->setObjectName(QStringLiteral("pnlHint"));
    pnlHint->setGeometry(FieldLeft, 206, 200, 24);
    pnlHint->setStyleSheet(QStringLiteral(
        "QLabel { background: white; color: #d03030; font-size: 12px; padding: 0 4px; }"));
    pnlHint->hide();

    btnLogin = new QPushButton(QStringLiteral("登录"), this);
    btnLogin->setObjectName(QStringLiteral("btnLogin"));
    btnLogin->setGeometry(FieldLeft, 235, 200, 41);
    btnLogin->setStyleSheet(QStringLiteral(
        "QPushButton { background: #448efe; color: white; border: none; border-radius: 4px;"
        " font-size: 15px; }"
        "QPushButton:hover { background: #5c9dff; }"
        "QPushButton:pressed { background: #2f78e6; }"
        "QPushButton:disabled { background: #a9c7f5; }"));

    btnClose = new QPushButton(QStringLiteral("×"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setGeometry(FormWidth - 25 - 4, 4, 25, 25);
    btnClose->setFocusPolicy(Qt::NoFocus);
    btnClose->setStyleSheet(QStringLiteral(
        "QPushButton { background: transparent; color: white; border: none; font-size: 18px; }"
        "QPushButton:hover { background: rgba(255, 255, 255, 60); border-radius: 4px; }"));

    connect(btnLogin, &QPushButton::clicked, this, &TMxLoginForm::LoginClick);
    connect(edtPassword, &QLineEdit::returnPressed, this, &TMxLoginForm::LoginClick);
    connect(btnClose, &QPushButton::clicked, this, &QWidget::close);
}

void TMxLoginForm::showEvent(QShowEvent *event)
{
    if (!SettingIni->UserName.isEmpty())
        edtUserName->setText(SettingIni->UserName);
    QWidget::showEvent(event);
}

void TMxLoginForm::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted())
        emit Closed();
}

void TMxLoginForm::LoginClick()
{
    if (!btnLogin->isEnabled())
        return;
    pnlHint->hide();
    const QString userName = TrimBlanks(edtUserName->text());
    if (userName.isEmpty()) {
        ShowHint(QStringLiteral("用户名不能为空。"));
        edtUserName->setFocus();
        return;
    }
    SettingIni->UserName = userName;
    SettingIni->Password = TrimBlanks(edtPassword->text());
    try {
        RDM->SaveSettings();
    } catch (const TAppError &error) {
        // The sign-in does not depend on the file; the account is written again at exit.
        Notice(error.Message());
    }

    TTeacherLoginInfo info;
    info.UserName = SettingIni->UserName;
    info.Password = SettingIni->Password;
    TDoSomethingThread worker(this);
    worker.SetJob([baseUrl = SettingIni->BaseUrl, info, appPath = AppPath](std::stop_token stop) {
        return SignInJob(baseUrl, info, appPath, stop);
    });
    try {
        worker.Resume();
    } catch (const std::exception &error) {
        Notice(QStringLiteral("无法启动登录线程：") + QString::fromUtf8(error.what()));
        ShowHint(LoginFailedPrefix + QString::fromUtf8(error.what()));
        return;
    }
    btnLogin->setEnabled(false);
}

void TMxLoginForm::customEvent(QEvent *event)
{
    const auto *reply = dynamic_cast<const TLoginResultEvent *>(event);
    if (event->type() != Messages::WorkerResult || !reply) {
        QWidget::customEvent(event);
        return;
    }
    Teacher.TakeLoginResult(reply->Result, reply->HomeUrl, reply->LocalFolder);
    btnLogin->setEnabled(true);
    btnLogin->repaint();
    if (reply->Param() != 0) {
        ShowHint(LoginFailedPrefix + Teacher.LastMessage);
        return;
    }
    hide();
    emit SignedIn();
}

void TMxLoginForm::ShowHint(const QString &text)
{
    // Error texts can be longer than the line: the line shows their start, the tool tip and
    // the log the whole text.
    const int room = pnlHint->contentsRect().width() - 8;
    pnlHint->setText(pnlHint->fontMetrics().elidedText(text, Qt::ElideRight, room));
    pnlHint->setToolTip(text);
    pnlHint->show();
}
