#include "SwitcherFilter.h"

#include "PacedClock.h"
#include "VideoTypes.h"

#include <string>

namespace filters {

namespace {
constexpr int kMaxSide = 4096;
const char* const kInputNames[] = {"In0", "In1", "In2", "In3", "In4"};
} // namespace

SwitcherInputPin::SwitcherInputPin(SwitcherFilter* filter, int index, HRESULT* result, const char* name)
    : CBaseInputPin(filter, filter->StateLock(), result, name), switcher_(filter), index_(index)
{
}

HRESULT SwitcherInputPin::CheckMediaType(const AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    const auto layout = pictureLayoutOf(*type);
    return layout && layout->format == PixelFormat::Yuy2 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT SwitcherInputPin::SetMediaType(const AM_MEDIA_TYPE* type)
{
    const HRESULT hr = CBaseInputPin::SetMediaType(type);
    if (SUCCEEDED(hr)) {
        const auto layout = pictureLayoutOf(*type);
        switcher_->compositor().setInputSize(index_, layout->width, layout->height);
    }
    return hr;
}

HRESULT SwitcherInputPin::Receive(IMediaSample* sample)
{
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    const auto layout = pictureLayoutOf(CurrentMediaType());
    BYTE* data = nullptr;
    if (!layout || FAILED(sample->GetPointer(&data)))
        return E_UNEXPECTED;
    if (sample->GetActualDataLength() < layout->size())
        return S_OK; // a short picture is ignored; the last whole one stays on show
    switcher_->compositor().deliver(index_, data, layout->stride());
    return S_OK;
}

SwitcherOutputPin::SwitcherOutputPin(SwitcherFilter* filter, HRESULT* result)
    : CBaseOutputPin(filter, filter->StateLock(), result, "Out"), switcher_(filter)
{
}

SwitcherOutputPin::~SwitcherOutputPin()
{
    stopThread();
}

HRESULT SwitcherOutputPin::CheckMediaType(const AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    const auto layout = pictureLayoutOf(*type);
    const auto& c = switcher_->compositor();
    return layout && layout->format == PixelFormat::Yuy2 && layout->width == c.outputWidth() &&
                   layout->height == c.outputHeight()
        ? S_OK
        : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT SwitcherOutputPin::GetMediaType(int position, AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0 || !switcher_->hasOutputSize())
        return VFW_S_NO_MORE_ITEMS;
    const auto& c = switcher_->compositor();
    *type = makeYuy2Type(c.outputWidth(), c.outputHeight(), SwitcherFilter::kFrameDuration);
    return S_OK;
}

HRESULT SwitcherOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    const auto& c = switcher_->compositor();
    return RequestAtLeast(allocator, request, 1, c.outputStride() * c.outputHeight());
}

HRESULT SwitcherOutputPin::Active()
{
    const HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr) || !IsConnected())
        return hr;
    {
        std::lock_guard guard(wakeLock_);
        stop_ = false;
    }
    thread_ = std::thread([this] { run(); });
    return hr;
}

HRESULT SwitcherOutputPin::Inactive()
{
    // Decommitting first wakes the thread if it waits for a buffer.
    const HRESULT hr = CBaseOutputPin::Inactive();
    stopThread();
    return hr;
}

void SwitcherOutputPin::stopThread()
{
    {
        std::lock_guard guard(wakeLock_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void SwitcherOutputPin::run()
{
    PacedClock clock;
    clock.start(static_cast<int>(UNITS / SwitcherFilter::kFrameDuration));
    for (;;) {
        {
            std::unique_lock guard(wakeLock_);
            if (wake_.wait_until(guard, clock.next(), [this] { return stop_; }))
                return;
        }
        if (switcher_->State() != State_Running)
            continue;
        ComPtr<IMediaSample> sample;
        if (FAILED(GetDeliveryBuffer(sample.Put(), nullptr, nullptr, 0)))
            continue; // decommitted: the stop flag ends the loop
        auto& c = switcher_->compositor();
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        c.compose(data, c.outputStride());
        sample->SetActualDataLength(c.outputStride() * c.outputHeight());
        sample->SetSyncPoint(1);
        Deliver(sample.Get());
    }
}

SwitcherFilter::SwitcherFilter() : CBaseFilter("3-in-1 YUY2 switcher", &lock_, CLSID_YUY2Switcher)
{
    HRESULT hr = S_OK;
    for (int i = 0; i < Yuy2Compositor::kInputs; ++i)
        inputs_[i] = std::make_unique<SwitcherInputPin>(this, i, &hr, kInputNames[i]);
    output_ = std::make_unique<SwitcherOutputPin>(this, &hr);
}

SwitcherFilter::~SwitcherFilter() = default;

HRESULT SwitcherFilter::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IYUY2SwitcherParam)
        return GetInterface(static_cast<IYUY2SwitcherParam*>(this), object);
    return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

CBasePin* SwitcherFilter::GetPin(int n)
{
    if (n >= 0 && n < Yuy2Compositor::kInputs)
        return inputs_[n].get();
    return n == Yuy2Compositor::kInputs ? output_.get() : nullptr;
}

HRESULT SwitcherFilter::SetParam(const TSwitcherParam* param)
{
    if (!param)
        return E_POINTER;
    if (param->width <= 0 || param->width > kMaxSide || param->width % 2 || param->height <= 0 ||
        param->height > kMaxSide)
        return E_INVALIDARG;
    CAutoLock lock(lock_);
    for (int i = 0; i < GetPinCount(); ++i) {
        if (GetPin(i)->IsConnected())
            return VFW_E_ALREADY_CONNECTED; // the output size is fixed once pins connect
    }
    compositor_.setOutputSize(param->width, param->height);
    compositor_.showLayers(param->layers, kSwitcherLayerCount);
    return S_OK;
}

HRESULT SwitcherFilter::SetMode(int32_t input)
{
    if (input < 0 || input >= Yuy2Compositor::kInputs)
        return E_INVALIDARG;
    if (!hasOutputSize())
        return VFW_E_WRONG_STATE;
    compositor_.showInput(input);
    return S_OK;
}

HRESULT SwitcherFilter::SetLayers(const TSwitcherLayer* layers)
{
    if (!layers)
        return E_POINTER;
    for (int i = 0; i < kSwitcherLayerCount; ++i) {
        if (layers[i].enabled == -1 && (layers[i].input < 0 || layers[i].input >= Yuy2Compositor::kInputs))
            return E_INVALIDARG;
    }
    if (!hasOutputSize())
        return VFW_E_WRONG_STATE;
    compositor_.showLayers(layers, kSwitcherLayerCount);
    return S_OK;
}

} // namespace filters
