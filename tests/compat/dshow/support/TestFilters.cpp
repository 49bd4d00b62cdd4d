#include "TestFilters.h"

#include <cstring>

class TestSource::Stream final : public CSourceStream {
public:
    Stream(TestSource *filter, AM_MEDIA_TYPE type, int frames, HRESULT *hr)
        : CSourceStream(filter, hr, "Out"), type(std::move(type)), limit(frames) {}
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE *out) override {
        if (position != 0) return VFW_S_NO_MORE_ITEMS;
        return CopyMediaType(out, &type);
    }
    HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override {
        request->cBuffers = 2;
        request->cbBuffer = type.lSampleSize ? LONG(type.lSampleSize) : 4096;
        ALLOCATOR_PROPERTIES actual;
        return allocator->SetProperties(request, &actual);
    }
    HRESULT FillBuffer(IMediaSample *sample) override {
        if (limit && produced >= limit) return S_FALSE;
        BYTE *data = nullptr;
        sample->GetPointer(&data);
        std::memset(data, produced & 0xFF, size_t(sample->GetSize()));
        sample->SetSyncPoint(1);
        ++produced;
        return S_OK;
    }
    AM_MEDIA_TYPE type;
    int limit;
    std::atomic<int> produced{0};
};

TestSource::TestSource(const char *name, AM_MEDIA_TYPE type, int frames) : CSource(name, GUID_NULL) {
    HRESULT hr = S_OK;
    AddPin(std::make_unique<Stream>(this, std::move(type), frames, &hr));
}

int TestSource::Produced() const { return static_cast<Stream *>(m_Pins[0].get())->produced.load(); }

CopyTransform::CopyTransform(const char *name) : CTransformFilter(name, Clsid) {}

HRESULT CopyTransform::CheckInputType(const AM_MEDIA_TYPE *type) {
    return type->majortype == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CopyTransform::CheckTransform(const AM_MEDIA_TYPE *input, const AM_MEDIA_TYPE *output) {
    return MediaTypesEqual(*input, *output) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CopyTransform::GetMediaType(int position, AM_MEDIA_TYPE *type) {
    if (position != 0) return VFW_S_NO_MORE_ITEMS;
    return CopyMediaType(type, &InputPin()->CurrentMediaType());
}

HRESULT CopyTransform::DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) {
    const BITMAPINFOHEADER *header = InputPin()->CurrentMediaType().BitmapHeader();
    request->cBuffers = 1;
    request->cbBuffer = header && header->biSizeImage ? LONG(header->biSizeImage) : 4096;
    ALLOCATOR_PROPERTIES actual;
    HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
}

HRESULT CopyTransform::Transform(IMediaSample *input, IMediaSample *output) {
    BYTE *in = nullptr, *out = nullptr;
    input->GetPointer(&in);
    output->GetPointer(&out);
    const LONG length = input->GetActualDataLength();
    if (length > output->GetSize()) return E_FAIL;
    std::memcpy(out, in, size_t(length));
    return output->SetActualDataLength(length);
}

SubtypeConverter::SubtypeConverter(REFGUID from, REFGUID to) : CTransformFilter("Converter", GUID_NULL), from(from), to(to) {}

HRESULT SubtypeConverter::CheckInputType(const AM_MEDIA_TYPE *type) {
    return type->majortype == MEDIATYPE_Video && type->subtype == from ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT SubtypeConverter::CheckTransform(const AM_MEDIA_TYPE *input, const AM_MEDIA_TYPE *output) {
    return input->subtype == from && output->subtype == to ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT SubtypeConverter::GetMediaType(int position, AM_MEDIA_TYPE *type) {
    if (position != 0) return VFW_S_NO_MORE_ITEMS;
    HRESULT hr = CopyMediaType(type, &InputPin()->CurrentMediaType());
    type->subtype = to;
    return hr;
}

HRESULT SubtypeConverter::DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) {
    request->cBuffers = 1;
    request->cbBuffer = 4096;
    if (const BITMAPINFOHEADER *h = InputPin()->CurrentMediaType().BitmapHeader())
        if (h->biSizeImage) request->cbBuffer = LONG(h->biSizeImage);
    ALLOCATOR_PROPERTIES actual;
    return allocator->SetProperties(request, &actual);
}

HRESULT SubtypeConverter::Transform(IMediaSample *input, IMediaSample *output) {
    BYTE *in = nullptr, *out = nullptr;
    input->GetPointer(&in);
    output->GetPointer(&out);
    const LONG length = std::min(input->GetActualDataLength(), output->GetSize());
    std::memcpy(out, in, size_t(length));
    return output->SetActualDataLength(length);
}

RecordingRenderer::RecordingRenderer(AM_MEDIA_TYPE pattern, const char *name)
    : CBaseRenderer(name, GUID_NULL), pattern(std::move(pattern)) {}

HRESULT RecordingRenderer::CheckMediaType(const AM_MEDIA_TYPE *type) {
    return MatchesPartialType(*type, pattern) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT RecordingRenderer::DoRenderSample(IMediaSample *sample) {
    std::function<void(IMediaSample *)> hook;
    {
        std::lock_guard guard(lock);
        hook = onSample;
    }
    if (hook) hook(sample);
    Received r;
    BYTE *data = nullptr;
    sample->GetPointer(&data);
    if (keepBytes) r.bytes.assign(data, data + sample->GetActualDataLength());
    r.syncPoint = sample->IsSyncPoint() == S_OK;
    REFERENCE_TIME a, b;
    r.hasTime = sample->GetTime(&a, &b) == S_OK;
    std::lock_guard guard(lock);
    received.push_back(std::move(r));
    return S_OK;
}

std::vector<RecordingRenderer::Received> RecordingRenderer::Samples() {
    std::lock_guard guard(lock);
    return received;
}

void RecordingRenderer::SetOnSample(std::function<void(IMediaSample *)> hook) {
    std::lock_guard guard(lock);
    onSample = std::move(hook);
}
