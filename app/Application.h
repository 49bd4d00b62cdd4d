#pragma once

#include <QApplication>

// The application object. An error that escapes an event handler (a button's action, a timer,
// a posted event) is reported by the general error handling and the program goes on, instead
// of unwinding through the event loop.
class TApplication : public QApplication {
    Q_OBJECT

public:
    TApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};
