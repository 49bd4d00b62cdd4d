#pragma once
// The AAC encoder filter: 16-bit PCM in, raw AAC-LC frames out at the input's rate and
// channels, each stamped with the time of its first sample. The output wave format carries
// the AudioSpecificConfig as its extra bytes.
#include "AacEncoder.h"
#include "FilterInterfaces.h"

#include "compat/dshow/TransformFilter.h"

#include <memory>

namespace filters {

class AacEncoderFilter final : public CTransformFilter, public IAacEncoderSettings {
public:
    static constexpr int32_t kDefaultBitRate = 96000;

    AacEncoderFilter();

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT SetConfig(const AacEncoderConfig* config) override;

    HRESULT CheckInputType(const AM_MEDIA_TYPE* type) override;
    HRESULT CheckTransform(const AM_MEDIA_TYPE* input, const AM_MEDIA_TYPE* output) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE* type) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const AM_MEDIA_TYPE* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;

private:
    AacSettings settingsFor(const AM_MEDIA_TYPE& input) const;
    HRESULT deliverFrame(std::span<const uint8_t> frame, int64_t time);

    int32_t bitRate_ = kDefaultBitRate;
    std::vector<uint8_t> audioSpecificConfig_;
    std::unique_ptr<AacEncoder> encoder_;
    REFERENCE_TIME nextInputTime_ = 0;
    HRESULT deliveryResult_ = S_OK;
};

} // namespace filters
