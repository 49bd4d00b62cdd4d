#include "compat/dshow/v4l2/V4l2CaptureFilter.h"

#include "compat/dshow/Uuids.h"
#include "compat/dshow/v4l2/PictureFormats.h"

#include <algorithm>
#include <cstring>

namespace sc::v4l2 {
namespace {

// Buffers between the camera thread and the graph: enough for a frame on its way and one
// being filled; a slow downstream makes the driver drop frames, never the graph stall.
constexpr int32_t kSampleBuffers = 3;

} // namespace

// ---- pin -------------------------------------------------------------------------------

V4l2CapturePin::V4l2CapturePin(V4l2CaptureFilter *filter, HRESULT *result, std::vector<CaptureFormat> formats)
    : CBaseOutputPin(filter, filter->StateLock(), result, "Capture"), formats_(std::move(formats)) {}

HRESULT V4l2CapturePin::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (iid == IID_IAMStreamConfig)
        return GetInterface(static_cast<IAMStreamConfig *>(this), object);
    return CBaseOutputPin::NonDelegatingQueryInterface(iid, object);
}

int V4l2CapturePin::FindFormat(const AM_MEDIA_TYPE &type) const {
    for (size_t i = 0; i < formats_.size(); ++i)
        if (describes(type, formats_[i]))
            return static_cast<int>(i);
    return -1;
}

V4l2CapturePin::Selection V4l2CapturePin::Select(size_t format, REFERENCE_TIME duration) const {
    const auto &intervals = formats_[format].intervals;
    Selection selection{format, {}};
    if (!intervals.empty())
        selection.interval = duration > 0 ? nearestInterval(intervals, duration) : intervals.front();
    return selection;
}

AM_MEDIA_TYPE V4l2CapturePin::TypeOf(const Selection &selection) const {
    return mediaTypeFor(formats_[selection.format], selection.interval.duration100ns());
}

V4l2CapturePin::Selection V4l2CapturePin::CurrentSelection() const {
    std::lock_guard lock(selectionLock_);
    if (connected_)
        return *connected_;
    if (chosen_)
        return *chosen_;
    return Select(0, 0);
}

HRESULT V4l2CapturePin::CheckMediaType(const AM_MEDIA_TYPE *type) {
    if (!type)
        return E_POINTER;
    const int format = FindFormat(*type);
    if (format < 0)
        return VFW_E_TYPE_NOT_ACCEPTED;
    std::lock_guard lock(selectionLock_);
    // After SetFormat the pin connects with that format only.
    if (chosen_ && static_cast<size_t>(format) != chosen_->format)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT V4l2CapturePin::GetMediaType(int position, AM_MEDIA_TYPE *type) {
    if (!type)
        return E_POINTER;
    if (position < 0)
        return E_INVALIDARG;
    std::optional<Selection> chosen;
    {
        std::lock_guard lock(selectionLock_);
        chosen = chosen_;
    }
    if (chosen) {
        if (position > 0)
            return VFW_S_NO_MORE_ITEMS;
        *type = TypeOf(*chosen);
        return S_OK;
    }
    if (static_cast<size_t>(position) >= formats_.size())
        return VFW_S_NO_MORE_ITEMS;
    *type = TypeOf(Select(static_cast<size_t>(position), 0));
    return S_OK;
}

HRESULT V4l2CapturePin::SetMediaType(const AM_MEDIA_TYPE *type) {
    HRESULT hr = CBaseOutputPin::SetMediaType(type);
    if (FAILED(hr))
        return hr;
    const int format = FindFormat(*type);
    if (format < 0)
        return VFW_E_TYPE_NOT_ACCEPTED;
    std::lock_guard lock(selectionLock_);
    connected_ = chosen_ ? *chosen_ : Select(static_cast<size_t>(format), type->AvgTimePerFrame());
    return S_OK;
}

HRESULT V4l2CapturePin::DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) {
    const Selection selection = CurrentSelection();
    AM_MEDIA_TYPE type = TypeOf(selection);
    return RequestAtLeast(allocator, request, kSampleBuffers,
                          static_cast<int32_t>(type.VideoInfo()->bmiHeader.biSizeImage));
}

