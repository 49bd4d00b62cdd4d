#pragma once

#include "compat/dshow/Renderer.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace sc::test {

// A source with one output pin offering one media type; the test delivers each sample itself,
// on its own thread, as a push source does.
class PushSource final : public CBaseFilter {
public:
    // bufferBytes 0: the type's sample size.
    explicit PushSource(const AM_MEDIA_TYPE &type, int32_t bufferBytes = 0, int32_t buffers = 2);
    ~PushSource() override;

    int GetPinCount() override { return 1; }
    CBasePin *GetPin(int n) override;
    IPin *Output();

    // Copies the bytes into a sample and delivers it; the result of the downstream Receive.
    HRESULT Push(const void *data, size_t size, const REFERENCE_TIME *start = nullptr,
                 const REFERENCE_TIME *stop = nullptr);
    HRESULT PushEndOfStream();

private:
    class Pin;
    CCritSec lock_;
    std::unique_ptr<Pin> pin_;
};

// A renderer that keeps what reaches it: every sample's bytes, times and flags, and the end
// of the stream. Accepts the listed subtypes (any when the list is empty).
class RecordingSink final : public CBaseRenderer {
public:
    struct Sample {
        std::vector<uint8_t> bytes;
        bool timed = false;
        REFERENCE_TIME start = 0, stop = 0;
        bool syncPoint = false, discontinuity = false;
    };

    explicit RecordingSink(std::vector<GUID> subtypes = {}, bool keepBytes = true);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT DoRenderSample(IMediaSample *sample) override;

    IPin *Input();
    std::vector<Sample> Samples();
    size_t Count();
    // Waits until `count` samples arrived (or the end of the stream); false after `timeout`.
    bool WaitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool WaitForEndOfStream(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool EndOfStreamSeen();

private:
    class Pin;
    void OnEndOfStream();

    std::vector<GUID> subtypes_;
    bool keepBytes_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Sample> samples_;
    bool endOfStream_ = false;
};

// Makes a layer object with one reference held by the returned pointer.
template <class T, class... Args>
ComPtr<T> Make(Args &&...args) {
    ComPtr<T> object(new T(std::forward<Args>(args)...));
    return object;
}

} // namespace sc::test
