#include "app/ApplicationWindows.h"
#include "app/DataModule.h"
#include "app/DoSomethingThread.h"
#include "app/Log.h"
#include "app/MessageBox.h"
#include "platform/MxLoginForm.h"
#include "platform/Teacher.h"
#include "recording/MainFrm.h"

#include "PlatformStubProcess.h"
#include "tests/support/LoopbackAddresses.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr char SignInPath[] = "/j_spring_security_check";
// Bound for waits on the worker: far above what a sign-in against loopback takes.
constexpr int WorkerWaitMs = 30000;

QString Q(const std::string &text)
{
    return QString::fromStdString(text);
}

int SignInRequests(const PlatformStubProcess &stub)
{
    int count = 0;
    for (const auto &entry : stub.Requests())
        count += entry.value("path", "") == SignInPath;
    return count;
}

template <typename Window>
Window *TopLevel(const char *name)
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String(name))
            return qobject_cast<Window *>(widget);
    }
    return nullptr;
}

}  // namespace

// The sign-in window as the program creates it, on the offscreen platform, against
// platform-stub on loopback.
class tst_MxLoginForm : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void signInShowsTheMainWindow();
    void enterInThePasswordSignsIn();
    void failureShowsTheHint_data();
    void failureShowsTheHint();
    void emptyUserNameSendsNothing();
    void savedAccountIsFilledIn();
    void closingDuringSignInEndsCleanly();
    void destroyedWindowGetsNoResult();

private:
    void StartProgram(std::vector<std::string> stubArguments = {});
    void Type(const QString &user, const QString &password);
    QString Hint() const;

    std::unique_ptr<QTemporaryDir> appFolder;
    std::unique_ptr<TRDM> dataModule;
    std::unique_ptr<PlatformStubProcess> stub;
    QStringList boxes;
    TMxLoginForm *login = nullptr;
    TMainFrm *mainFrm = nullptr;
};

void tst_MxLoginForm::init()
{
    boxes.clear();
    SetMessageBoxPresenter([this](const QString &text, const QString &) { boxes << text; });
    appFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(appFolder->isValid());
    dataModule = std::make_unique<TRDM>(appFolder->path() + QLatin1Char('/'), appFolder->path());
    QVERIFY(dataModule->Started);
    Teacher = TTeacher{};
}

void tst_MxLoginForm::cleanup()
{
    DestroyApplicationWindows();
    QCOMPARE(TDoSomethingThread::RunningJobs(), 0);
    dataModule.reset();
    stub.reset();
    SetMessageBoxPresenter({});
    QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(u'\n')));
}

void tst_MxLoginForm::StartProgram(std::vector<std::string> stubArguments)
{
    stub = std::make_unique<PlatformStubProcess>(std::move(stubArguments));
    SettingIni->BaseUrl = Q(stub->BaseUrl());
    CreateApplicationWindows();
    login = TopLevel<TMxLoginForm>("MxLoginForm");
    mainFrm = TopLevel<TMainFrm>("MainFrm");
    QVERIFY(login && mainFrm);
    QVERIFY(login->isVisible());
    QVERIFY(!mainFrm->isVisible());
    QCOMPARE(login->size(), QSize(263, 303));
    QVERIFY(login->windowFlags() & Qt::FramelessWindowHint);
    // Rounded corners: the corner pixels are cut away, the edges between them stay.
    QVERIFY(!login->mask().contains(QPoint(0, 0)) && !login->mask().contains(QPoint(262, 302)));
    QVERIFY(login->mask().contains(QPoint(131, 0)) && login->mask().contains(QPoint(0, 151)));
}

void tst_MxLoginForm::Type(const QString &user, const QString &password)
{
    auto *userName = login->findChild<QLineEdit *>(QStringLiteral("edtUserName"));
    auto *passwordEdit = login->findChild<QLineEdit *>(QStringLiteral("edtPassword"));
    QVERIFY(userName && passwordEdit);
    QCOMPARE(passwordEdit->echoMode(), QLineEdit::Password);
    userName->clear();
    QTest::keyClicks(userName, user);
    passwordEdit->clear();
    QTest::keyClicks(passwordEdit, password);
}

// The whole hint text; the line itself may show it shortened to its width.
QString tst_MxLoginForm::Hint() const
{
    const auto *hint = login->findChild<QLabel *>(QStringLiteral("pnlHint"));
    if (!hint || !hint->isVisibleTo(login))
        return {};
    const QString shown = hint->text();
    const QString whole = hint->toolTip();
    if (shown != whole && !(shown.endsWith(QChar(0x2026)) && whole.startsWith(shown.chopped(1))))
        return QStringLiteral("line \"%1\" does not show \"%2\"").arg(shown, whole);
    return whole;
}

