#include "capture/FrameAudio.h"

#include "capture/BgrColor.h"
#include "capture/SoundCapture.h"

#include <QPainter>

#include <algorithm>

TLevelGauge::TLevelGauge(QWidget *parent) : QWidget(parent) {}

void TLevelGauge::SetPosition(int position)
{
    position = std::clamp(position, 0, 100);
    if (position == position_)
        return;
    position_ = position;
    update();
}

void TLevelGauge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), BgrColor(7168598));
    painter.fillRect(QRect(0, 0, width() * position_ / 100, height()), BgrColor(16746547));
}

TFrameAudio::TFrameAudio(QWidget *parent) : QWidget(parent)
{
    Panel1 = new QWidget(this);
    Panel1->setAutoFillBackground(true);
    QPalette palette = Panel1->palette();
    palette.setColor(QPalette::Window, BgrColor(3552822));
    Panel1->setPalette(palette);
    Panel1->setGeometry(0, 0, 82, 22);
    Gauge1 = new TLevelGauge(Panel1);
    Gauge1->setGeometry(4, 10, 74, 2);
    resize(Panel1->size());
}

TFrameAudio::~TFrameAudio() = default;

void TFrameAudio::OpenMicrophone(int deviceIndex)
{
    MicEnabled = deviceIndex >= 0;
    capture_.reset();
    if (!MicEnabled)
        return;
    capture_ = std::make_unique<TSoundCapture>(nullptr);
    capture_->OnLevel = [this](QObject *sender, int level) { OnCaptureLevel(sender, level); };
    capture_->StartCapture(deviceIndex);
}

void TFrameAudio::OnCaptureLevel(QObject *, int level)
{
    Gauge1->SetPosition(Muted ? 0 : level);
}
