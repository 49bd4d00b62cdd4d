#include "compat/dshow/pulse/PulseCaptureFilter.h"

#include "compat/dshow/Uuids.h"

#include <algorithm>

namespace sc::pulse {
namespace {

const StreamFormat kCaptureFormat;  // 44100 Hz, 16-bit, stereo
const int32_t kBlockAlign = static_cast<int32_t>(kCaptureFormat.bytesPerFrame());

REFERENCE_TIME timeOfFrame(uint64_t frame) {
    return static_cast<REFERENCE_TIME>(frame * UNITS / kCaptureFormat.rate);
}

} // namespace

// ---- pin -------------------------------------------------------------------------------

PulseCapturePin::PulseCapturePin(PulseCaptureFilter *filter, HRESULT *result)
    : CBaseOutputPin(filter, filter->StateLock(), result, "Capture") {}

HRESULT PulseCapturePin::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (iid == IID_IAMBufferNegotiation)
        return GetInterface(static_cast<IAMBufferNegotiation *>(this), object);
    return CBaseOutputPin::NonDelegatingQueryInterface(iid, object);
}

AM_MEDIA_TYPE PulseCapturePin::CaptureType() {
    return MakePcmAudioType(kCaptureFormat.rate, kCaptureFormat.channels, 16);
}

HRESULT PulseCapturePin::CheckMediaType(const AM_MEDIA_TYPE *type) {
    if (!type)
        return E_POINTER;
    const AM_MEDIA_TYPE expected = CaptureType();
    const WAVEFORMATEX *wave = type->WaveFormat();
    const WAVEFORMATEX *ours = expected.WaveFormat();
    if (type->majortype != MEDIATYPE_Audio || type->subtype != MEDIASUBTYPE_PCM || !wave ||
        wave->wFormatTag != WAVE_FORMAT_PCM || wave->nChannels != ours->nChannels ||
        wave->nSamplesPerSec != ours->nSamplesPerSec || wave->wBitsPerSample != ours->wBitsPerSample)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT PulseCapturePin::GetMediaType(int position, AM_MEDIA_TYPE *type) {
    if (!type)
        return E_POINTER;
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0)
        return VFW_S_NO_MORE_ITEMS;
    *type = CaptureType();
    return S_OK;
}