void tst_MxLoginForm::signInShowsTheMainWindow()
{
    SettingIni->RecordMode = 2;  // as a stored file may hold it
    StartProgram({"--account", "t9:Pw-9x&1"});
    QCOMPARE(SettingIni->RecordMode, 1);  // the pen board is always a source
    QCOMPARE(MainWindowHandle.load(), nullptr);
    QVERIFY(Hint().isEmpty());
    Type(QStringLiteral("  t9 "), QStringLiteral("Pw-9x&1"));
    auto *button = login->findChild<QPushButton *>(QStringLiteral("btnLogin"));
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!button->isEnabled());  // until the worker reports

    QTRY_VERIFY_WITH_TIMEOUT(mainFrm->isVisible(), WorkerWaitMs);
    QVERIFY(!login->isVisible());
    QVERIFY(button->isEnabled());
    QCOMPARE(MainWindowHandle.load(), static_cast<QObject *>(mainFrm));
    const QString appPath = appFolder->path() + QLatin1Char('/');
    QCOMPARE(Teacher.UserId, QStringLiteral("t9"));
    QCOMPARE(Teacher.DisplayName, QStringLiteral("t9"));
    QCOMPARE(Teacher.LoginStatus, 0);
    QCOMPARE(Teacher.LastMessage, QStringLiteral("登录成功"));
    QVERIFY(!Teacher.SessionId.isEmpty());
    QCOMPARE(Teacher.HomeUrl, Q(stub->BaseUrl()));
    QCOMPARE(Teacher.LocalFolder, appPath + QStringLiteral("res/"));
    QVERIFY(QDir(Teacher.LocalFolder).exists());
    QCOMPARE(Teacher.DefaultAvatarPath(), appPath + QStringLiteral("res/teacher.png"));
    QCOMPARE(Teacher.AvatarPath(), appPath + QStringLiteral("res/teacher.png"));  // no photo
    QVERIFY(mainFrm->findChild<QLabel *>(QStringLiteral("lbTeacher"))->text().contains(QStringLiteral("t9")));

    // The account is kept, trimmed, in Setting.ini; the password reaches neither it nor the log.
    QCOMPARE(SettingIni->UserName, QStringLiteral("t9"));
    QFile settings(appPath + QStringLiteral("Setting.ini"));
    QVERIFY(settings.open(QIODevice::ReadOnly));
    const QString settingsText = QString::fromUtf8(settings.readAll());
    QVERIFY(settingsText.contains(QStringLiteral("UserName=t9")));
    QVERIFY(!settingsText.contains(QStringLiteral("Pw-9x")));
    QFile log(ProgramLogPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString logText = QString::fromUtf8(log.readAll());
    QVERIFY(logText.contains(QStringLiteral("/j_spring_security_check")));
    QVERIFY(!logText.contains(QStringLiteral("Pw-9x")));
    QVERIFY(!logText.contains(Teacher.SessionId));
}

void tst_MxLoginForm::enterInThePasswordSignsIn()
{
    StartProgram();
    Type(QStringLiteral("demo"), QStringLiteral("demo"));
    QTest::keyClick(login->findChild<QLineEdit *>(QStringLiteral("edtPassword")), Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(mainFrm->isVisible(), WorkerWaitMs);
    QCOMPARE(Teacher.DisplayName, QStringLiteral("演示老师"));
    QCOMPARE(Teacher.AvatarPath(), appFolder->path() + QStringLiteral("/res/demo.png"));
    QCOMPARE(SignInRequests(*stub), 1);
}

void tst_MxLoginForm::failureShowsTheHint_data()
{
    QTest::addColumn<QStringList>("stubArguments");
    QTest::addColumn<bool>("serverDown");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("hint");  // the hint starts with this
    QTest::addColumn<int>("requests");  // sign-in requests the stub saw; -1: no stub asked

    const QString path = QString::fromLatin1(SignInPath);
    QTest::newRow("wrong password") << QStringList{} << false << "bad" << "登陆失败：用户名或密码错误" << 1;
    QTest::newRow("no reply twice") << QStringList{"--drop-first", path + "=2"} << false << "demo"
                                    << "登陆失败：Empty reply from server" << 2;
    QTest::newRow("server down") << QStringList{} << true << "demo" << "登陆失败：Failed to connect" << -1;
    QTest::newRow("HTTP error twice") << QStringList{"--reply-status", path + "=503"} << false << "demo"
                                      << "登陆失败：HTTP 503" << 2;
    QTest::newRow("not JSON") << QStringList{"--reply", path + "=<html>maintenance</html>"} << false << "demo"
                              << "登陆失败：网络异常" << 1;
    QTest::newRow("JSON cut short") << QStringList{"--malformed-json", path} << false << "demo"
                                    << "登陆失败：网络异常" << 1;
    QTest::newRow("no status") << QStringList{"--reply", path + R"(={"msg":"ok","result":{"jsessionid":"S"}})"}
                               << false << "demo" << "登陆失败：网络异常" << 1;
    QTest::newRow("status not a number")
        << QStringList{"--reply", path + R"(={"status":"ok","msg":"ok"})"} << false << "demo"
        << "登陆失败：网络异常" << 1;
}

void tst_MxLoginForm::failureShowsTheHint()
{
    QFETCH(QStringList, stubArguments);
    QFETCH(bool, serverDown);
    QFETCH(QString, password);
    QFETCH(QString, hint);
    QFETCH(int, requests);

    std::vector<std::string> arguments;
    for (const QString &argument : stubArguments)
        arguments.push_back(argument.toStdString());
    StartProgram(arguments);
    if (serverDown)
        SettingIni->BaseUrl = Q(sc_test::ClosedPortUrl());
    Type(QStringLiteral("demo"), password);
    auto *button = login->findChild<QPushButton *>(QStringLiteral("btnLogin"));
    QTest::mouseClick(button, Qt::LeftButton);

    QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), WorkerWaitMs);
    QVERIFY2(Hint().startsWith(hint), qPrintable(Hint()));
    QCOMPARE(Hint(), QStringLiteral("登陆失败：") + Teacher.LastMessage);
    QVERIFY(login->isVisible());
    QVERIFY(!mainFrm->isVisible());
    QVERIFY(Teacher.SessionId.isEmpty());
    if (requests >= 0)
        QCOMPARE(SignInRequests(*stub), requests);

    // A new attempt hides the old hint first.
    SettingIni->BaseUrl = Q(stub->BaseUrl());
    Type(QStringLiteral("demo"), QStringLiteral("demo"));
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(Hint().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), WorkerWaitMs);
}

