#include "tests/support/TestFilters.h"

#include <algorithm>
#include <cstring>

namespace sc::test {

namespace {
const CLSID kPushSourceClsid = MakeGuid("{0D3F6A53-2C41-4E8A-9B0A-5E7C1A2B3C41}");
const CLSID kRecordingSinkClsid = MakeGuid("{0D3F6A53-2C41-4E8A-9B0A-5E7C1A2B3C42}");
} // namespace

class PushSource::Pin final : public CBaseOutputPin {
public:
    Pin(PushSource *filter, HRESULT *result, const AM_MEDIA_TYPE &type, int32_t bytes, int32_t buffers)
        : CBaseOutputPin(filter, filter->StateLock(), result, "Out"), type_(type), bytes_(bytes), buffers_(buffers) {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override {
        return type && type->majortype == type_.majortype && type->subtype == type_.subtype ? S_OK
                                                                                              : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE *type) override {
        if (position != 0)
            return VFW_S_NO_MORE_ITEMS;
        *type = type_;
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override {
        request->cBuffers = std::max(request->cBuffers, buffers_);
        request->cbBuffer = std::max<int32_t>(request->cbBuffer, bytes_ > 0 ? bytes_ : int32_t(type_.lSampleSize));
        request->cbAlign = std::max(request->cbAlign, 1);
        ALLOCATOR_PROPERTIES actual;
        return allocator->SetProperties(request, &actual);
    }

private:
    AM_MEDIA_TYPE type_;
    int32_t bytes_, buffers_;
};

PushSource::PushSource(const AM_MEDIA_TYPE &type, int32_t bufferBytes, int32_t buffers)
    : CBaseFilter("Push Source", &lock_, kPushSourceClsid) {
    HRESULT hr = S_OK;
    pin_ = std::make_unique<Pin>(this, &hr, type, bufferBytes, buffers);
}

PushSource::~PushSource() = default;

CBasePin *PushSource::GetPin(int n) { return n == 0 ? pin_.get() : nullptr; }
IPin *PushSource::Output() { return pin_.get(); }

HRESULT PushSource::Push(const void *data, size_t size, const REFERENCE_TIME *start, const REFERENCE_TIME *stop) {
    ComPtr<IMediaSample> sample;
    HRESULT hr = pin_->GetDeliveryBuffer(sample.Put(), nullptr, nullptr, 0);
    if (FAILED(hr))
        return hr;
    BYTE *buffer = nullptr;
    sample->GetPointer(&buffer);
    if (size > static_cast<size_t>(sample->GetSize()))
        return VFW_E_BUFFER_OVERFLOW;
    if (size)
        std::memcpy(buffer, data, size);
    sample->SetActualDataLength(static_cast<LONG>(size));
    sample->SetTime(start, stop);
    return pin_->Deliver(sample.Get());
}

HRESULT PushSource::PushEndOfStream() { return pin_->DeliverEndOfStream(); }

class RecordingSink::Pin final : public CRendererInputPin {
public:
    Pin(RecordingSink *sink, HRESULT *result) : CRendererInputPin(sink, result, "In"), sink_(sink) {}
    HRESULT EndOfStream() override {
        sink_->OnEndOfStream();
        return S_OK;
    }

private:
    RecordingSink *sink_;
};

RecordingSink::RecordingSink(std::vector<GUID> subtypes, bool keepBytes)
    : CBaseRenderer("Recording Sink", kRecordingSinkClsid), subtypes_(std::move(subtypes)), keepBytes_(keepBytes) {
    HRESULT hr = S_OK;
    m_pInputPin = std::make_unique<Pin>(this, &hr);
}

IPin *RecordingSink::Input() { return m_pInputPin.get(); }

HRESULT RecordingSink::CheckMediaType(const AM_MEDIA_TYPE *type) {
    if (subtypes_.empty())
        return S_OK;
    return std::find(subtypes_.begin(), subtypes_.end(), type->subtype) != subtypes_.end() ? S_OK
                                                                                          : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT RecordingSink::DoRenderSample(IMediaSample *sample) {
    Sample kept;
    BYTE *data = nullptr;
    sample->GetPointer(&data);
    const LONG length = sample->GetActualDataLength();
    if (keepBytes_)
        kept.bytes.assign(data, data + std::max<LONG>(length, 0));
    else
        kept.bytes.resize(std::max<LONG>(length, 0));
    kept.timed = sample->GetTime(&kept.start, &kept.stop) == S_OK;
    kept.syncPoint = sample->IsSyncPoint() == S_OK;
    kept.discontinuity = sample->IsDiscontinuity() == S_OK;
    std::lock_guard lock(mutex_);
    samples_.push_back(std::move(kept));
    arrived_.notify_all();
    return S_OK;
}

void RecordingSink::OnEndOfStream() {
    std::lock_guard lock(mutex_);
    endOfStream_ = true;
    arrived_.notify_all();
}

std::vector<RecordingSink::Sample> RecordingSink::Samples() {
    std::lock_guard lock(mutex_);
    return samples_;
}

size_t RecordingSink::Count() {
    std::lock_guard lock(mutex_);
    return samples_.size();
}

bool RecordingSink::WaitFor(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return samples_.size() >= count || endOfStream_; }) &&
           samples_.size() >= count;
}

bool RecordingSink::WaitForEndOfStream(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return endOfStream_; });
}

bool RecordingSink::EndOfStreamSeen() {
    std::lock_guard lock(mutex_);
    return endOfStream_;
}

} // namespace sc::test
