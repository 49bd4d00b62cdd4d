#pragma once
// The main push source: a steady stream of black 320x240 YUY2 pictures at the rate SetPush
// gives (20 by default), from the moment its graph runs.
#include "FilterInterfaces.h"
#include "PacedClock.h"

#include "compat/dshow/SourceFilter.h"

#include <atomic>

namespace filters {

class MainPushSource;

class MainPushStream final : public CSourceStream {
public:
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 240;

    MainPushStream(MainPushSource* filter, HRESULT* result);
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE* type) override;
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT OnThreadCreate() override;
    HRESULT FillBuffer(IMediaSample* sample) override;

private:
    MainPushSource* source_;
    PacedClock clock_;
};

class MainPushSource final : public CSource, public ISetPushSource {
public:
    MainPushSource();

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    HRESULT SetPush(int32_t framesPerSecond) override;
    int framesPerSecond() const { return rate_; }

private:
    std::atomic<int> rate_{20};
};

} // namespace filters