HRESULT V4l2CapturePin::SetFormat(AM_MEDIA_TYPE *type) {
    if (!m_pFilter->IsStopped())
        return VFW_E_NOT_STOPPED;
    if (!type) {
        std::lock_guard lock(selectionLock_);
        chosen_.reset();  // back to the camera's own order of formats
        return S_OK;
    }
    const int format = FindFormat(*type);
    if (format < 0)
        return VFW_E_INVALIDMEDIATYPE;
    const Selection selection = Select(static_cast<size_t>(format), type->AvgTimePerFrame());
    {
        std::lock_guard lock(selectionLock_);
        chosen_ = selection;
    }
    // A pin connected with another format reconnects to the same pin with this one.
    if (IsConnected()) {
        std::optional<Selection> connected;
        {
            std::lock_guard lock(selectionLock_);
            connected = connected_;
        }
        if (!connected || connected->format != selection.format || !(connected->interval == selection.interval)) {
            IFilterGraph *graph = m_pFilter->GetFilterGraph();
            ComPtr<IPin> peer(GetConnected());
            if (!graph || !peer)
                return VFW_E_NOT_CONNECTED;
            AM_MEDIA_TYPE reconnectType = TypeOf(selection);
            graph->Disconnect(peer.Get());
            graph->Disconnect(this);
            return graph->ConnectDirect(this, peer.Get(), &reconnectType);
        }
    }
    return S_OK;
}

HRESULT V4l2CapturePin::GetFormat(AM_MEDIA_TYPE **type) {
    if (!type)
        return E_POINTER;
    *type = nullptr;
    if (formats_.empty())
        return VFW_E_NO_TYPES;  // a camera that lists no picture format
    AM_MEDIA_TYPE current = TypeOf(CurrentSelection());
    *type = CreateMediaType(&current);
    return *type ? S_OK : E_OUTOFMEMORY;
}

HRESULT V4l2CapturePin::GetNumberOfCapabilities(int *count, int *capsSize) {
    if (!count || !capsSize)
        return E_POINTER;
    *count = static_cast<int>(formats_.size());
    *capsSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

HRESULT V4l2CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE **type, BYTE *caps) {
    if (!type || !caps)
        return E_POINTER;
    if (index < 0 || static_cast<size_t>(index) >= formats_.size())
        return S_FALSE;
    const CaptureFormat &format = formats_[index];
    AM_MEDIA_TYPE offered = TypeOf(Select(static_cast<size_t>(index), 0));
    *type = CreateMediaType(&offered);
    if (!*type)
        return E_OUTOFMEMORY;
    VIDEO_STREAM_CONFIG_CAPS config;
    config.guid = FORMAT_VideoInfo;
    const int32_t width = static_cast<int32_t>(format.width), height = static_cast<int32_t>(format.height);
    for (int32_t *size : {config.InputSize, config.MinCroppingSize, config.MaxCroppingSize,
                          config.MinOutputSize, config.MaxOutputSize}) {
        size[0] = width;
        size[1] = height;
    }
    config.CropGranularityX = config.CropGranularityY = 1;
    config.CropAlignX = config.CropAlignY = 1;
    config.OutputGranularityX = config.OutputGranularityY = 1;
    if (!format.intervals.empty()) {
        config.MinFrameInterval = format.intervals.front().duration100ns();
        config.MaxFrameInterval = format.intervals.back().duration100ns();
    }
    const int64_t bitsPerFrame = int64_t(offered.VideoInfo()->bmiHeader.biSizeImage) * 8;
    auto bitsPerSecond = [&](int64_t interval) {
        return interval > 0 ? static_cast<int32_t>(std::min<int64_t>(bitsPerFrame * UNITS / interval, INT32_MAX)) : 0;
    };
    config.MinBitsPerSecond = bitsPerSecond(config.MaxFrameInterval);
    config.MaxBitsPerSecond = bitsPerSecond(config.MinFrameInterval);
    std::memcpy(caps, &config, sizeof config);
    return S_OK;
}

// ---- filter ----------------------------------------------------------------------------

V4l2CaptureFilter::V4l2CaptureFilter(std::unique_ptr<V4l2Device> device)
    : CBaseFilter(device->identity().card.c_str(), &lock_, CLSID_V4l2CaptureFilter), device_(std::move(device)) {
    HRESULT hr = S_OK;
    pin_ = std::make_unique<V4l2CapturePin>(this, &hr, device_->formats());
}

V4l2CaptureFilter::~V4l2CaptureFilter() { StopStreaming(); }

