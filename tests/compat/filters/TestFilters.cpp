#include "TestFilters.h"

#include <algorithm>
#include <cstring>

namespace testfilters {

namespace {
const CLSID kPushSourceClsid = MakeGuid("{6A1D2C3B-0F4E-4B5A-9C8D-7E6F5A4B3C2D}");
const CLSID kSinkClsid = MakeGuid("{6A1D2C3B-0F4E-4B5A-9C8D-7E6F5A4B3C2E}");
} // namespace

PushPin::PushPin(PushSource* filter, HRESULT* result, AM_MEDIA_TYPE type, int bufferSize)
    : CBaseOutputPin(filter, filter->StateLock(), result, "Out"), type_(std::move(type)), bufferSize_(bufferSize)
{
}

HRESULT PushPin::CheckMediaType(const AM_MEDIA_TYPE* type)
{
    return type && MediaTypesEqual(*type, type_) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT PushPin::GetMediaType(int position, AM_MEDIA_TYPE* type)
{
    if (position != 0)
        return VFW_S_NO_MORE_ITEMS;
    *type = type_;
    return S_OK;
}

HRESULT PushPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    return RequestAtLeast(allocator, request, 1, bufferSize_);
}

PushSource::PushSource(const AM_MEDIA_TYPE& type, int bufferSize)
    : CBaseFilter("Test push source", &lock_, kPushSourceClsid)
{
    HRESULT hr = S_OK;
    pin_ = std::make_unique<PushPin>(this, &hr, type, bufferSize);
}

HRESULT PushSource::deliver(const void* data, size_t size, std::optional<REFERENCE_TIME> start, bool sync)
{
    ComPtr<IMediaSample> sample;
    HRESULT hr = pin_->GetDeliveryBuffer(sample.Put(), nullptr, nullptr, 0);
    if (FAILED(hr))
        return hr;
    if (static_cast<LONG>(size) > sample->GetSize())
        return VFW_E_BUFFER_OVERFLOW;
    BYTE* buffer = nullptr;
    sample->GetPointer(&buffer);
    std::memcpy(buffer, data, size);
    sample->SetActualDataLength(static_cast<LONG>(size));
    sample->SetSyncPoint(sync ? 1 : 0);
    if (start) {
        REFERENCE_TIME stop = *start + 1;
        sample->SetTime(&*start, &stop);
    }
    return pin_->Deliver(sample.Get());
}

CollectingPin::CollectingPin(CollectingSink* filter, HRESULT* result, GUID majorType)
    : CBaseInputPin(filter, filter->StateLock(), result, "In"), sink_(filter), majorType_(majorType)
{
}

HRESULT CollectingPin::CheckMediaType(const AM_MEDIA_TYPE* type)
{
    return type && type->majortype == majorType_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CollectingPin::Receive(IMediaSample* sample)
{
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    ReceivedSample copy;
    copy.bytes.assign(data, data + sample->GetActualDataLength());
    REFERENCE_TIME start = 0, stop = 0;
    if (SUCCEEDED(sample->GetTime(&start, &stop)))
        copy.start = start;
    copy.sync = sample->IsSyncPoint() == S_OK;
    copy.arrival = std::chrono::steady_clock::now();
    sink_->add(std::move(copy));
    return S_OK;
}

CollectingSink::CollectingSink(GUID majorType) : CBaseFilter("Test sink", &lock_, kSinkClsid)
{
    HRESULT hr = S_OK;
    pin_ = std::make_unique<CollectingPin>(this, &hr, majorType);
}

void CollectingSink::add(ReceivedSample sample)
{
    {
        std::lock_guard guard(samplesLock_);
        samples_.push_back(std::move(sample));
    }
    arrived_.notify_all();
}

bool CollectingSink::waitFor(size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock guard(samplesLock_);
    return arrived_.wait_for(guard, timeout, [&] { return samples_.size() >= count; });
}

std::vector<ReceivedSample> CollectingSink::samples()
{
    std::lock_guard guard(samplesLock_);
    return samples_;
}

} // namespace testfilters
