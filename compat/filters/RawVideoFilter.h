#pragma once
// Raw video filter: YUY2, RGB24 or RGB32 in, YUY2 of the same size out.
#include "FilterInterfaces.h"
#include "Yuy2Converter.h"

#include "compat/dshow/TransformFilter.h"

namespace filters {

class RawVideoFilter final : public CTransformFilter, public IRawVideoSettings {
public:
    RawVideoFilter();

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT SetParameter(int32_t id, int32_t value) override;
    HRESULT SelectPreset(const char* name, int32_t flag) override;

    HRESULT CheckInputType(const AM_MEDIA_TYPE* type) override;
    HRESULT CheckTransform(const AM_MEDIA_TYPE* input, const AM_MEDIA_TYPE* output) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT Transform(IMediaSample* input, IMediaSample* output) override;

private:
    bool presetSelected_ = false;
    Yuy2Converter converter_;
};

} // namespace filters