void tst_MxLoginForm::emptyUserNameSendsNothing()
{
    StartProgram();
    Type(QStringLiteral(" \t "), QStringLiteral("demo"));
    QTest::mouseClick(login->findChild<QPushButton *>(QStringLiteral("btnLogin")), Qt::LeftButton);
    QCOMPARE(Hint(), QStringLiteral("用户名不能为空。"));
    QCOMPARE(login->focusWidget(), login->findChild<QLineEdit *>(QStringLiteral("edtUserName")));
    QVERIFY(login->findChild<QPushButton *>(QStringLiteral("btnLogin"))->isEnabled());
    QCOMPARE(TDoSomethingThread::RunningJobs(), 0);
    QCOMPARE(SignInRequests(*stub), 0);
}

void tst_MxLoginForm::savedAccountIsFilledIn()
{
    SettingIni->UserName = QStringLiteral("t001");
    StartProgram();
    QCOMPARE(login->findChild<QLineEdit *>(QStringLiteral("edtUserName"))->text(), QStringLiteral("t001"));
    QVERIFY(login->findChild<QLineEdit *>(QStringLiteral("edtPassword"))->text().isEmpty());
}

void tst_MxLoginForm::closingDuringSignInEndsCleanly()
{
    StartProgram({"--slow", SignInPath, "--slow-ms", "60000"});
    QSignalSpy closed(login, &TMxLoginForm::Closed);
    Type(QStringLiteral("demo"), QStringLiteral("demo"));
    auto *password = login->findChild<QLineEdit *>(QStringLiteral("edtPassword"));
    QTest::keyClick(password, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(SignInRequests(*stub), 1, WorkerWaitMs);
    // A second try while the first runs does nothing.
    QTest::keyClick(password, Qt::Key_Return);
    QTest::mouseClick(login->findChild<QPushButton *>(QStringLiteral("btnLogin")), Qt::LeftButton);
    QCOMPARE(TDoSomethingThread::RunningJobs(), 1);

    QTest::mouseClick(login->findChild<QPushButton *>(QStringLiteral("btnClose")), Qt::LeftButton);
    QCOMPARE(closed.count(), 1);
    QVERIFY(!login->isVisible());
    // What the program does after its event loop ends: stop the worker, then the windows go.
    QVERIFY(TDoSomethingThread::StopAllAndWait(std::chrono::milliseconds(WorkerWaitMs)));
    DestroyApplicationWindows();
    QCoreApplication::processEvents();
    QCOMPARE(SignInRequests(*stub), 1);
    QVERIFY(Teacher.SessionId.isEmpty() && Teacher.LoginStatus == -1 && Teacher.LastMessage.isEmpty());
}

void tst_MxLoginForm::destroyedWindowGetsNoResult()
{
    stub = std::make_unique<PlatformStubProcess>(std::vector<std::string>{"--slow", SignInPath, "--slow-ms", "60000"});
    SettingIni->BaseUrl = Q(stub->BaseUrl());
    auto form = std::make_unique<TMxLoginForm>();
    form->show();
    login = form.get();
    Type(QStringLiteral("demo"), QStringLiteral("demo"));
    QTest::mouseClick(form->findChild<QPushButton *>(QStringLiteral("btnLogin")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(SignInRequests(*stub), 1, WorkerWaitMs);
    form.reset();
    // The worker is told to stop when its window goes, and ends on its own.
    QTRY_COMPARE_WITH_TIMEOUT(TDoSomethingThread::RunningJobs(), 0, WorkerWaitMs);
    QCoreApplication::processEvents();
    QCOMPARE(SignInRequests(*stub), 1);
    QVERIFY(Teacher.SessionId.isEmpty() && Teacher.LastMessage.isEmpty());
}

QTEST_MAIN(tst_MxLoginForm)
#include "tst_MxLoginForm.moc"
