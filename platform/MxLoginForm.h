#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

// The sign-in window, the first window of the program: account and password, a login button
// and a hint line for what went wrong. The sign-in itself runs on a worker thread and reports
// back with message 1035; on success the window hides and SignedIn() asks for the main window.
class TMxLoginForm : public QWidget {
    Q_OBJECT

public:
    explicit TMxLoginForm(QWidget *parent = nullptr);

    // Width and height of the window and the radius of its rounded corners.
    static constexpr int FormWidth = 263;
    static constexpr int FormHeight = 303;
    static constexpr int CornerRadius = 9;

signals:
    // The sign-in succeeded and Teacher holds the teacher; the window is hidden already.
    void SignedIn();
    // The window was closed: the program ends.
    void Closed();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void customEvent(QEvent *event) override;

private:
    void BuildControls();
    void LoginClick();
    void ShowHint(const QString &text);

    QWidget *imgBack = nullptr;
    QLabel *imgHead = nullptr;
    QLineEdit *edtUserName = nullptr;
    QLineEdit *edtPassword = nullptr;
    QPushButton *btnLogin = nullptr;
    QPushButton *btnClose = nullptr;
    QLabel *pnlHint = nullptr;
};
