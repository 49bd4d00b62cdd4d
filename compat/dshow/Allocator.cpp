#include "compat/dshow/Allocator.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

HRESULT RequestAtLeast(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request, int32_t buffers, int32_t bytes) {
    if (!allocator || !request)
        return E_POINTER;
    request->cBuffers = std::max(request->cBuffers, buffers);
    request->cbBuffer = std::max(request->cbBuffer, bytes);
    request->cbAlign = std::max(request->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual;
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr))
        return hr;
    return actual.cBuffers < 1 || actual.cbBuffer < bytes ? E_FAIL : S_OK;
}

CMediaSample::CMediaSample(CMemAllocator *owner, BYTE *data, LONG bytes)
    : allocator(owner), buffer(data), size(bytes) {}

HRESULT CMediaSample::QueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IMediaSample) return GetInterface(static_cast<IMediaSample *>(this), object);
    return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef() { return refCount.fetch_add(1, std::memory_order_relaxed) + 1; }

ULONG CMediaSample::Release() {
    const ULONG left = refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) allocator->ReleaseBuffer(this);  // may free this sample: touch nothing after
    return left;
}

void CMediaSample::ResetForUse() {
    actualLength = size;
    syncPoint = preroll = discontinuity = false;
    times.reset();
    mediaTimes.reset();
    mediaType.reset();
    refCount.store(1, std::memory_order_relaxed);
}

HRESULT CMediaSample::GetPointer(BYTE **out) {
    if (!out) return E_POINTER;
    *out = buffer;
    return S_OK;
}

HRESULT CMediaSample::GetTime(REFERENCE_TIME *start, REFERENCE_TIME *stop) {
    if (!start || !stop) return E_POINTER;
    if (!times) return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = times->first;
    *stop = times->second;
    return S_OK;
}

HRESULT CMediaSample::SetTime(const REFERENCE_TIME *start, const REFERENCE_TIME *stop) {
    if (!start) {
        times.reset();
        return S_OK;
    }
    times = std::make_pair(*start, stop ? *stop : *start + 1);
    return S_OK;
}

HRESULT CMediaSample::SetSyncPoint(BOOL sync) {
    syncPoint = sync != 0;
    return S_OK;
}

HRESULT CMediaSample::SetPreroll(BOOL value) {
    preroll = value != 0;
    return S_OK;
}

