#pragma once
// The H.264 encoder filter: YUY2 pictures in, one H.264 access unit (Annex B, parameter sets
// on every key frame) out per picture, key frames marked as sync points.
#include "FilterInterfaces.h"
#include "H264Encoder.h"

#include "compat/dshow/TransformFilter.h"

#include <memory>

namespace filters {

class H264EncoderFilter final : public CTransformFilter, public IVideoEncoderSettings {
public:
    static constexpr int32_t kDefaultKBitRate = 1000;

    H264EncoderFilter();

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT SetParameter(int32_t id, int32_t value) override;
    HRESULT ResetParameters() override;

    HRESULT CheckInputType(const AM_MEDIA_TYPE* type) override;
    HRESULT CheckTransform(const AM_MEDIA_TYPE* input, const AM_MEDIA_TYPE* output) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override;
    HRESULT Transform(IMediaSample* input, IMediaSample* output) override;

private:
    bool parametersReset_ = false;
    int32_t kbitRate_ = kDefaultKBitRate;
    std::unique_ptr<H264Encoder> encoder_;
};

} // namespace filters
