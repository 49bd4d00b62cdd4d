#include "filter/ScaleFilter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace framescaler {

namespace {

int64_t rowBytes(const BITMAPINFOHEADER& header)
{
    return (int64_t{header.biWidth} * header.biBitCount / 8 + 3) / 4 * 4;
}

FrameSize frameSizeOf(const BITMAPINFOHEADER& header)
{
    return {header.biWidth, static_cast<int32_t>(std::abs(int64_t{header.biHeight}))};
}

// Copies a yes/no mark of a sample; a query that answers anything else ends the frame.
HRESULT copyMark(HRESULT answer, IMediaSample* output, HRESULT (IMediaSample::*set)(BOOL))
{
    if (answer != S_OK && answer != S_FALSE)
        return E_UNEXPECTED;
    return (output->*set)(answer == S_OK);
}

void copyTimes(IMediaSample* input, IMediaSample* output)
{
    REFERENCE_TIME start = 0, stop = 0;
    if (input->GetTime(&start, &stop) == S_OK)
        output->SetTime(&start, &stop);
    int64_t mediaStart = 0, mediaStop = 0;
    if (input->GetMediaTime(&mediaStart, &mediaStop) == S_OK)
        output->SetMediaTime(&mediaStart, &mediaStop);
}

} // namespace

bool isAcceptableType(const AM_MEDIA_TYPE& type)
{
    if (type.majortype != MEDIATYPE_Video || type.subtype != MEDIASUBTYPE_RGB32
        || type.formattype != FORMAT_VideoInfo)
        return false;
    const VIDEOINFOHEADER* info = type.VideoInfo();
    if (info == nullptr)
        return false;
    const BITMAPINFOHEADER& bmi = info->bmiHeader;
    return bmi.biBitCount == 32 && bmi.biWidth > 0 && bmi.biHeight > 0 && bmi.biWidth <= kScaleMaxSide
        && bmi.biHeight <= kScaleMaxSide;
}

AM_MEDIA_TYPE scaledType(const AM_MEDIA_TYPE& input, int32_t width, int32_t height)
{
    AM_MEDIA_TYPE type = input;
    VIDEOINFOHEADER* info = type.VideoInfo();
    if (info == nullptr)
        return type;
    BITMAPINFOHEADER& bmi = info->bmiHeader;
    bmi.biWidth = width;
    bmi.biHeight = height;
    // At most 32767 * 4 * 32767 bytes: within 32 bits.
    bmi.biSizeImage = static_cast<uint32_t>(rowBytes(bmi) * height);
    type.lSampleSize = bmi.biSizeImage;
    info->rcSource.right = width;
    info->rcSource.bottom = height;
    info->rcTarget.right = width;
    info->rcTarget.bottom = height;
    return type;
}

CUnknown* TScaleFilter::CreateInstance(IUnknown*, HRESULT* result)
{
    auto* filter = new (std::nothrow) TScaleFilter();
    if (filter == nullptr && result != nullptr)
        *result = E_OUTOFMEMORY;
    return filter;
}

TScaleFilter::TScaleFilter() : CTransformFilter(kScaleFilterName, CLSID_ScaleFilter) {}

TScaleFilter::~TScaleFilter() = default;

HRESULT TScaleFilter::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IScaleSettings)
        return GetInterface(static_cast<IScaleSettings*>(this), object);
    if (iid == IID_ISpecifyPropertyPages)
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), object);
    return CTransformFilter::NonDelegatingQueryInterface(iid, object);
}

TScaleParams TScaleFilter::settings() const
{
    std::lock_guard guard(m_paramsLock);
    return m_params;
}

HRESULT TScaleFilter::GetParams(TScaleParams* params)
{
    if (params == nullptr)
        return E_POINTER;
    const uint16_t size = params->size;
    if (size != kScaleParamsShortSize && size != kScaleParamsFullSize)
        return E_INVALIDARG;
    const TScaleParams current = settings();
    std::memcpy(params, &current, size);
    return S_OK;
}

