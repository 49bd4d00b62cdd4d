#include "compat/dshow/renderer/VideoRendererWidget.h"

#include <QMetaObject>
#include <QPainter>
#include <libyuv.h>

namespace sc::renderer {

VideoRendererWidget::VideoRendererWidget(QWidget *parent, std::shared_ptr<VideoFrameMailbox> mailbox)
    : QWidget(parent), mailbox_(mailbox ? std::move(mailbox) : std::make_shared<VideoFrameMailbox>()) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    mailbox_->setNotifier([this] {
        QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
    });
}

VideoRendererWidget::~VideoRendererWidget() {
    // Waits for a notification in progress; afterwards no thread refers to this window.
    mailbox_->setNotifier(nullptr);
}

void VideoRendererWidget::setKeepAspectRatio(bool keep) {
    if (keep == keepAspect_)
        return;
    keepAspect_ = keep;
    scaledValid_ = false;
    update();
}

void VideoRendererWidget::clearPicture() {
    mailbox_->clear();
    picture_ = QImage();
    scaledValid_ = false;
    update();
}

QRect VideoRendererWidget::pictureRect() const {
    if (picture_.isNull())
        return {};
    if (!keepAspect_)
        return rect();
    QSize size = picture_.size().scaled(this->size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

void VideoRendererWidget::convertNewestFrame() {
    if (!mailbox_->takeLatest(frame_))
        return;
    const FrameLayout &layout = frame_.layout;
    if (picture_.width() != layout.width || picture_.height() != layout.height)
        picture_ = QImage(layout.width, layout.height, QImage::Format_RGB32);
    // libyuv reads bottom-up pictures when given a negative height.
    const int height = layout.bottomUp ? -layout.height : layout.height;
    uint8_t *out = picture_.bits();
    const int outStride = static_cast<int>(picture_.bytesPerLine());
    const uint8_t *in = frame_.bytes.data();
    switch (layout.pixels) {
    case FramePixels::Yuy2:
        libyuv::YUY2ToARGB(in, layout.stride, out, outStride, layout.width, height);
        break;
    case FramePixels::Rgb24:
        libyuv::RGB24ToARGB(in, layout.stride, out, outStride, layout.width, height);
        break;
    case FramePixels::Rgb32:
        libyuv::ARGBCopy(in, layout.stride, out, outStride, layout.width, height);
        break;
    }
    scaledValid_ = false;
    ++framesDrawn_;
}

void VideoRendererWidget::paintEvent(QPaintEvent *) {
    convertNewestFrame();
    QPainter painter(this);
    const QRect target = pictureRect();
    if (target.isEmpty()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    if (target.size() == picture_.size()) {
        painter.drawImage(target.topLeft(), picture_);
    } else {
        if (!scaledValid_ || scaled_.size() != target.size()) {
            if (scaled_.size() != target.size())
                scaled_ = QImage(target.size(), QImage::Format_RGB32);
            libyuv::ARGBScale(picture_.constBits(), static_cast<int>(picture_.bytesPerLine()),
                              picture_.width(), picture_.height(), scaled_.bits(),
                              static_cast<int>(scaled_.bytesPerLine()), scaled_.width(),
                              scaled_.height(), libyuv::kFilterBilinear);
            scaledValid_ = true;
        }
        painter.drawImage(target.topLeft(), scaled_);
    }
    const QRegion bars = QRegion(rect()).subtracted(target);
    for (const QRect &bar : bars)
        painter.fillRect(bar, Qt::black);
}

} // namespace sc::renderer
