#pragma once

#include <QDateTime>
#include <QPoint>
#include <QWidget>

#include <functional>

class QLabel;

// A stretched picture that forwards its mouse presses to the form that owns it.
class TPictureBox : public QWidget {
    Q_OBJECT
public:
    TPictureBox(QWidget *parent, QPixmap picture);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap picture_;
};

// The recording-volume pop-up: a vertical slider from 0 % to 100 % with a knob the teacher
// drags, shown above the microphone button and hidden when it loses focus.
class TVolumeForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int kBarHeight = 110;
    static constexpr int kMargin = 6;
    static constexpr int kMaximum = 100;
    static constexpr int kMinimum = 0;

    explicit TVolumeForm(QWidget *parent = nullptr);

    void SetVolume(int percent);
    void PlaceKnob(int y);

    int Volume = 0;
    QDateTime HiddenAt;  // null until first hidden
    std::function<void(QObject *sender)> OnVolumeChange;
    std::function<void(QObject *sender)> OnVolumeBelowMinimum;

    QLabel *lbHint;
    QWidget *pnlFloor;
    TPictureBox *imgBarBG;
    TPictureBox *imgPross;
    TPictureBox *TrackBtn;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void volumeChanged();

    bool dragging_ = false;
    QPoint grabOffset_;
};
