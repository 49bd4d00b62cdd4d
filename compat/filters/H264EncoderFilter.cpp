#include "H264EncoderFilter.h"

#include "VideoTypes.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace filters {

namespace {
constexpr int32_t kParamBitRate = 3001;
constexpr int32_t kParamOutputFormat = 3006;
constexpr int32_t kFourccH264 = 875967048; // "H264" read as a little-endian number
// Switches accepted for compatibility; the encoder's behaviour is fixed (see H264Encoder).
constexpr int32_t kInertParameters[] = {47, 66, 3005, 3322};
constexpr int32_t kMinKBitRate = 16;
constexpr int32_t kMaxKBitRate = 100000;

std::optional<PictureLayout> yuy2LayoutOf(const AM_MEDIA_TYPE& type)
{
    auto layout = pictureLayoutOf(type);
    // The encoder works on 4:2:0 pictures: both sides must be even.
    if (!layout || layout->format != PixelFormat::Yuy2 || layout->height % 2)
        return std::nullopt;
    return layout;
}

int framesPerSecondOf(const AM_MEDIA_TYPE& type)
{
    const REFERENCE_TIME duration = type.AvgTimePerFrame();
    return duration > 0 ? std::clamp(static_cast<int>((UNITS + duration / 2) / duration), 1, 120) : 20;
}
} // namespace

H264EncoderFilter::H264EncoderFilter() : CTransformFilter("H.264 video encoder", CLSID_H264Encoder) {}

HRESULT H264EncoderFilter::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IVideoEncoderSettings)
        return GetInterface(static_cast<IVideoEncoderSettings*>(this), object);
    return CTransformFilter::NonDelegatingQueryInterface(iid, object);
}

HRESULT H264EncoderFilter::ResetParameters()
{
    CAutoLock lock(m_csFilter);
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    kbitRate_ = kDefaultKBitRate;
    parametersReset_ = true;
    return S_OK;
}

HRESULT H264EncoderFilter::SetParameter(int32_t id, int32_t value)
{
    CAutoLock lock(m_csFilter);
    if (!parametersReset_)
        return VFW_E_WRONG_STATE; // ResetParameters comes first
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    switch (id) {
    case kParamBitRate:
        if (value < kMinKBitRate || value > kMaxKBitRate)
            return E_INVALIDARG;
        kbitRate_ = value;
        return S_OK;
    case kParamOutputFormat:
        return value == kFourccH264 ? S_OK : E_INVALIDARG;
    default:
        return std::find(std::begin(kInertParameters), std::end(kInertParameters), id) !=
                       std::end(kInertParameters)
            ? S_OK
            : E_INVALIDARG;
    }
}

HRESULT H264EncoderFilter::CheckInputType(const AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    return yuy2LayoutOf(*type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT H264EncoderFilter::GetMediaType(int position, AM_MEDIA_TYPE* type)
{
    if (const HRESULT hr = OnlyOutputTypeAt(position, type); hr != S_OK)
        return hr;
    const AM_MEDIA_TYPE& in = InputPin()->CurrentMediaType();
    const auto layout = yuy2LayoutOf(in);
    if (!layout)
        return VFW_E_TYPE_NOT_ACCEPTED;
    *type = MakeVideoType(MEDIASUBTYPE_H264, layout->width, layout->height, 24, in.AvgTimePerFrame(),
                          static_cast<uint32_t>(kFourccH264));
    type->bFixedSizeSamples = 0;
    type->bTemporalCompression = 1;
    type->lSampleSize = 0;
    if (VIDEOINFOHEADER* info = type->VideoInfo()) {
        info->dwBitRate = static_cast<uint32_t>(kbitRate_) * 1000;
        info->bmiHeader.biSizeImage = 0;
    }
    return S_OK;
}

HRESULT H264EncoderFilter::CheckTransform(const AM_MEDIA_TYPE* input, const AM_MEDIA_TYPE* output)
{
    if (!input || !output)
        return E_POINTER;
    const auto in = yuy2LayoutOf(*input);
    const BITMAPINFOHEADER* out = output->BitmapHeader();
    if (!in || output->majortype != MEDIATYPE_Video || output->subtype != MEDIASUBTYPE_H264 || !out ||
        out->biWidth != in->width || std::abs(out->biHeight) != in->height)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT H264EncoderFilter::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    const auto in = yuy2LayoutOf(InputPin()->CurrentMediaType());
    if (!in)
        return VFW_E_NOT_CONNECTED;
    // An access unit never comes near the size of the raw picture it codes.
    return RequestAtLeast(allocator, request, 1, in->size());
}

HRESULT H264EncoderFilter::StartStreaming()
{
    const AM_MEDIA_TYPE& in = InputPin()->CurrentMediaType();
    const auto layout = yuy2LayoutOf(in);
    if (!layout)
        return VFW_E_NOT_CONNECTED;
    try {
        encoder_ = std::make_unique<H264Encoder>(
            H264Settings{layout->width, layout->height, framesPerSecondOf(in), kbitRate_});
    } catch (const std::exception&) {
        return E_FAIL;
    }
    return S_OK;
}

HRESULT H264EncoderFilter::StopStreaming()
{
    encoder_.reset();
    return S_OK;
}

HRESULT H264EncoderFilter::Transform(IMediaSample* input, IMediaSample* output)
{
    const auto in = yuy2LayoutOf(InputPin()->CurrentMediaType());
    if (!in || !encoder_)
        return VFW_E_WRONG_STATE;
    if (input->GetActualDataLength() < in->size())
        return S_FALSE; // a short picture is dropped, not read past its end
    BYTE* src = nullptr;
    BYTE* dst = nullptr;
    input->GetPointer(&src);
    output->GetPointer(&dst);
    const H264Encoder::Packet packet = encoder_->encode(src, in->stride());
    if (packet.bytes.empty())
        return E_FAIL;
    if (static_cast<LONG>(packet.bytes.size()) > output->GetSize())
        return VFW_E_BUFFER_OVERFLOW;
    std::memcpy(dst, packet.bytes.data(), packet.bytes.size());
    output->SetActualDataLength(static_cast<LONG>(packet.bytes.size()));
    output->SetSyncPoint(packet.key ? 1 : 0);
    return S_OK;
}

} // namespace filters
