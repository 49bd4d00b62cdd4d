#pragma once

// Small real filters for tests and benchmarks of the media layer.

#include "compat/dshow/Renderer.h"
#include "compat/dshow/SourceFilter.h"
#include "compat/dshow/TransformFilter.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// A source whose one pin ("Out") offers one type and fills each sample with the frame
// number in every byte, until `frames` samples were made (0: without end).
class TestSource final : public CSource {
public:
    TestSource(const char *name, AM_MEDIA_TYPE type, int frames = 0);
    int Produced() const;

private:
    class Stream;
};

// Copies each input sample into an output sample of the same type.
class CopyTransform final : public CTransformFilter {
public:
    static inline const CLSID Clsid = MakeGuid("{5B1F33E2-6E7A-4C61-9C0E-1D3A8B6D4A01}");
    explicit CopyTransform(const char *name = "Copy");
    HRESULT CheckInputType(const AM_MEDIA_TYPE *type) override;
    HRESULT CheckTransform(const AM_MEDIA_TYPE *input, const AM_MEDIA_TYPE *output) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE *type) override;
    HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override;
    HRESULT Transform(IMediaSample *input, IMediaSample *output) override;
};

// Turns video of subtype `from` into the same picture with subtype `to` (bytes copied).
class SubtypeConverter final : public CTransformFilter {
public:
    SubtypeConverter(REFGUID from, REFGUID to);
    HRESULT CheckInputType(const AM_MEDIA_TYPE *type) override;
    HRESULT CheckTransform(const AM_MEDIA_TYPE *input, const AM_MEDIA_TYPE *output) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE *type) override;
    HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override;
    HRESULT Transform(IMediaSample *input, IMediaSample *output) override;

private:
    GUID from, to;
};

// Accepts types matching `pattern` and keeps what it receives.
class RecordingRenderer final : public CBaseRenderer {
public:
    explicit RecordingRenderer(AM_MEDIA_TYPE pattern = AM_MEDIA_TYPE(), const char *name = "Recorder");
    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT DoRenderSample(IMediaSample *sample) override;

    struct Received {
        std::vector<BYTE> bytes;
        bool syncPoint;
        bool hasTime;
    };
    std::vector<Received> Samples();
    void SetKeepBytes(bool keep) { keepBytes = keep; }
    // Called for every sample on the delivering thread (may block to simulate a slow consumer).
    void SetOnSample(std::function<void(IMediaSample *)> hook);

private:
    AM_MEDIA_TYPE pattern;
    std::mutex lock;
    std::vector<Received> received;
    std::function<void(IMediaSample *)> onSample;
    std::atomic<bool> keepBytes{true};
};

// Creates an object of T as the interface I, as the class registry would.
template <class I, class T>
ComPtr<I> Wrap(T *object) {
    ComPtr<I> out;
    object->NonDelegatingQueryInterface(IidOf<I>(), out.PutVoid());
    return out;
}
