#pragma once

#include "compat/com/ClassRegistry.h"
#include "compat/dshow/Renderer.h"
#include "compat/dshow/renderer/VideoRendererWidget.h"

#include <QPointer>
#include <memory>

namespace sc::renderer {

// The video renderer: shows YUY2, RGB24 and RGB32 pictures in a window inside the program's
// widget named by put_Owner. Rendering copies the picture and returns; the window converts
// and paints it on the GUI thread, so a busy GUI never holds up the stream.
class VideoRendererFilter final : public CBaseRenderer, public IVideoWindow {
public:
    VideoRendererFilter();
    ~VideoRendererFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override;

    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT DoRenderSample(IMediaSample *sample) override;
    HRESULT OnConnected(const AM_MEDIA_TYPE &type) override;

    // GUI thread only.
    HRESULT put_Owner(QWidget *owner) override;
    HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override;
    HRESULT put_Visible(BOOL visible) override;
    HRESULT get_Visible(BOOL *visible) override;
    HRESULT put_KeepAspectRatio(BOOL keep) override;

    VideoRendererWidget *Window() const { return window_.data(); }
    std::shared_ptr<VideoFrameMailbox> Mailbox() const { return mailbox_; }

    static const ClassRegistration &Registration();
    // The picture layout a video type describes; false for types this renderer cannot show.
    static bool LayoutOf(const AM_MEDIA_TYPE &type, FrameLayout *layout);

private:
    std::shared_ptr<VideoFrameMailbox> mailbox_;
    QPointer<VideoRendererWidget> window_;
    FrameLayout layout_;  // of the connection; written while stopped, read while streaming
    QRect position_;
    bool visible_ = true;
    bool keepAspect_ = true;
};

} // namespace sc::renderer
