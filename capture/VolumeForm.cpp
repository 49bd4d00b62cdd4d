#include "capture/VolumeForm.h"

#include "capture/BgrColor.h"
#include "capture/Rounding.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {

constexpr int kHalfMargin = TVolumeForm::kMargin / 2;
constexpr int kBarWidth = 4;
constexpr int kKnobSize = 10;
constexpr int kPanelWidth = 20;
constexpr int kPanelHeight = 2 * TVolumeForm::kMargin + TVolumeForm::kBarHeight;

QPixmap barPicture(const QColor &fill)
{
    QPixmap picture(kBarWidth, TVolumeForm::kBarHeight);
    picture.fill(fill);
    return picture;
}

QPixmap knobPicture()
{
    QPixmap picture(kKnobSize, kKnobSize);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(BgrColor(16746547), 1.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(0.75, 0.75, kKnobSize - 1.5, kKnobSize - 1.5));
    return picture;
}

} // namespace

TPictureBox::TPictureBox(QWidget *parent, QPixmap picture) : QWidget(parent), picture_(std::move(picture)) {}

void TPictureBox::paintEvent(QPaintEvent *)
{
    QPainter(this).drawPixmap(rect(), picture_);
}

TVolumeForm::TVolumeForm(QWidget *parent) : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint)
{
    setFixedSize(40, 150);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, BgrColor(5326915));
    palette.setColor(QPalette::WindowText, Qt::white);
    setPalette(palette);

    lbHint = new QLabel(QStringLiteral("95%"), this);
    lbHint->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lbHint->setGeometry(0, 10, width(), 14);

    pnlFloor = new QWidget(this);
    pnlFloor->setGeometry((width() - kPanelWidth) / 2, (height() - kPanelHeight) / 2 + 10, kPanelWidth,
                          kPanelHeight);

    const int barLeft = (kPanelWidth - kBarWidth) / 2;
    imgBarBG = new TPictureBox(pnlFloor, barPicture(BgrColor(7168598)));
    imgBarBG->setGeometry(barLeft, kMargin, kBarWidth, kBarHeight);
    const int middle = kBarHeight / 2 + kMargin;
    imgPross = new TPictureBox(pnlFloor, barPicture(BgrColor(16746547)));
    imgPross->setGeometry(barLeft, middle, kBarWidth, kBarHeight);
    TrackBtn = new TPictureBox(pnlFloor, knobPicture());
    TrackBtn->setGeometry((kPanelWidth - kKnobSize) / 2, middle, kKnobSize, kKnobSize);

    for (QWidget *part : {static_cast<QWidget *>(imgBarBG), static_cast<QWidget *>(imgPross),
                          static_cast<QWidget *>(TrackBtn)})
        part->installEventFilter(this);
}

void TVolumeForm::SetVolume(int percent)
{
    Volume = percent;
    PlaceKnob(RoundHalfEven((100 - percent) / 100.0 * (kBarHeight - kHalfMargin)) + kHalfMargin);
    lbHint->setText(QString::number(Volume) + QStringLiteral("%"));
    if (OnVolumeChange)
        OnVolumeChange(this);
}

void TVolumeForm::PlaceKnob(int y)
{
    const int position = std::clamp(y, kHalfMargin, imgPross->height());
    TrackBtn->move(TrackBtn->x(), position);
    imgPross->move(imgPross->x(), position);

    int percent = 100 - RoundHalfEven(double(y - kHalfMargin) * kMaximum / (imgBarBG->height() - kHalfMargin));
    if (percent > kMaximum)
        percent = kMaximum;
    if (percent < kMinimum) {
        percent = kMinimum;
        if (OnVolumeBelowMinimum)
            OnVolumeBelowMinimum(this);
    }
    lbHint->setText(QString::number(percent) + QStringLiteral("%"));
    Volume = percent;
}

void TVolumeForm::volumeChanged()
{
    if (OnVolumeChange)
        OnVolumeChange(this);
}

bool TVolumeForm::eventFilter(QObject *watched, QEvent *event)
{
    const auto type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return QWidget::eventFilter(watched, event);
    const auto *mouse = static_cast<QMouseEvent *>(event);
    const QPoint at = mouse->position().toPoint();

    if (watched == TrackBtn) {
        if (type == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
            dragging_ = true;
            grabOffset_ = at;
        } else if (type == QEvent::MouseMove && dragging_) {
            PlaceKnob(at.y() + TrackBtn->y() - grabOffset_.y());
        } else if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton) {
            dragging_ = false;
            volumeChanged();
        }
        return true;
    }
    if (type != QEvent::MouseButtonPress)
        return true;
    if (watched == imgBarBG)
        PlaceKnob(at.y());
    else if (watched == imgPross)
        PlaceKnob(at.y() + TrackBtn->y() - grabOffset_.y());
    volumeChanged();
    return true;
}

void TVolumeForm::hideEvent(QHideEvent *event)
{
    HiddenAt = QDateTime::currentDateTime();
    QWidget::hideEvent(event);
}
