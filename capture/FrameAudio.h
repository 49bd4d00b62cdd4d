#pragma once

#include <QWidget>

#include <memory>

class TSoundCapture;

// A thin horizontal level bar, 0 ... 100.
class TLevelGauge : public QWidget {
    Q_OBJECT
public:
    explicit TLevelGauge(QWidget *parent);
    int Position() const { return position_; }
    void SetPosition(int position);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int position_ = 0;
};

// The main window's microphone level meter: owns the level capture of the chosen
// microphone and shows each level on its bar.
class TFrameAudio : public QWidget {
    Q_OBJECT
public:
    explicit TFrameAudio(QWidget *parent = nullptr);
    ~TFrameAudio() override;

    // Replaces any running capture; a negative index selects no microphone.
    void OpenMicrophone(int deviceIndex);
    void OnCaptureLevel(QObject *sender, int level);

    TSoundCapture *Capture() const { return capture_.get(); }

    QWidget *Panel1;
    TLevelGauge *Gauge1;
    bool MicEnabled = false;
    bool Muted = false;  // set by the main window: the bar shows 0 while true

private:
    std::unique_ptr<TSoundCapture> capture_;
};
