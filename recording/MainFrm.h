#pragma once

#include <QWidget>

class QLabel;

// The program's working window, shown once the teacher has signed in.
class TMainFrm : public QWidget {
    Q_OBJECT

public:
    explicit TMainFrm(QWidget *parent = nullptr);
    ~TMainFrm() override;

    static constexpr int FormWidth = 1329;
    static constexpr int FormHeight = 711;

signals:
    // The window was closed: the program ends.
    void Closed();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QLabel *lbTeacher = nullptr;
};