HRESULT TScaleFilter::SetParams(const TScaleParams* params)
{
    if (params == nullptr)
        return E_POINTER;
    const uint16_t size = params->size;
    if (size != kScaleParamsShortSize && size != kScaleParamsFullSize)
        return E_INVALIDARG;
    TScaleParams incoming;
    std::memcpy(&incoming, params, size); // the caller's record may be the 24-byte form
    if (incoming.width > kScaleMaxSide || incoming.height > kScaleMaxSide)
        return E_INVALIDARG;
    const bool full = size == kScaleParamsFullSize;

    // The state lock keeps the connection from changing while the record is taken over.
    CAutoLock state(m_csFilter);
    const bool connected = OutputPin() != nullptr && OutputPin()->IsConnected();
    std::lock_guard guard(m_paramsLock);
    if (connected) {
        // The output type was derived from size, enabled and keep aspect at connection time.
        m_params.pause = incoming.pause;
        if (full)
            m_params.mode = incoming.mode;
    } else if (incoming.width > 0 && incoming.height > 0) {
        m_params.enabled = incoming.enabled;
        m_params.keepAspect = incoming.keepAspect;
        m_params.width = incoming.width;
        m_params.height = incoming.height;
        m_params.pause = incoming.pause;
        if (full)
            m_params.mode = incoming.mode;
    }
    return S_OK;
}

HRESULT TScaleFilter::GetPages(CAUUID* pages)
{
    if (pages == nullptr)
        return E_POINTER;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (pages->pElems == nullptr) {
        pages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    pages->cElems = 1;
    pages->pElems[0] = CLSID_ScalePropertyPage;
    return S_OK;
}

HRESULT TScaleFilter::CheckInputType(const AM_MEDIA_TYPE* type)
{
    if (type == nullptr)
        return E_POINTER;
    if (type->formattype != FORMAT_VideoInfo)
        return E_INVALIDARG;
    return isAcceptableType(*type) ? S_OK : E_FAIL;
}

HRESULT TScaleFilter::CheckTransform(const AM_MEDIA_TYPE* input, const AM_MEDIA_TYPE* output)
{
    if (input == nullptr || output == nullptr)
        return E_POINTER;
    return isAcceptableType(*input) && isAcceptableType(*output) ? S_OK : E_FAIL;
}

HRESULT TScaleFilter::GetMediaType(int position, AM_MEDIA_TYPE* type)
{
    if (InputPin() == nullptr || !InputPin()->IsConnected())
        return E_UNEXPECTED;
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0)
        return VFW_S_NO_MORE_ITEMS;
    if (type == nullptr)
        return E_POINTER;
    const TScaleParams p = settings();
    const AM_MEDIA_TYPE& input = InputPin()->CurrentMediaType();
    *type = p.enabled ? scaledType(input, p.width, p.height) : input;
    return S_OK;
}

HRESULT TScaleFilter::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    if (InputPin() == nullptr || !InputPin()->IsConnected())
        return E_UNEXPECTED;
    if (allocator == nullptr || request == nullptr)
        return E_POINTER;
    const TScaleParams p = settings();
    int64_t bytes = 0;
    if (p.enabled) {
        // What Transform writes: the picture of the connected output type.
        const BITMAPINFOHEADER* out = OutputPin()->CurrentMediaType().BitmapHeader();
        bytes = out != nullptr ? rgb32Bytes(frameSizeOf(*out)) : rgb32Bytes({p.width, p.height});
    } else {
        // Pass-through: the input's samples, which a type with sample size 0 does not state.
        const AM_MEDIA_TYPE& input = InputPin()->CurrentMediaType();
        bytes = input.lSampleSize;
        if (const BITMAPINFOHEADER* in = input.BitmapHeader()) {
            bytes = std::max<int64_t>(bytes, in->biSizeImage);
            bytes = std::max<int64_t>(bytes, rowBytes(*in) * std::abs(int64_t{in->biHeight}));
        }
    }
    if (bytes <= 0 || bytes > std::numeric_limits<int32_t>::max())
        return E_FAIL;
    request->cBuffers = 1;
    request->cbBuffer = static_cast<int32_t>(bytes);
    ALLOCATOR_PROPERTIES actual;
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr))
        return hr;
    if (actual.cBuffers < 1 || actual.cbBuffer < bytes)
        return E_FAIL;
    return S_OK;
}

