#pragma once

#include "compat/dshow/BaseFilter.h"
#include "compat/dshow/pulse/PulseClient.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace sc::pulse {

inline constexpr CLSID CLSID_PulseCaptureFilter = MakeGuid("{6D0004EB-5578-4933-AA53-FC431BD0F008}");

class PulseCaptureFilter;

// The microphone's output pin, "Capture": 44100 Hz 16-bit stereo PCM in buffers of the size
// suggested through IAMBufferNegotiation, cut to whole sample frames.
class PulseCapturePin final : public CBaseOutputPin, public IAMBufferNegotiation {
public:
    PulseCapturePin(PulseCaptureFilter *filter, HRESULT *result);

    HRESULT QueryInterface(REFIID iid, void **object) override { return NonDelegatingQueryInterface(iid, object); }
    ULONG AddRef() override { return m_pFilter->NonDelegatingAddRef(); }
    ULONG Release() override { return m_pFilter->NonDelegatingRelease(); }
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override;

    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE *type) override;
    HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override;

    HRESULT SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES *props) override;
    HRESULT GetAllocatorProperties(ALLOCATOR_PROPERTIES *props) override;

    static AM_MEDIA_TYPE CaptureType();
    // Without a suggestion: 100 ms buffers, eight of them.
    static constexpr int32_t kDefaultBufferBytes = 17640;
    static constexpr int32_t kDefaultBuffers = 8;

private:
    std::optional<ALLOCATOR_PROPERTIES> suggested_;
};

// A sound input of the server as a capture source, in the audio capture category. It records
// from each Run, on a thread of its own, and stamps every buffer from the count of sample
// frames recorded before it (the first starts at 0), so the stamps run on without gaps or
// overlaps. IAMAudioInputMixer reads and sets the input's own volume and mute on the server.
class PulseCaptureFilter final : public CBaseFilter, public IAMAudioInputMixer, public IAMFilterMiscFlags {
public:
    // Connects to the server and checks that the input exists; on failure *filter stays null
    // and the result is VFW_E_NO_CAPTURE_HARDWARE.
    static HRESULT Create(const std::string &source, PulseCaptureFilter **filter);
    ~PulseCaptureFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override;
    ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

    int GetPinCount() override { return 1; }
    CBasePin *GetPin(int n) override { return n == 0 ? pin_.get() : nullptr; }

    HRESULT Stop() override;
    HRESULT Run(REFERENCE_TIME start) override;

    HRESULT put_Enable(BOOL enable) override;
    HRESULT get_Enable(BOOL *enable) override;
    // 0 … 1, the input's volume (1 = 100 %); levels above 1 are taken as 1.
    HRESULT put_MixLevel(double level) override;
    HRESULT get_MixLevel(double *level) override;

    const std::string &Source() const { return source_; }
    std::string LastError() const;

private:
    PulseCaptureFilter(std::shared_ptr<PulseClient> client, std::string source);
    void Capture(size_t bufferBytes);
    void EndCapture();
    HRESULT Fail(const std::string &what);
    // Runs a sound server call for the mixer interface: S_OK, or E_FAIL with the error kept.
    template <typename Call>
    HRESULT MixerCall(Call &&call) {
        try {
            call();
            return S_OK;
        } catch (const PulseError &error) {
            Fail(error.what());
            return E_FAIL;
        }
    }

    CCritSec lock_;
    std::shared_ptr<PulseClient> client_;
    std::string source_;
    std::unique_ptr<PulseCapturePin> pin_;
    std::unique_ptr<RecordStream> stream_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex errorLock_;
    std::string lastError_;
};

} // namespace sc::pulse