HRESULT CMediaSample::SetActualDataLength(LONG length) {
    if (length < 0 || length > size) return VFW_E_BUFFER_OVERFLOW;
    actualLength = length;
    return S_OK;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE **type) {
    if (!type) return E_POINTER;
    *type = nullptr;
    if (!mediaType) return S_FALSE;
    *type = CreateMediaType(mediaType.get());
    return *type ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::SetMediaType(const AM_MEDIA_TYPE *type) {
    if (!type) {
        mediaType.reset();
        return S_OK;
    }
    mediaType = std::make_unique<AM_MEDIA_TYPE>(*type);
    return S_OK;
}

HRESULT CMediaSample::SetDiscontinuity(BOOL value) {
    discontinuity = value != 0;
    return S_OK;
}

HRESULT CMediaSample::GetMediaTime(int64_t *start, int64_t *stop) {
    if (!start || !stop) return E_POINTER;
    if (!mediaTimes) return VFW_E_MEDIA_TIME_NOT_SET;
    *start = mediaTimes->first;
    *stop = mediaTimes->second;
    return S_OK;
}

HRESULT CMediaSample::SetMediaTime(const int64_t *start, const int64_t *stop) {
    if (!start) {
        mediaTimes.reset();
        return S_OK;
    }
    mediaTimes = std::make_pair(*start, stop ? *stop : *start + 1);
    return S_OK;
}

CMemAllocator::~CMemAllocator() {
    std::lock_guard guard(lock);
    FreeMemoryLocked();
}

HRESULT CMemAllocator::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (iid == IID_IMemAllocator) return GetInterface(static_cast<IMemAllocator *>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CMemAllocator::SetProperties(const ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual) {
    if (!request || !actual) return E_POINTER;
    std::lock_guard guard(lock);
    if (committed) return VFW_E_ALREADY_COMMITTED;
    if (freeList.size() != samples.size()) return VFW_E_BUFFERS_OUTSTANDING;
    ALLOCATOR_PROPERTIES wanted = *request;
    if (wanted.cbAlign == 0) wanted.cbAlign = 1;
    if (wanted.cbAlign < 0 || (wanted.cbAlign & (wanted.cbAlign - 1)) != 0) return VFW_E_BADALIGN;
    if (wanted.cBuffers < 0 || wanted.cbBuffer < 0 || wanted.cbPrefix < 0) return E_INVALIDARG;
    const int64_t stride = (int64_t(wanted.cbBuffer) + wanted.cbPrefix + wanted.cbAlign - 1) / wanted.cbAlign * wanted.cbAlign;
    if (stride * wanted.cBuffers > kMaxTotalBytes) return E_OUTOFMEMORY;
    if (wanted.cBuffers != props.cBuffers || wanted.cbBuffer != props.cbBuffer || wanted.cbAlign != props.cbAlign ||
        wanted.cbPrefix != props.cbPrefix)
        FreeMemoryLocked();
    props = wanted;
    *actual = props;
    return S_OK;
}

HRESULT CMemAllocator::GetProperties(ALLOCATOR_PROPERTIES *out) {
    if (!out) return E_POINTER;
    std::lock_guard guard(lock);
    *out = props;
    return S_OK;
}

HRESULT CMemAllocator::Commit() {
    std::lock_guard guard(lock);
    if (props.cBuffers <= 0 || props.cbBuffer <= 0) return VFW_E_SIZENOTSET;
    if (committed) return S_OK;
    if (samples.empty()) {
        const int64_t stride = (int64_t(props.cbBuffer) + props.cbPrefix + props.cbAlign - 1) / props.cbAlign * props.cbAlign;
        memory.reset(new (std::nothrow) BYTE[size_t(stride * props.cBuffers + props.cbAlign)]);
        if (!memory) return E_OUTOFMEMORY;
        const auto base = reinterpret_cast<uintptr_t>(memory.get());
        const uintptr_t aligned = (base + props.cbAlign - 1) / props.cbAlign * props.cbAlign;
        BYTE *first = memory.get() + (aligned - base);
        for (int i = 0; i < props.cBuffers; ++i) {
            auto *sample = new CMediaSample(this, first + i * stride + props.cbPrefix, props.cbBuffer);
            samples.push_back(sample);
            freeList.push_back(sample);
        }
    }
    committed = true;
    return S_OK;
}

HRESULT CMemAllocator::Decommit() {
    std::lock_guard guard(lock);
    if (!committed) return S_OK;
    committed = false;
    bufferFreed.notify_all();
    if (freeList.size() == samples.size()) FreeMemoryLocked();
    return S_OK;
}

HRESULT CMemAllocator::GetBuffer(IMediaSample **out, REFERENCE_TIME *start, REFERENCE_TIME *stop, DWORD flags) {
    if (!out) return E_POINTER;
    *out = nullptr;
    CMediaSample *sample = nullptr;
    {
        std::unique_lock guard(lock);
        for (;;) {
            if (!committed) return VFW_E_NOT_COMMITTED;
            if (!freeList.empty()) break;
            if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
            bufferFreed.wait(guard);
        }
        sample = freeList.back();
        freeList.pop_back();
        sample->ResetForUse();
    }
    // An outstanding buffer keeps its allocator alive.
    NonDelegatingAddRef();
    if (start) sample->SetTime(start, stop);
    *out = sample;
    return S_OK;
}

HRESULT CMemAllocator::ReleaseBuffer(IMediaSample *released) {
    auto *sample = static_cast<CMediaSample *>(released);
    if (!sample || sample->allocator != this) return E_INVALIDARG;
    {
        std::lock_guard guard(lock);
        sample->mediaType.reset();
        freeList.push_back(sample);
        if (!committed && freeList.size() == samples.size()) FreeMemoryLocked();
        else bufferFreed.notify_one();
    }
    NonDelegatingRelease();
    return S_OK;
}

void CMemAllocator::FreeMemoryLocked() {
    for (CMediaSample *sample : samples) delete sample;
    samples.clear();
    freeList.clear();
    memory.reset();
}
