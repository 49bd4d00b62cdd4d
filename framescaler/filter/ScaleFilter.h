// The resize filter: scales bottom-up RGB32 video to the configured size, optionally keeping
// the aspect ratio with black bars, or outputs black while paused, or passes samples through
// when disabled.
#pragma once

#include "filter/FrameScaler.h"
#include "framescaler/ScaleSettings.h"

#include "compat/dshow/TransformFilter.h"

#include <mutex>

namespace framescaler {

// Whether a type is one the filter scales: video, RGB32, a VideoInfo block with a positive
// (bottom-up) height, a positive width, 32 bits per pixel and no side above kScaleMaxSide.
bool isAcceptableType(const AM_MEDIA_TYPE& type);

// The input type with the bitmap size, image size, sample size and rectangles of width x height.
AM_MEDIA_TYPE scaledType(const AM_MEDIA_TYPE& input, int32_t width, int32_t height);

class TScaleFilter final : public CTransformFilter, public IScaleSettings, public ISpecifyPropertyPages {
public:
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);

    TScaleFilter();
    ~TScaleFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT GetParams(TScaleParams* params) override;
    HRESULT SetParams(const TScaleParams* params) override;
    HRESULT GetPages(CAUUID* pages) override;

    HRESULT Transform(IMediaSample* input, IMediaSample* output) override;
    HRESULT CheckInputType(const AM_MEDIA_TYPE* type) override;
    HRESULT CheckTransform(const AM_MEDIA_TYPE* input, const AM_MEDIA_TYPE* output) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE* type) override;
    HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* pin) override;

private:
    TScaleParams settings() const;
    HRESULT copySample(IMediaSample* input, IMediaSample* output);
    HRESULT stampOutput(IMediaSample* input, IMediaSample* output, LONG length);

    // Guards m_params: the page and other callers change it while the streaming thread reads
    // a copy per frame.
    mutable std::mutex m_paramsLock;
    TScaleParams m_params;
};

} // namespace framescaler
