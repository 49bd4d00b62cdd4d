#include "app/Application.h"
#include "app/Errors.h"
#include "app/Log.h"
#include "app/MessageBox.h"

#include <QEvent>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

class ActionEvent : public QEvent {
public:
    explicit ActionEvent(std::function<void()> action) : QEvent(QEvent::User), action(std::move(action)) {}
    std::function<void()> action;
};

class ThrowingObject : public QObject {
public:
    int handled = 0;

protected:
    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        ++handled;
        static_cast<ActionEvent *>(event)->action();
        return true;
    }
};

TEST(Application, ErrorsFromEventHandlersAreReportedAndTheLoopGoesOn)
{
    int argc = 1;
    char name[] = "tst_application";
    char *argv[] = {name, nullptr};
    TApplication application(argc, argv);
    QTemporaryDir folder;
    OpenProgramLog(folder.path() + u'/', QStringLiteral("log.txt"));
    QStringList boxes;
    SetMessageBoxPresenter([&boxes](const QString &text, const QString &caption) {
        EXPECT_EQ(caption, QStringLiteral("提示"));
        boxes << text;
    });

    ThrowingObject target;
    const std::function<void()> actions[] = {
        [] { throw EDatabaseError(QStringLiteral("数据库 /x/Record.mdb 出错：locked")); },
        [] { throw std::runtime_error("plain failure"); },
        [] { throw 42; },
        [] {},
    };
    for (const auto &action : actions)
        QCoreApplication::postEvent(&target, new ActionEvent(action));
    QTimer::singleShot(0, &application, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(TApplication::exec(), 7);

    EXPECT_EQ(target.handled, 4);
    EXPECT_EQ(boxes, (QStringList{QStringLiteral("数据库 /x/Record.mdb 出错：locked"), QStringLiteral("plain failure"),
                                  QStringLiteral("未知错误")}));
    const QString log = ProgramLogPath();
    CloseProgramLog();
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(file.readAll()).contains(QStringLiteral("[提示]数据库 /x/Record.mdb 出错：locked\r\n")));
    SetMessageBoxPresenter({});
}

}  // namespace
