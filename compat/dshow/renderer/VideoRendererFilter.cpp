#include "compat/dshow/renderer/VideoRendererFilter.h"

#include "compat/com/ClassRegistry.h"
#include "compat/dshow/Uuids.h"

#include <cstdlib>

namespace sc::renderer {

VideoRendererFilter::VideoRendererFilter()
    : CBaseRenderer("Video Renderer", CLSID_VideoRenderer), mailbox_(std::make_shared<VideoFrameMailbox>()) {}

VideoRendererFilter::~VideoRendererFilter() {
    if (window_)
        window_->deleteLater();
}

const ClassRegistration &VideoRendererFilter::Registration() {
    static const ClassRegistration registration{
        CLSID_VideoRenderer,
        "Video Renderer",
        "",
        "Both",
        MERIT_PREFERRED,
        {CLSID_LegacyAmFilterCategory},
        {{MEDIATYPE_Video, MEDIASUBTYPE_YUY2}, {MEDIATYPE_Video, MEDIASUBTYPE_RGB24}, {MEDIATYPE_Video, MEDIASUBTYPE_RGB32}},
        {},
    };
    return registration;
}

HRESULT VideoRendererFilter::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (iid == IID_IVideoWindow)
        return GetInterface(static_cast<IVideoWindow *>(this), object);
    return CBaseRenderer::NonDelegatingQueryInterface(iid, object);
}

bool VideoRendererFilter::LayoutOf(const AM_MEDIA_TYPE &type, FrameLayout *layout) {
    const BITMAPINFOHEADER *header = type.majortype == MEDIATYPE_Video ? type.BitmapHeader() : nullptr;
    if (!header || header->biWidth <= 0 || header->biHeight == 0 || header->biWidth > 16384 ||
        std::abs(header->biHeight) > 16384)
        return false;
    FrameLayout described;
    described.width = header->biWidth;
    described.height = std::abs(header->biHeight);
    if (type.subtype == MEDIASUBTYPE_YUY2) {
        if (described.width % 2)
            return false;
        described.pixels = FramePixels::Yuy2;
        described.stride = described.width * 2;
    } else if (type.subtype == MEDIASUBTYPE_RGB24 || type.subtype == MEDIASUBTYPE_RGB32) {
        const int bytesPerPixel = type.subtype == MEDIASUBTYPE_RGB24 ? 3 : 4;
        described.pixels = bytesPerPixel == 3 ? FramePixels::Rgb24 : FramePixels::Rgb32;
        described.stride = (described.width * bytesPerPixel + 3) & ~3;
        described.bottomUp = header->biHeight > 0;
    } else {
        return false;
    }
    if (layout)
        *layout = described;
    return true;
}

HRESULT VideoRendererFilter::CheckMediaType(const AM_MEDIA_TYPE *type) {
    return type && LayoutOf(*type, nullptr) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT VideoRendererFilter::OnConnected(const AM_MEDIA_TYPE &type) {
    return LayoutOf(type, &layout_) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT VideoRendererFilter::DoRenderSample(IMediaSample *sample) {
    BYTE *data = nullptr;
    if (FAILED(sample->GetPointer(&data)))
        return E_POINTER;
    FrameLayout layout = layout_;
    AM_MEDIA_TYPE *changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK && changed) {
        // The upstream changed the picture in the stream: follow it from this sample on.
        if (LayoutOf(*changed, &layout))
            layout_ = layout;
        DeleteMediaType(changed);
    }
    const LONG length = sample->GetActualDataLength();
    // A picture that does not fit its format is skipped; the stream goes on.
    mailbox_->post(data, static_cast<size_t>(std::max<LONG>(length, 0)), layout);
    return S_OK;
}

HRESULT VideoRendererFilter::put_Owner(QWidget *owner) {
    if (window_) {
        delete window_.data();
        window_.clear();
    }
    if (!owner)
        return S_OK;
    window_ = new VideoRendererWidget(owner, mailbox_);
    window_->setKeepAspectRatio(keepAspect_);
    window_->setGeometry(position_.isValid() ? position_ : owner->rect());
    window_->setVisible(visible_);
    return S_OK;
}

HRESULT VideoRendererFilter::SetWindowPosition(LONG left, LONG top, LONG width, LONG height) {
    if (width < 0 || height < 0)
        return E_INVALIDARG;
    position_ = QRect(left, top, width, height);
    if (window_)
        window_->setGeometry(position_);
    return S_OK;
}

HRESULT VideoRendererFilter::put_Visible(BOOL visible) {
    visible_ = visible != 0;
    if (window_)
        window_->setVisible(visible_);
    return S_OK;
}

HRESULT VideoRendererFilter::get_Visible(BOOL *visible) {
    if (!visible)
        return E_POINTER;
    *visible = visible_ && window_ ? 1 : 0;
    return S_OK;
}

HRESULT VideoRendererFilter::put_KeepAspectRatio(BOOL keep) {
    keepAspect_ = keep != 0;
    if (window_)
        window_->setKeepAspectRatio(keepAspect_);
    return S_OK;
}

} // namespace sc::renderer

namespace {
const BuiltInClassRegistrar registrar(sc::renderer::VideoRendererFilter::Registration(),
                                      &CreateUnaggregated<sc::renderer::VideoRendererFilter>);
} // namespace
