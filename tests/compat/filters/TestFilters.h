#pragma once
// A source whose single output pin delivers what the test hands it, on the test's thread, and
// a sink that keeps a copy of every sample it receives.
#include "compat/dshow/BaseFilter.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace testfilters {

class PushSource;

class PushPin final : public CBaseOutputPin {
public:
    PushPin(PushSource* filter, HRESULT* result, AM_MEDIA_TYPE type, int bufferSize);
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

private:
    AM_MEDIA_TYPE type_;
    int bufferSize_;
};

class PushSource final : public CBaseFilter {
public:
    PushSource(const AM_MEDIA_TYPE& type, int bufferSize);
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? pin_.get() : nullptr; }
    HRESULT deliver(const void* data, size_t size, std::optional<REFERENCE_TIME> start = std::nullopt,
                    bool sync = true);

private:
    CCritSec lock_;
    std::unique_ptr<PushPin> pin_;
};

struct ReceivedSample {
    std::vector<uint8_t> bytes;
    std::optional<REFERENCE_TIME> start;
    bool sync = false;
    std::chrono::steady_clock::time_point arrival;
};

class CollectingSink;

class CollectingPin final : public CBaseInputPin {
public:
    CollectingPin(CollectingSink* filter, HRESULT* result, GUID majorType);
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
    HRESULT Receive(IMediaSample* sample) override;

private:
    CollectingSink* sink_;
    GUID majorType_;
};

class CollectingSink final : public CBaseFilter {
public:
    explicit CollectingSink(GUID majorType);
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? pin_.get() : nullptr; }

    void add(ReceivedSample sample);
    // Waits until `count` samples arrived (false when `timeout` passed first).
    bool waitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    std::vector<ReceivedSample> samples();
    const AM_MEDIA_TYPE& connectedType() const { return pin_->CurrentMediaType(); }

private:
    CCritSec lock_;
    std::unique_ptr<CollectingPin> pin_;
    std::mutex samplesLock_;
    std::condition_variable arrived_;
    std::vector<ReceivedSample> samples_;
};

} // namespace testfilters
