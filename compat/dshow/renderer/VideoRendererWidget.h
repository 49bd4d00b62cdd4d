#pragma once

#include "compat/dshow/renderer/VideoFrameMailbox.h"

#include <QImage>
#include <QWidget>
#include <memory>

namespace sc::renderer {

// A window that shows the frames of a video stream (YUY2 or RGB), scaled to its size with the
// picture's aspect kept (black bars) or stretched. Frames arrive through its mailbox from any
// thread; the window converts only the newest frame, when it paints.
class VideoRendererWidget : public QWidget {
    Q_OBJECT
public:
    explicit VideoRendererWidget(QWidget *parent = nullptr,
                                 std::shared_ptr<VideoFrameMailbox> mailbox = nullptr);
    ~VideoRendererWidget() override;

    std::shared_ptr<VideoFrameMailbox> mailbox() const { return mailbox_; }

    void setKeepAspectRatio(bool keep);
    bool keepAspectRatio() const { return keepAspect_; }
    // Shows black until the next frame.
    void clearPicture();

    uint64_t framesDrawn() const { return framesDrawn_; }
    // Where the picture is drawn inside the window.
    QRect pictureRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void convertNewestFrame();

    std::shared_ptr<VideoFrameMailbox> mailbox_;
    VideoFrame frame_;
    QImage picture_;  // the newest frame, converted once
    QImage scaled_;   // the picture at the size it is drawn
    bool scaledValid_ = false;
    bool keepAspect_ = true;
    uint64_t framesDrawn_ = 0;
};

} // namespace sc::renderer
