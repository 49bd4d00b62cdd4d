#pragma once

#include "compat/dshow/BaseFilter.h"
#include "compat/dshow/v4l2/CaptureStream.h"
#include "compat/dshow/v4l2/V4l2Device.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sc::v4l2 {

inline constexpr CLSID CLSID_V4l2CaptureFilter = MakeGuid("{5C8B1E2A-7F43-4B6D-9A1E-3D2C6B8F0A71}");

// Results of a camera that cannot stream: another program uses it, or it was unplugged.
inline constexpr HRESULT kCameraBusy = MakeHResult(0x800700AA);          // the system's "busy"
inline constexpr HRESULT kCameraGone = MakeHResult(0x8007048F);          // "device not connected"

class V4l2CaptureFilter;

// The camera's one output pin, "Capture": every format the camera lists, in its order, through
// the pin's media types and IAMStreamConfig.
class V4l2CapturePin final : public CBaseOutputPin, public IAMStreamConfig {
public:
    V4l2CapturePin(V4l2CaptureFilter *filter, HRESULT *result, std::vector<CaptureFormat> formats);

    HRESULT QueryInterface(REFIID iid, void **object) override { return NonDelegatingQueryInterface(iid, object); }
    ULONG AddRef() override { return m_pFilter->NonDelegatingAddRef(); }
    ULONG Release() override { return m_pFilter->NonDelegatingRelease(); }
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override;

    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE *type) override;
    HRESULT SetMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override;

    HRESULT SetFormat(AM_MEDIA_TYPE *type) override;
    HRESULT GetFormat(AM_MEDIA_TYPE **type) override;
    HRESULT GetNumberOfCapabilities(int *count, int *capsSize) override;
    HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE **type, BYTE *caps) override;

    // The format to stream and its frame duration.
    struct Selection {
        size_t format = 0;
        FrameInterval interval;
    };
    Selection CurrentSelection() const;

private:
    int FindFormat(const AM_MEDIA_TYPE &type) const;
    Selection Select(size_t format, REFERENCE_TIME duration) const;
    AM_MEDIA_TYPE TypeOf(const Selection &selection) const;

    std::vector<CaptureFormat> formats_;
    mutable std::mutex selectionLock_;
    std::optional<Selection> chosen_;     // by SetFormat
    std::optional<Selection> connected_;  // by the connection's type
};

// A V4L2 camera as a capture source. The camera is opened when the filter is made and streams
// from the filter's leaving the stopped state, on a thread of its own; pictures are delivered
// while running, stamped with their capture time from the start of the run. A camera in use
// by another program makes Pause and Run fail with kCameraBusy; an unplugged one ends the
// stream (end of stream downstream) and later starts fail with kCameraGone.
class V4l2CaptureFilter final : public CBaseFilter, public IAMFilterMiscFlags {
public:
    // Opens the camera at `path`; a failure leaves *filter null and returns kCameraGone.
    static HRESULT Create(std::shared_ptr<V4l2Io> io, const std::string &path, V4l2CaptureFilter **filter);
    ~V4l2CaptureFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override;
    ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

    int GetPinCount() override { return 1; }
    CBasePin *GetPin(int n) override { return n == 0 ? pin_.get() : nullptr; }

    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;

    const DeviceIdentity &Identity() const { return device_->identity(); }
    // What went wrong last (a busy or lost camera), with the device named; empty when nothing.
    std::string LastError() const;
    uint64_t FramesDelivered() const { return delivered_.load(); }
    uint64_t FramesDropped() const { return dropped_.load(); }

private:
    explicit V4l2CaptureFilter(std::unique_ptr<V4l2Device> device);
    HRESULT StartStreaming();
    void StopStreaming();
    void OnFrame(const CapturedFrame &frame);
    void OnDeviceError(const V4l2Error &error);
    HRESULT Fail(const V4l2Error &error);

    CCritSec lock_;
    std::unique_ptr<V4l2Device> device_;
    std::unique_ptr<V4l2CapturePin> pin_;
    std::unique_ptr<CaptureStream> stream_;
    AppliedFormat applied_;
    REFERENCE_TIME frameDuration_ = 0;
    std::atomic<int64_t> runStart100ns_{0};  // monotonic time of the last Run
    std::atomic<bool> firstAfterRun_{true};
    std::atomic<bool> deviceLost_{false};
    std::atomic<uint64_t> delivered_{0};
    std::atomic<uint64_t> dropped_{0};
    mutable std::mutex errorLock_;
    std::string lastError_;
};

} // namespace sc::v4l2
