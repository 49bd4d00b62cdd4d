#pragma once
// The 3-in-1 YUY2 switcher: five YUY2 inputs, one YUY2 output of the size SetParam gives,
// composed by the current mode or layers. The output has its own streaming thread that
// delivers a picture every 50 ms against a steady clock, whatever the inputs do, so that a
// recording that stamps 50 ms per frame stays in step with its sound.
#include "FilterInterfaces.h"
#include "Yuy2Compositor.h"

#include "compat/dshow/BaseFilter.h"

#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace filters {

class SwitcherFilter;

class SwitcherInputPin final : public CBaseInputPin {
public:
    SwitcherInputPin(SwitcherFilter* filter, int index, HRESULT* result, const char* name);
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
    HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override;
    HRESULT Receive(IMediaSample* sample) override;

private:
    SwitcherFilter* switcher_;
    int index_;
};

class SwitcherOutputPin final : public CBaseOutputPin {
public:
    SwitcherOutputPin(SwitcherFilter* filter, HRESULT* result);
    ~SwitcherOutputPin() override;
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

private:
    void run();
    void stopThread();

    SwitcherFilter* switcher_;
    std::thread thread_;
    std::mutex wakeLock_;
    std::condition_variable wake_;
    bool stop_ = false;
};

class SwitcherFilter final : public CBaseFilter, public IYUY2SwitcherParam {
public:
    static constexpr REFERENCE_TIME kFrameDuration = UNITS / 20;

    SwitcherFilter();
    ~SwitcherFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    int GetPinCount() override { return Yuy2Compositor::kInputs + 1; }
    CBasePin* GetPin(int n) override;

    HRESULT SetMode(int32_t input) override;
    HRESULT SetParam(const TSwitcherParam* param) override;
    HRESULT SetLayers(const TSwitcherLayer* layers) override;

    Yuy2Compositor& compositor() { return compositor_; }
    bool hasOutputSize() const { return compositor_.outputWidth() > 0; }

private:
    CCritSec lock_;
    Yuy2Compositor compositor_;
    std::array<std::unique_ptr<SwitcherInputPin>, Yuy2Compositor::kInputs> inputs_;
    std::unique_ptr<SwitcherOutputPin> output_;
};

} // namespace filters