HRESULT TScaleFilter::CompleteConnect(PIN_DIRECTION direction, IPin* pin)
{
    {
        std::lock_guard guard(m_paramsLock);
        m_params.pause = 0;
    }
    return CTransformFilter::CompleteConnect(direction, pin);
}

HRESULT TScaleFilter::Transform(IMediaSample* input, IMediaSample* output)
{
    if (input == nullptr || output == nullptr)
        return E_POINTER;
    const TScaleParams p = settings();
    if (!p.enabled)
        return copySample(input, output);

    const BITMAPINFOHEADER* in = InputPin()->CurrentMediaType().BitmapHeader();
    const BITMAPINFOHEADER* out = OutputPin()->CurrentMediaType().BitmapHeader();
    if (in == nullptr || out == nullptr)
        return VFW_E_NOT_CONNECTED;
    FrameJob job;
    job.inputSize = frameSizeOf(*in);
    job.outputSize = frameSizeOf(*out);
    job.pause = p.pause != 0;
    job.keepAspect = p.keepAspect != 0;
    job.mode = scaleModeOf(p.mode);
    const int64_t outBytes = rgb32Bytes(job.outputSize);
    if (output->GetSize() < outBytes)
        return VFW_E_BUFFER_OVERFLOW;
    if (!job.pause && input->GetActualDataLength() < rgb32Bytes(job.inputSize))
        return E_INVALIDARG; // a short sample would be read past its end
    BYTE* inData = nullptr;
    BYTE* outData = nullptr;
    if (FAILED(input->GetPointer(&inData)) || FAILED(output->GetPointer(&outData)))
        return E_POINTER;
    job.input = inData;
    job.output = outData;
    renderFrame(job);
    return stampOutput(input, output, static_cast<LONG>(outBytes));
}

HRESULT TScaleFilter::stampOutput(IMediaSample* input, IMediaSample* output, LONG length)
{
    const AM_MEDIA_TYPE type = OutputPin()->CurrentMediaType();
    output->SetMediaType(&type);
    output->SetActualDataLength(length);
    copyTimes(input, output);
    HRESULT hr = copyMark(input->IsSyncPoint(), output, &IMediaSample::SetSyncPoint);
    if (SUCCEEDED(hr))
        hr = copyMark(input->IsPreroll(), output, &IMediaSample::SetPreroll);
    if (SUCCEEDED(hr))
        hr = copyMark(input->IsDiscontinuity(), output, &IMediaSample::SetDiscontinuity);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT TScaleFilter::copySample(IMediaSample* input, IMediaSample* output)
{
    const LONG length = input->GetActualDataLength();
    if (length < 0 || length > output->GetSize())
        return VFW_E_BUFFER_OVERFLOW;
    BYTE* inData = nullptr;
    BYTE* outData = nullptr;
    if (FAILED(input->GetPointer(&inData)) || FAILED(output->GetPointer(&outData)))
        return E_POINTER;
    if (length > 0)
        std::memcpy(outData, inData, size_t(length));
    copyTimes(input, output);
    HRESULT hr = copyMark(input->IsSyncPoint(), output, &IMediaSample::SetSyncPoint);
    if (FAILED(hr))
        return hr;
    AM_MEDIA_TYPE* changed = nullptr;
    if (input->GetMediaType(&changed) == S_OK && changed != nullptr) {
        output->SetMediaType(changed);
        DeleteMediaType(changed);
    }
    hr = copyMark(input->IsPreroll(), output, &IMediaSample::SetPreroll);
    if (SUCCEEDED(hr))
        hr = copyMark(input->IsDiscontinuity(), output, &IMediaSample::SetDiscontinuity);
    if (FAILED(hr))
        return hr;
    output->SetActualDataLength(length);
    return S_OK;
}

} // namespace framescaler