HRESULT V4l2CaptureFilter::Create(std::shared_ptr<V4l2Io> io, const std::string &path, V4l2CaptureFilter **filter) {
    if (!filter)
        return E_POINTER;
    *filter = nullptr;
    try {
        *filter = new V4l2CaptureFilter(V4l2Device::open(std::move(io), path));
        return S_OK;
    } catch (const V4l2Error &error) {
        return error.deviceBusy() ? kCameraBusy : kCameraGone;
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
}

HRESULT V4l2CaptureFilter::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (iid == IID_IAMFilterMiscFlags)
        return GetInterface(static_cast<IAMFilterMiscFlags *>(this), object);
    return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

std::string V4l2CaptureFilter::LastError() const {
    std::lock_guard lock(errorLock_);
    return lastError_;
}

HRESULT V4l2CaptureFilter::Fail(const V4l2Error &error) {
    std::lock_guard lock(errorLock_);
    lastError_ = error.what();
    return error.deviceBusy() ? kCameraBusy : error.deviceGone() ? kCameraGone : E_FAIL;
}

HRESULT V4l2CaptureFilter::Pause() {
    CAutoLock lock(lock_);
    if (IsStopped()) {
        if (!pin_->IsConnected())
            return CBaseFilter::Pause();  // nothing to stream to: the camera stays idle
        HRESULT hr = CBaseFilter::Pause();  // commits the allocator first: frames may arrive at once
        if (FAILED(hr))
            return hr;
        hr = StartStreaming();
        if (FAILED(hr)) {
            CBaseFilter::Stop();
            return hr;
        }
        return hr;
    }
    return CBaseFilter::Pause();
}

HRESULT V4l2CaptureFilter::Run(REFERENCE_TIME start) {
    CAutoLock lock(lock_);
    if (IsStopped()) {
        HRESULT hr = Pause();
        if (FAILED(hr))
            return hr;
    }
    runStart100ns_ = monotonicNow100ns();
    firstAfterRun_ = true;
    return CBaseFilter::Run(start);
}

HRESULT V4l2CaptureFilter::Stop() {
    CAutoLock lock(lock_);
    HRESULT hr = CBaseFilter::Stop();  // decommits: a camera thread waiting for a buffer wakes
    StopStreaming();
    return hr;
}

HRESULT V4l2CaptureFilter::StartStreaming() {
    if (deviceLost_) {
        std::lock_guard lock(errorLock_);
        lastError_ = device_->identity().path + " (" + device_->identity().card + ") was unplugged";
        return kCameraGone;
    }
    const V4l2CapturePin::Selection selection = pin_->CurrentSelection();
    const CaptureFormat &format = device_->formats()[selection.format];
    try {
        applied_ = device_->setFormat(format.pixelFormat, format.width, format.height,
                                      selection.interval.duration100ns());
        frameDuration_ = applied_.interval.duration100ns();
        if (frameDuration_ <= 0)
            frameDuration_ = selection.interval.duration100ns();
        stream_ = std::make_unique<CaptureStream>(*device_);
        stream_->start([this](const CapturedFrame &frame) { OnFrame(frame); },
                       [this](const V4l2Error &error) { OnDeviceError(error); });
    } catch (const V4l2Error &error) {
        stream_.reset();
        return Fail(error);
    }
    return S_OK;
}

void V4l2CaptureFilter::StopStreaming() {
    if (stream_) {
        stream_->stop();
        stream_.reset();
    }
}

void V4l2CaptureFilter::OnFrame(const CapturedFrame &frame) {
    // A live source: pictures taken while paused are not kept.
    if (State() != State_Running)
        return;
    ComPtr<IMediaSample> sample;
    if (FAILED(pin_->GetDeliveryBuffer(sample.Put(), nullptr, nullptr, 0)))
        return;  // stopping
    BYTE *buffer = nullptr;
    sample->GetPointer(&buffer);
    const size_t written = packPicture(applied_, frame.data, frame.size, buffer, static_cast<size_t>(sample->GetSize()));
    if (written == 0) {
        ++dropped_;  // a damaged picture
        return;
    }
    sample->SetActualDataLength(static_cast<LONG>(written));
    REFERENCE_TIME start = std::max<int64_t>(frame.captureTime100ns - runStart100ns_.load(), 0);
    REFERENCE_TIME stop = start + frameDuration_;
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(1);
    sample->SetDiscontinuity(firstAfterRun_.exchange(false) ? 1 : 0);
    if (SUCCEEDED(pin_->Deliver(sample.Get())))
        ++delivered_;
}

void V4l2CaptureFilter::OnDeviceError(const V4l2Error &error) {
    if (error.deviceGone())
        deviceLost_ = true;
    Fail(error);
    pin_->DeliverEndOfStream();
}

} // namespace sc::v4l2