HRESULT PulseCapturePin::SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES *props) {
    if (!props)
        return E_POINTER;
    if (IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    suggested_ = *props;
    return S_OK;
}

HRESULT PulseCapturePin::GetAllocatorProperties(ALLOCATOR_PROPERTIES *props) {
    if (!props)
        return E_POINTER;
    if (!IsConnected() || !Allocator())
        return VFW_E_NOT_CONNECTED;
    return Allocator()->GetProperties(props);
}

HRESULT PulseCapturePin::DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) {
    if (!allocator || !request)
        return E_POINTER;
    int32_t buffers = kDefaultBuffers, bytes = kDefaultBufferBytes;
    if (suggested_) {
        // Zero or negative fields mean "no preference". A buffer holds whole sample frames,
        // so a suggestion of 4410 bytes (25 ms) gives 4408: a frame is never split.
        if (suggested_->cBuffers > 0)
            buffers = suggested_->cBuffers;
        if (suggested_->cbBuffer > 0)
            bytes = std::max(suggested_->cbBuffer / kBlockAlign * kBlockAlign, kBlockAlign);
        if (suggested_->cbAlign > 0)
            request->cbAlign = suggested_->cbAlign;
        if (suggested_->cbPrefix > 0)
            request->cbPrefix = suggested_->cbPrefix;
    }
    request->cBuffers = buffers;
    request->cbBuffer = bytes;
    request->cbAlign = std::max(request->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual;
    HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cbBuffer >= bytes ? S_OK : E_FAIL;
}

// ---- filter ----------------------------------------------------------------------------

PulseCaptureFilter::PulseCaptureFilter(std::shared_ptr<PulseClient> client, std::string source)
    : CBaseFilter("Audio Capture", &lock_, CLSID_PulseCaptureFilter), client_(std::move(client)),
      source_(std::move(source)) {
    HRESULT hr = S_OK;
    pin_ = std::make_unique<PulseCapturePin>(this, &hr);
}

PulseCaptureFilter::~PulseCaptureFilter() { EndCapture(); }

HRESULT PulseCaptureFilter::Create(const std::string &source, PulseCaptureFilter **filter) {
    if (!filter)
        return E_POINTER;
    *filter = nullptr;
    try {
        auto client = PulseClient::connect();
        client->sourceVolume(source);  // the input exists
        *filter = new PulseCaptureFilter(std::move(client), source);
        return S_OK;
    } catch (const PulseError &) {
        return VFW_E_NO_CAPTURE_HARDWARE;
    }
}

HRESULT PulseCaptureFilter::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (iid == IID_IAMAudioInputMixer)
        return GetInterface(static_cast<IAMAudioInputMixer *>(this), object);
    if (iid == IID_IAMFilterMiscFlags)
        return GetInterface(static_cast<IAMFilterMiscFlags *>(this), object);
    return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

std::string PulseCaptureFilter::LastError() const {
    std::lock_guard lock(errorLock_);
    return lastError_;
}

HRESULT PulseCaptureFilter::Fail(const std::string &what) {
    std::lock_guard lock(errorLock_);
    lastError_ = what;
    return VFW_E_NO_CAPTURE_HARDWARE;
}

HRESULT PulseCaptureFilter::Run(REFERENCE_TIME start) {
    CAutoLock lock(lock_);
    const bool starting = !thread_.joinable() && pin_->IsConnected();  // unconnected: nothing to record for
    HRESULT hr = CBaseFilter::Run(start);
    if (FAILED(hr) || !starting)
        return hr;
    ALLOCATOR_PROPERTIES props;
    pin_->Allocator()->GetProperties(&props);
    const size_t bufferBytes = static_cast<size_t>(props.cbBuffer) / kBlockAlign * kBlockAlign;
    try {
        stream_ = client_->record(source_, static_cast<uint32_t>(bufferBytes), kCaptureFormat);
    } catch (const PulseError &error) {
        CBaseFilter::Stop();
        return Fail(error.what());
    }
    stopping_ = false;
    thread_ = std::thread(&PulseCaptureFilter::Capture, this, bufferBytes);
    return hr;
}

HRESULT PulseCaptureFilter::Stop() {
    CAutoLock lock(lock_);
    stopping_ = true;
    if (stream_)
        stream_->interrupt();      // wakes a thread waiting for sound
    HRESULT hr = CBaseFilter::Stop();  // decommits: wakes a thread waiting for a buffer
    EndCapture();
    return hr;
}

void PulseCaptureFilter::EndCapture() {
    stopping_ = true;
    if (stream_)
        stream_->interrupt();
    if (thread_.joinable())
        thread_.join();
    stream_.reset();
}

void PulseCaptureFilter::Capture(size_t bufferBytes) {
    uint64_t expectedFrame = 0;
    while (!stopping_) {
        ComPtr<IMediaSample> sample;
        if (FAILED(pin_->GetDeliveryBuffer(sample.Put(), nullptr, nullptr, 0)))
            return;  // decommitted: stopping
        BYTE *buffer = nullptr;
        sample->GetPointer(&buffer);
        const size_t bytes = std::min(bufferBytes, static_cast<size_t>(sample->GetSize())) / kBlockAlign * kBlockAlign;
        const RecordStream::Chunk chunk = stream_->read(buffer, bytes);
        if (chunk.bytes < bytes) {
            if (!stopping_) {
                Fail(stream_->failure());
                pin_->DeliverEndOfStream();
            }
            return;
        }
        if (State() != State_Running)
            continue;  // paused: the sound of the pause is not kept, its time still counts
        const uint64_t frames = chunk.bytes / kBlockAlign;
        REFERENCE_TIME startTime = timeOfFrame(chunk.firstFrame);
        REFERENCE_TIME stopTime = timeOfFrame(chunk.firstFrame + frames);
        int64_t firstSample = static_cast<int64_t>(chunk.firstFrame);
        int64_t endSample = firstSample + static_cast<int64_t>(frames);
        sample->SetActualDataLength(static_cast<LONG>(chunk.bytes));
        sample->SetTime(&startTime, &stopTime);
        sample->SetMediaTime(&firstSample, &endSample);
        sample->SetSyncPoint(1);
        sample->SetDiscontinuity(chunk.firstFrame != expectedFrame ? 1 : 0);
        expectedFrame = chunk.firstFrame + frames;
        if (FAILED(pin_->Deliver(sample.Get())) && stopping_)
            return;
    }
}

HRESULT PulseCaptureFilter::put_Enable(BOOL enable) {
    return MixerCall([&] { client_->setSourceMuted(source_, !enable); });
}

HRESULT PulseCaptureFilter::get_Enable(BOOL *enable) {
    if (!enable)
        return E_POINTER;
    return MixerCall([&] { *enable = client_->sourceMuted(source_) ? 0 : 1; });
}

HRESULT PulseCaptureFilter::put_MixLevel(double level) {
    if (!(level >= 0))  // also rejects NaN
        return E_INVALIDARG;
    return MixerCall([&] { client_->setSourceVolume(source_, std::min(level, 1.0)); });
}

HRESULT PulseCaptureFilter::get_MixLevel(double *level) {
    if (!level)
        return E_POINTER;
    return MixerCall([&] { *level = client_->sourceVolume(source_); });
}

} // namespace sc::pulse
